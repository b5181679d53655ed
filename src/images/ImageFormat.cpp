#include "images/ImageFormat.h"

#include "images/raw/FileReadSeekRaw.h"
#include "images/vdi/FileReadSeekVdi.h"
#include "images/vdi/VdiHeader.h"
#include "images/vhd/FileReadSeekVHD.h"
#include "images/vhdx/FileReadSeekVHDX.h"
#include "images/vmdk/FileReadSeekVmdk.h"
#include "images/vmdk/VmdkStructures.h"
#include "platform/ImageFile.h"
#include "util/ByteReader.h"

#include <array>

namespace qis {

std::string_view formatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Vhdx: return "VHDX";
    case ImageFormat::Vhd: return "VHD";
    case ImageFormat::Vdi: return "VDI";
    case ImageFormat::Vmdk: return "VMDK";
    case ImageFormat::Raw: return "RAW";
    }
    return "RAW";
}

ImageFormat detectImageFormat(const std::filesystem::path& path)
{
    ImageFile file;
    if (!file.open(path))
        return ImageFormat::Raw;
    std::array<std::uint8_t, 512> head{};
    ByteReader r{std::span<const std::uint8_t>(head).first(file.readAt(0, head))};
    if (r.matches(0, "vhdxfile"))
        return ImageFormat::Vhdx;
    if (r.matches(0, "conectix"))
        return ImageFormat::Vhd;
    if (r.u32le(0) == vmdk::kMagic)
        return ImageFormat::Vmdk;
    if (r.u32le(0x40) == vdi::kSignature)
        return ImageFormat::Vdi;
    if (file.size() >= 512) {
        std::array<std::uint8_t, 512> tail{};
        ByteReader t{std::span<const std::uint8_t>(tail).first(file.readAt(file.size() - 512, tail))};
        if (t.matches(0, "conectix"))
            return ImageFormat::Vhd; // fixed VHD: the footer is at the end only
    }
    // A VHDX whose identifier is damaged still has its region table signature.
    std::array<std::uint8_t, 4> regi{};
    if (file.readAt(192 * 1024, regi) == 4 && ByteReader(regi).matches(0, "regi"))
        return ImageFormat::Vhdx;
    return ImageFormat::Raw;
}

std::unique_ptr<readWriteInterface> createReader(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Vhdx: return std::make_unique<FileReadSeekVHDX>();
    case ImageFormat::Vhd: return std::make_unique<FileReadSeekVHD>();
    case ImageFormat::Vdi: return std::make_unique<FileReadSeekVdi>();
    case ImageFormat::Vmdk: return std::make_unique<FileReadSeekVmdk>();
    case ImageFormat::Raw: return std::make_unique<FileReadSeekRaw>();
    }
    return nullptr;
}

} // namespace qis
