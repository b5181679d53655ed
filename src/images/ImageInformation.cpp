#include "images/ImageInformation.h"

#include "images/vdi/VdiHeader.h"
#include "images/vhd/VhdLayout.h"
#include "images/vhdx/VhdxLayout.h"
#include "images/vmdk/VmdkLayout.h"
#include "platform/ImageFile.h"

#include <array>

namespace qis {
namespace {

constexpr char kNotAvailable[] = "N/A";

std::string megabytes(std::uint64_t bytes) { return std::to_string(bytes / 1048576) + " MB"; }

} // namespace

ImageInformation vhdxInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    info.format = ImageFormat::Vhdx;
    if (!pathEndsWith(path, "vhdx")) {
        info.messages.emplace_back("Please select valid vhdx file to continue the recovery process.");
        return info;
    }
    ImageFile file;
    if (!file.open(path)) {
        info.messages.emplace_back("invalid handle ...");
        return info;
    }
    info.imageLength = file.size();
    auto parsed = vhdx::readVhdxLayout(file);
    if (!parsed) {
        info.messages.push_back(parsed.message());
        return info;
    }
    const auto& layout = parsed.value();
    info.fileFormatVersion = std::to_string(layout.version);
    info.diskSectorCount = layout.virtualDiskSize / 512;
    info.sectorPerTrack = info.head = info.cylinder = kNotAvailable;
    info.sizeOfHdd = megabytes(layout.virtualDiskSize);
    info.blockSize = layout.blockSize;
    info.differencing = layout.hasParent();
    if (info.differencing)
        info.messages.emplace_back("This is a differencing VHDX.");
    info.ok = true;
    return info;
}

ImageInformation vhdInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    info.format = ImageFormat::Vhd;
    ImageFile file;
    if (!file.open(path)) {
        info.messages.emplace_back("Invalid handle ...");
        return info;
    }
    info.imageLength = file.size();
    auto parsed = vhd::readVhdLayout(file);
    if (!parsed) {
        info.messages.push_back(parsed.message());
        return info;
    }
    const vhd::VhdLayout& layout = parsed.value();
    const auto& f = layout.footer;
    info.fileFormatVersion = std::to_string(f.version);
    info.sectorPerTrack = std::to_string(f.sectorsPerTrack);
    info.head = std::to_string(f.heads);
    info.cylinder = std::to_string(f.cylinders);
    info.sizeOfHdd = megabytes(f.currentSize);
    info.diskSectorCount = f.currentSize / 512;
    info.blockSize = layout.fixed ? 0 : layout.blockSize;
    info.differencing = f.diskType == vhd::kDiskTypeDifferencing;
    if (info.differencing)
        info.messages.emplace_back("This is a differencing VHD.");
    info.ok = true;
    return info;
}

ImageInformation vdiInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    info.format = ImageFormat::Vdi;
    if (path.native().size() > 3 && !pathEndsWith(path, "vdi")) {
        info.messages.emplace_back("not a vdi file");
        return info;
    }
    ImageFile file;
    if (!file.open(path)) {
        info.messages.emplace_back("Invalid handle ...");
        return info;
    }
    info.imageLength = file.size();
    std::array<std::uint8_t, vdi::kHeaderSize> bytes{};
    auto h = vdi::VdiHeader::parse(std::span(bytes).first(file.readAt(0, bytes)));
    info.fileFormatVersion = std::to_string(h.version);
    info.sectorPerTrack = std::to_string(h.sectorsPerTrack);
    info.head = std::to_string(h.heads);
    info.cylinder = std::to_string(h.cylinders);
    info.sizeOfHdd = megabytes(h.cbDisk);
    info.diskSectorCount = h.cbDisk / 512;
    info.blockSize = h.cbBlock;
    info.ok = true;
    return info;
}

ImageInformation vmdkInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    info.format = ImageFormat::Vmdk;
    ImageFile file;
    if (!file.open(path))
        return info;
    info.imageLength = file.size();
    vmdk::SparseExtentHeader header;
    auto descriptor = vmdk::readVmdkDescriptor(file, header);
    if (!descriptor)
        return info;
    std::uint64_t sectors = descriptor->extentSectors();
    info.fileFormatVersion = descriptor->version;
    info.sectorPerTrack = descriptor->sectors;
    info.head = descriptor->heads;
    info.cylinder = descriptor->cylinders;
    info.sizeOfHdd = megabytes(sectors * 512);
    info.diskSectorCount = sectors;
    info.blockSize = header.grainSize * 512;
    info.differencing = !descriptor->parentCid.empty() && descriptor->parentCid != "ffffffff";
    info.ok = true;
    return info;
}

ImageInformation rawInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    info.format = ImageFormat::Raw;
    ImageFile file;
    if (!file.open(path)) {
        info.messages.emplace_back("Invalid handle ...");
        return info;
    }
    info.imageLength = file.size();
    info.fileFormatVersion = info.sectorPerTrack = info.head = info.cylinder = kNotAvailable;
    info.sizeOfHdd = megabytes(file.size());
    info.diskSectorCount = (file.size() + 511) / 512;
    info.ok = true;
    return info;
}

ImageInformation readImageInformation(const std::filesystem::path& path, ImageFormat format)
{
    switch (format) {
    case ImageFormat::Vhdx: return vhdxInformation(path);
    case ImageFormat::Vhd: return vhdInformation(path);
    case ImageFormat::Vdi: return vdiInformation(path);
    case ImageFormat::Vmdk: return vmdkInformation(path);
    case ImageFormat::Raw: return rawInformation(path);
    }
    return {};
}

} // namespace qis
