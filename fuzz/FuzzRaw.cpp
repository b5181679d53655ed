#include "FuzzImage.h"
#include "images/FileReadSeekRaw.h"
#include "images/ImageInformation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(".img");
    qis::fuzz::setImage(path, data, size);
    (void)qis::rawInformation(path);
    qis::fuzz::exerciseReader<qis::FileReadSeekRaw>(path, data, size);
    return 0;
}
