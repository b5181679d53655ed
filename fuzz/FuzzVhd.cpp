#include "FuzzImage.h"
#include "images/FileReadSeekVHD.h"
#include "images/ImageInformation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(".vhd");
    qis::fuzz::setImage(path, data, size);
    (void)qis::vhdInformation(path);
    qis::fuzz::exerciseReader<qis::FileReadSeekVHD>(path, data, size);
    return 0;
}
