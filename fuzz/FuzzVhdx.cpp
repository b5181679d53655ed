#include "FuzzImage.h"
#include "images/FileReadSeekVHDX.h"
#include "images/ImageInformation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(".vhdx");
    qis::fuzz::setImage(path, data, size);
    (void)qis::vhdxInformation(path);
    qis::fuzz::exerciseReader<qis::FileReadSeekVHDX>(path, data, size);
    return 0;
}
