#include "images/vdi/VdiHeader.h"

#include "util/ByteReader.h"

namespace qis::vdi {

VdiHeader VdiHeader::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    VdiHeader h;
    h.signature = r.u32le(0x040);
    h.version = r.u32le(0x044);
    h.headerSize = r.u32le(0x048);
    h.offBlocks = r.u32le(0x154);
    h.offData = r.u32le(0x158);
    h.cylinders = r.u32le(0x15C);
    h.heads = r.u32le(0x160);
    h.sectorsPerTrack = r.u32le(0x164);
    h.cbDisk = r.u64le(0x170);
    h.cbBlock = r.u32le(0x178);
    h.cBlocks = r.u32le(0x180);
    h.cBlocksAllocated = r.u32le(0x184);
    return h;
}

} // namespace qis::vdi
