#include "volumes/PartitionTable.h"

#include "util/ByteReader.h"

#include <algorithm>

namespace qis {

MbrTable MbrTable::parse(std::span<const std::uint8_t> sector)
{
    ByteReader r(sector);
    MbrTable t;
    t.signatureOk = r.u8(0x1FE) == 0x55 && r.u8(0x1FF) == 0xAA;
    for (int k = 0; k < 4; ++k) {
        std::size_t at = 446 + 16 * static_cast<std::size_t>(k);
        t.entries[k].partitionType = r.u8(at + 0x04);
        t.entries[k].startingLba = r.u32le(at + 0x08);
        t.entries[k].sectorCount = r.u32le(at + 0x0C);
    }
    return t;
}

bool MbrTable::protectsGpt() const
{
    if (!signatureOk)
        return false;
    for (const MbrEntry& e : entries)
        if (e.partitionType == 0xEE)
            return true;
    return false;
}

GptHeader GptHeader::parse(std::span<const std::uint8_t> sector)
{
    ByteReader r(sector);
    GptHeader h;
    h.signatureOk = r.matches(0x00, "EFI PART");
    h.headerSize = r.u32le(0x0C);
    h.alternateLba = r.u64le(0x20);
    h.partitionEntryLba = r.u64le(0x48);
    h.entryCount = r.u32le(0x50);
    h.entrySize = r.u32le(0x54);
    return h;
}

bool GptEntry::unused() const
{
    return std::all_of(partitionTypeGuid.begin(), partitionTypeGuid.end(), [](std::uint8_t b) { return b == 0; });
}

GptEntry GptEntry::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    GptEntry e;
    auto guid = r.bytes(0x00, 16);
    std::copy(guid.begin(), guid.end(), e.partitionTypeGuid.begin());
    e.startingLba = r.u64le(0x20);
    e.endingLba = r.u64le(0x28);
    for (std::size_t i = 0; i < 36; ++i) {
        char16_t c = static_cast<char16_t>(r.u16le(0x38 + 2 * i));
        if (c == 0)
            break;
        e.partitionName.push_back(c);
    }
    return e;
}

} // namespace qis
