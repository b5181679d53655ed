#include "FuzzImage.h"
#include "images/FileReadSeekVdi.h"
#include "images/ImageInformation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(".vdi");
    qis::fuzz::setImage(path, data, size);
    (void)qis::vdiInformation(path);
    qis::fuzz::exerciseReader<qis::FileReadSeekVdi>(path, data, size);
    return 0;
}
