#include "images/vhdx/VhdxStructures.h"

#include "util/ByteReader.h"
#include "util/Crc32c.h"

#include <algorithm>
#include <array>

namespace qis::vhdx {
namespace {

// CRC-32C over the structure with its Checksum field (at 4) taken as zero.
bool checksumMatches(std::span<const std::uint8_t> bytes, std::uint32_t stored)
{
    if (bytes.size() < 8)
        return false;
    std::array<std::uint8_t, 4> zero{};
    std::uint32_t c = crc32c(bytes.first(4));
    c = crc32c(zero, c);
    c = crc32c(bytes.subspan(8), c);
    return c == stored;
}

Guid guidAt(ByteReader& r, std::size_t offset)
{
    Guid g{};
    auto b = r.bytes(offset, 16);
    std::copy(b.begin(), b.end(), g.begin());
    return g;
}

} // namespace

Header Header::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    Header h;
    h.signatureOk = r.matches(0x00, "head");
    h.checksumOk = bytes.size() >= kHeaderSize && checksumMatches(bytes.first(kHeaderSize), r.u32le(0x04));
    h.sequenceNumber = r.u64le(0x08);
    h.logGuid = guidAt(r, 0x30);
    h.logVersion = r.u16le(0x40);
    h.version = r.u16le(0x42);
    h.logLength = r.u32le(0x44);
    h.logOffset = r.u64le(0x48);
    return h;
}

RegionTable RegionTable::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    RegionTable t;
    t.signatureOk = r.matches(0x00, "regi");
    t.checksumOk = bytes.size() >= kRegionTableSize && checksumMatches(bytes.first(kRegionTableSize), r.u32le(0x04));
    t.entryCount = r.u32le(0x08);
    std::uint32_t count = std::min(t.entryCount, kMaxTableEntries);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t at = 16 + std::size_t{32} * i;
        if (!r.has(at, 32))
            break;
        RegionEntry e;
        e.guid = guidAt(r, at + 0x00);
        e.fileOffset = r.u64le(at + 0x10);
        e.length = r.u32le(at + 0x18);
        e.required = r.u32le(at + 0x1C);
        t.entries.push_back(e);
    }
    return t;
}

MetadataTable MetadataTable::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    MetadataTable t;
    t.entryCount = r.u16le(0x0A);
    std::uint32_t count = std::min<std::uint32_t>(t.entryCount, kMaxTableEntries);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::size_t at = 32 + std::size_t{32} * i;
        if (!r.has(at, 32))
            break;
        MetadataEntry e;
        e.itemId = guidAt(r, at + 0x00);
        e.offset = r.u32le(at + 0x10);
        e.length = r.u32le(at + 0x14);
        t.entries.push_back(e);
    }
    return t;
}

std::optional<std::size_t> findByGuid(const std::vector<Guid>& guids, const Guid& guid, std::size_t position,
                                      std::span<const Guid> known)
{
    for (std::size_t i = 0; i < guids.size(); ++i)
        if (guids[i] == guid)
            return i;
    if (position >= guids.size())
        return std::nullopt;
    for (const Guid& other : known)
        if (other != guid && guids[position] == other)
            return std::nullopt;
    return position;
}

} // namespace qis::vhdx
