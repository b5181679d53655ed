// One fuzz target per reader, built from this file with the reader's class,
// its information display and the extension its open tests for.

#include "FuzzImage.h"
#include "images/ImageInformation.h"
#include "images/raw/FileReadSeekRaw.h"
#include "images/vdi/FileReadSeekVdi.h"
#include "images/vhd/FileReadSeekVHD.h"
#include "images/vhdx/FileReadSeekVHDX.h"
#include "images/vmdk/FileReadSeekVmdk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(QIS_FUZZ_EXTENSION);
    qis::fuzz::setImage(path, data, size);
    (void)qis::QIS_FUZZ_INFORMATION(path);
    qis::fuzz::exerciseReader<qis::QIS_FUZZ_READER>(path, data, size);
    return 0;
}
