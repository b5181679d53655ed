#include "filesystems/exfat/ExfatStructures.h"

#include "util/ByteReader.h"

namespace qis::exfatdisk {

bool ExfatBootSector::hasName(std::span<const std::uint8_t> sector)
{
    ByteReader r(sector);
    return r.matches(3, "EXFAT");
}

std::optional<ExfatBootSector> ExfatBootSector::parse(std::span<const std::uint8_t> sector)
{
    if (!hasName(sector))
        return std::nullopt;
    ByteReader r(sector);
    ExfatBootSector b;
    b.volumeLength = r.u64le(72);
    b.fatOffset = r.u32le(80);
    b.fatLength = r.u32le(84);
    b.heapOffset = r.u32le(88);
    b.clusterCount = r.u32le(92);
    b.rootCluster = r.u32le(96);
    b.bytesPerSectorShift = r.u8(108);
    b.sectorsPerClusterShift = r.u8(109);
    if (!r.ok() || b.bytesPerSectorShift < 9 || b.bytesPerSectorShift > 12 ||
        b.sectorsPerClusterShift > 25 - b.bytesPerSectorShift)
        return std::nullopt;
    if (b.fatOffset == 0 || b.fatLength == 0 || b.heapOffset == 0)
        return std::nullopt;
    std::uint64_t fatEnd = std::uint64_t{b.fatOffset} + b.fatLength;
    if (b.volumeLength != 0 && (fatEnd > b.volumeLength || b.heapOffset >= b.volumeLength))
        return std::nullopt;
    return b;
}

std::optional<EntrySet> EntrySet::parse(std::span<const std::uint8_t> directory, std::size_t at)
{
    ByteReader r(directory);
    if (!r.has(at, 2 * kSlotSize))
        return std::nullopt;
    EntrySet s;
    s.entryType = r.u8(at);
    if ((s.entryType & 0x7F) != (kFileEntry & 0x7F))
        return std::nullopt;
    const std::uint8_t inUse = s.entryType & kInUse;
    std::size_t stream = at + kSlotSize;
    if (r.u8(stream) != ((kStreamEntry & 0x7F) | inUse))
        return std::nullopt;
    s.secondaryCount = r.u8(at + 1);
    s.attributes = r.u16le(at + 4);
    s.createTimestamp = r.u32le(at + 8);
    s.modifyTimestamp = r.u32le(at + 12);
    s.accessTimestamp = r.u32le(at + 16);
    s.create10ms = r.u8(at + 20);
    s.modify10ms = r.u8(at + 21);
    s.createUtcOffset = r.u8(at + 22);
    s.modifyUtcOffset = r.u8(at + 23);
    s.accessUtcOffset = r.u8(at + 24);
    s.streamType = r.u8(stream);
    s.streamFlags = r.u8(stream + 1);
    s.nameLength = r.u8(stream + 3);
    s.validDataLength = r.u64le(stream + 8);
    s.firstCluster = r.u32le(stream + 20);
    s.dataLength = r.u64le(stream + 24);

    // The name entries follow the stream; a live set says how many it has.
    std::size_t wanted = kMaxNameEntries;
    if (s.nameLength != 0)
        wanted = (s.nameLength + kNameCharsPerEntry - 1) / kNameCharsPerEntry;
    if (s.secondaryCount >= 2)
        wanted = std::min<std::size_t>(wanted, s.secondaryCount - 1u);
    std::size_t next = stream + kSlotSize;
    std::size_t taken = 0;
    bool ended = false;
    while (taken < wanted && r.has(next, kSlotSize) && r.u8(next) == ((kNameEntry & 0x7F) | inUse)) {
        for (std::size_t i = 0; i < kNameCharsPerEntry && !ended; ++i) {
            char16_t c = r.u16le(next + 2 + 2 * i);
            if (c == 0)
                ended = true;
            else
                s.name.push_back(c);
        }
        next += kSlotSize;
        ++taken;
    }
    if (s.nameLength != 0 && s.name.size() > s.nameLength)
        s.name.resize(s.nameLength);
    s.slots = 2 + taken;
    return s;
}

} // namespace qis::exfatdisk
