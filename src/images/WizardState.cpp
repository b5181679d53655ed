#include "images/WizardState.h"

namespace qis {

bool WizardState::openFreshReader(std::string* message)
{
    currentReader = createReader(imageFormat);
    if (!currentReader->open(imagePath)) {
        if (message)
            *message = currentReader->lastMessage();
        currentReader.reset();
        return false;
    }
    diskSectorCount = currentReader->diskSectorCount;
    return true;
}

void WizardState::closeReader()
{
    currentReader.reset();
    diskSectorCount = 0;
}

} // namespace qis
