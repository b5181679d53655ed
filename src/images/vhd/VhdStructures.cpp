#include "images/vhd/VhdStructures.h"

#include "util/ByteReader.h"

#include <algorithm>

namespace qis::vhd {
namespace {

void copyBytes(ByteReader& r, std::size_t at, std::array<std::uint8_t, 16>& out)
{
    auto bytes = r.bytes(at, out.size());
    std::copy(bytes.begin(), bytes.end(), out.begin());
}

} // namespace

Footer Footer::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    Footer f;
    f.cookieOk = r.matches(0x00, "conectix");
    f.version = r.u32be(0x0C);
    f.dataOffset = r.u64be(0x10);
    f.currentSize = r.u64be(0x30);
    f.cylinders = r.u16be(0x38);
    f.heads = r.u8(0x3A);
    f.sectorsPerTrack = r.u8(0x3B);
    f.diskType = r.u32be(0x3C);
    copyBytes(r, 0x44, f.uniqueId);
    return f;
}

DynamicHeader DynamicHeader::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    DynamicHeader h;
    h.cookieOk = r.matches(0x00, "cxsparse");
    h.tableOffset = r.u64be(0x10);
    h.maxTableEntries = r.u32be(0x1C);
    h.blockSize = r.u32be(0x20);
    copyBytes(r, 0x28, h.parentUniqueId);
    for (std::size_t i = 0; i < 256; ++i) {
        auto unit = static_cast<char16_t>(r.u16be(0x40 + 2 * i));
        if (unit == 0)
            break;
        h.parentName.push_back(unit);
    }
    for (std::size_t i = 0; i < kParentLocatorCount; ++i) {
        const std::size_t at = 0x240 + 24 * i;
        h.locators[i] = {r.u32be(at), r.u32be(at + 4), r.u32be(at + 8), r.u64be(at + 0x10)};
    }
    return h;
}

} // namespace qis::vhd
