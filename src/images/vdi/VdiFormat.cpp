#include "images/vdi/VdiFormat.h"

#include "images/vdi/FileReadSeekVdi.h"
#include "images/vdi/VdiHeader.h"
#include "util/ByteReader.h"

#include <array>

namespace qis {

ImageInformation vdiInformation(const std::filesystem::path& path)
{
    ImageInformation info;
    info.format = ImageFormat::Vdi;
    if (path.native().size() > 3 && !pathEndsWith(path, "vdi") && detectImageFormat(path) != ImageFormat::Vdi) {
        info.messages.emplace_back("not a vdi file");
        return info;
    }
    ImageFile file;
    if (!openForInformation(path, ImageFormat::Vdi, info, file, "Invalid handle ..."))
        return info;
    std::array<std::uint8_t, vdi::kHeaderSize> bytes{};
    auto h = vdi::VdiHeader::parse(std::span(bytes).first(file.readAt(0, bytes)));
    info.fileFormatVersion = std::to_string(h.version);
    info.sectorPerTrack = std::to_string(h.sectorsPerTrack);
    info.head = std::to_string(h.heads);
    info.cylinder = std::to_string(h.cylinders);
    info.sizeOfHdd = megabytesText(h.cbDisk);
    info.diskSectorCount = h.cbDisk / 512;
    info.blockSize = h.cbBlock;
    info.differencing = h.differencing();
    if (info.differencing)
        info.messages.push_back("This is a differencing VDI; its parent is the image " + vdi::uuidText(h.uuidLinkage) +
                                ".");
    info.ok = true;
    return info;
}

namespace vdi {
namespace {

constexpr std::string_view kExtensions[] = {"vdi"};

// The signature follows the 64-byte text banner, still in the first sector.
ProbeStrength probe(const ProbeInput& input)
{
    return ByteReader(input.head).u32le(0x40) == kSignature ? ProbeStrength::Header : ProbeStrength::None;
}

} // namespace

ImageFormatEntry imageFormatEntry()
{
    return {ImageFormat::Vdi, "VDI", kExtensions, probe, newReaderOf<FileReadSeekVdi>, vdiInformation};
}

} // namespace vdi
} // namespace qis
