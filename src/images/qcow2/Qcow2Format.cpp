#include "images/qcow2/Qcow2Format.h"

#include "images/qcow2/FileReadSeekQcow2.h"
#include "images/qcow2/Qcow2Layout.h"
#include "util/ByteReader.h"

namespace qis {

ImageInformation qcow2Information(const std::filesystem::path& path)
{
    ImageInformation info;
    ImageFile file;
    if (!openForInformation(path, ImageFormat::Qcow2, info, file, "Invalid handle ..."))
        return info;
    auto layout = qcow2::readQcow2Layout(file);
    if (!layout) {
        info.messages.push_back(layout.message());
        return info;
    }
    const qcow2::Qcow2Layout& l = layout.value();
    info.fileFormatVersion = std::to_string(l.header.version);
    info.sectorPerTrack = info.head = info.cylinder = kNotAvailable;
    info.sizeOfHdd = megabytesText(l.diskBytes);
    info.diskSectorCount = l.diskBytes / 512;
    info.blockSize = l.clusterSize;
    info.differencing = !l.backingName.empty();
    info.unreadableBytes = l.unreadableBytes;
    info.damage = l.damage;
    info.ok = true;
    return info;
}

namespace qcow2 {
namespace {

constexpr std::string_view kExtensions[] = {"qcow2", "qcow"};

// The magic opens the header, in the first bytes of the file.
ProbeStrength probe(const ProbeInput& input)
{
    return ByteReader(input.head).u32be(0) == kMagic ? ProbeStrength::Header : ProbeStrength::None;
}

} // namespace

ImageFormatEntry imageFormatEntry()
{
    return {ImageFormat::Qcow2, "QCOW2", kExtensions, probe, newReaderOf<FileReadSeekQcow2>, qcow2Information};
}

} // namespace qcow2
} // namespace qis
