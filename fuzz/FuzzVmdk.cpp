#include "FuzzImage.h"
#include "images/FileReadSeekVmdk.h"
#include "images/ImageInformation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(".vmdk");
    qis::fuzz::setImage(path, data, size);
    (void)qis::vmdkInformation(path);
    qis::fuzz::exerciseReader<qis::FileReadSeekVmdk>(path, data, size);
    return 0;
}
