#include "images/WizardState.h"

namespace qis {

std::unique_ptr<readWriteInterface> WizardState::newReader() const
{
    auto reader = createReader(imageFormat);
    reader->parentPaths = parentPaths;
    return reader;
}

bool WizardState::openFreshReader(std::string* message)
{
    currentReader = newReader();
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
