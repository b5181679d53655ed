#include "images/vhd/VhdStructures.h"

#include "util/ByteReader.h"

namespace qis::vhd {

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
    return h;
}

} // namespace qis::vhd
