// One fuzz target per reader, built from this file with the reader's class,
// its information display and the extension its open tests for.

#include "FuzzImage.h"
#include "images/qcow2/FileReadSeekQcow2.h"
#include "images/qcow2/Qcow2Format.h"
#include "images/raw/FileReadSeekRaw.h"
#include "images/raw/RawFormat.h"
#include "images/vdi/FileReadSeekVdi.h"
#include "images/vdi/VdiFormat.h"
#include "images/vhd/FileReadSeekVHD.h"
#include "images/vhd/VhdFormat.h"
#include "images/vhdx/FileReadSeekVHDX.h"
#include "images/vhdx/VhdxFormat.h"
#include "images/vmdk/FileReadSeekVmdk.h"
#include "images/vmdk/VmdkFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(QIS_FUZZ_EXTENSION);
    qis::fuzz::setImage(path, data, size);
    (void)qis::QIS_FUZZ_INFORMATION(path);
    qis::fuzz::exerciseReader<qis::QIS_FUZZ_READER>(path, data, size);
    return 0;
}
