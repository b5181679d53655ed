#include "images/vmdk/VmdkFormat.h"

#include "images/vmdk/FileReadSeekVmdk.h"
#include "images/vmdk/VmdkDisk.h"
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
    if (!descriptor) {
        // A descriptor file: its extents are read when the image is opened.
        if (auto text = vmdk::readDescriptorFile(file))
            descriptor = vmdk::parseDescriptor(*text);
        else
            return info;
    }
    std::uint64_t sectors = descriptor->extentSectors();
    info.fileFormatVersion = descriptor->version;
    info.sectorPerTrack = descriptor->sectors;
    info.head = descriptor->heads;
    info.cylinder = descriptor->cylinders;
    info.sizeOfHdd = megabytesText(sectors * 512);
    info.diskSectorCount = sectors;
    info.blockSize = header.magicNumber == vmdk::kMagic ? header.grainSize * 512 : 0;
    info.differencing = !descriptor->parentFileNameHint.empty() ||
                        (!descriptor->parentCid.empty() && descriptor->parentCid != "ffffffff");
    info.ok = true;
    return info;
}

namespace vmdk {
namespace {

constexpr std::string_view kExtensions[] = {"vmdk"};

ProbeStrength probe(const ProbeInput& input)
{
    std::string_view text(reinterpret_cast<const char*>(input.head.data()), input.head.size());
    return ByteReader(input.head).u32le(0) == kMagic || looksLikeDescriptorFile(text) ? ProbeStrength::Header
                                                                                       : ProbeStrength::None;
}

} // namespace

ImageFormatEntry imageFormatEntry()
{
    return {ImageFormat::Vmdk, "VMDK", kExtensions, probe, newReaderOf<FileReadSeekVmdk>, vmdkInformation};
}

} // namespace vmdk
} // namespace qis
