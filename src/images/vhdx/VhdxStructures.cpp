#include "images/vhdx/VhdxStructures.h"

#include "util/ByteReader.h"
#include "util/Crc32c.h"
#include "util/Utf.h"

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
    h.dataWriteGuid = guidAt(r, 0x20);
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

ParentLocator ParentLocator::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    ParentLocator locator;
    locator.locatorType = guidAt(r, 0x00);
    // Each entry takes 12 bytes after the 20-byte header, so the item's size
    // bounds the count whatever the stored count says.
    const std::size_t count = std::min<std::size_t>(r.u16le(0x12), bytes.size() >= 20 ? (bytes.size() - 20) / 12 : 0);
    auto text = [&](std::uint32_t offset, std::uint16_t length, std::string& out) {
        if (length % 2 != 0 || !r.has(offset, length))
            return false;
        std::u16string units(length / 2, u'\0');
        for (std::size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<char16_t>(r.u16le(offset + 2 * i));
        out = utf16ToUtf8(units);
        return true;
    };
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 20 + 12 * i;
        std::string key, value;
        if (!text(r.u32le(at), r.u16le(at + 8), key) || !text(r.u32le(at + 4), r.u16le(at + 10), value)) {
            ++locator.damagedEntries;
            continue;
        }
        if (key == "parent_linkage")
            locator.parentLinkage = std::move(value);
        else if (key == "parent_linkage2")
            locator.parentLinkage2 = std::move(value);
        else if (key == "relative_path")
            locator.relativePath = std::move(value);
        else if (key == "volume_path")
            locator.volumePath = std::move(value);
        else if (key == "absolute_win32_path")
            locator.absoluteWin32Path = std::move(value);
    }
    return locator;
}

std::optional<Guid> parseGuidText(std::string_view text)
{
    if (text.size() == 38 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, 36);
    if (text.size() != 36)
        return std::nullopt;
    std::uint64_t fields[5] = {};
    constexpr std::size_t kStarts[5] = {0, 9, 14, 19, 24};
    constexpr std::size_t kLengths[5] = {8, 4, 4, 4, 12};
    for (int f = 0; f < 5; ++f) {
        if (f > 0 && text[kStarts[f] - 1] != '-')
            return std::nullopt;
        for (std::size_t i = 0; i < kLengths[f]; ++i) {
            const char c = text[kStarts[f] + i];
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0)
                return std::nullopt;
            fields[f] = fields[f] << 4 | static_cast<std::uint64_t>(digit);
        }
    }
    return makeGuid(static_cast<std::uint32_t>(fields[0]), static_cast<std::uint16_t>(fields[1]),
                    static_cast<std::uint16_t>(fields[2]), static_cast<std::uint16_t>(fields[3]), fields[4]);
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
