#include "images/vmdk/VmdkFormat.h"

#include "images/vmdk/FileReadSeekVmdk.h"
#include "images/vmdk/VmdkLayout.h"
#include "util/ByteReader.h"

namespace qis {

ImageInformation vmdkInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    ImageFile file;
    if (!openForInformation(path, ImageFormat::Vmdk, info, file, nullptr))
        return info;
    vmdk::SparseExtentHeader header;
    auto descriptor = vmdk::readVmdkDescriptor(file, header);
    if (!descriptor)
        return info;
    std::uint64_t sectors = descriptor->extentSectors();
    info.fileFormatVersion = descriptor->version;
    info.sectorPerTrack = descriptor->sectors;
    info.head = descriptor->heads;
    info.cylinder = descriptor->cylinders;
    info.sizeOfHdd = megabytesText(sectors * 512);
    info.diskSectorCount = sectors;
    info.blockSize = header.grainSize * 512;
    info.differencing = !descriptor->parentCid.empty() && descriptor->parentCid != "ffffffff";
    info.ok = true;
    return info;
}

namespace vmdk {
namespace {

constexpr std::string_view kExtensions[] = {"vmdk"};

ProbeStrength probe(const ProbeInput& input)
{
    return ByteReader(input.head).u32le(0) == kMagic ? ProbeStrength::Header : ProbeStrength::None;
}

} // namespace

ImageFormatEntry imageFormatEntry()
{
    return {ImageFormat::Vmdk, "VMDK", kExtensions, probe, newReaderOf<FileReadSeekVmdk>, vmdkInformation};
}

} // namespace vmdk
} // namespace qis
