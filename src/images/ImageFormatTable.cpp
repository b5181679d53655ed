// The opener table: one row per image format, each from the format's folder.
// A new format is a folder, an ImageFormat value and a row here.

#include "images/ImageFormat.h"
#include "images/qcow2/Qcow2Format.h"
#include "images/raw/RawFormat.h"
#include "images/vdi/VdiFormat.h"
#include "images/vhd/VhdFormat.h"
#include "images/vhdx/VhdxFormat.h"
#include "images/vmdk/VmdkFormat.h"

namespace qis {

std::span<const ImageFormatEntry> imageFormatTable()
{
    // VMDK before VDI: a file that carries both of their header signatures
    // and whose name says neither is read as VMDK, as it always was.
    static const ImageFormatEntry table[] = {
        vhdx::imageFormatEntry(),
        vhd::imageFormatEntry(),
        vmdk::imageFormatEntry(),
        vdi::imageFormatEntry(),
        qcow2::imageFormatEntry(),
        raw::imageFormatEntry(),
    };
    return table;
}

} // namespace qis
