#include "images/vdi/VdiHeader.h"

#include "util/ByteReader.h"

#include <algorithm>
#include <cstdio>

namespace qis::vdi {

VdiHeader VdiHeader::parse(std::span<const std::uint8_t> bytes)
{
    ByteReader r(bytes);
    VdiHeader h;
    h.signature = r.u32le(0x040);
    h.version = r.u32le(0x044);
    h.headerSize = r.u32le(0x048);
    h.imageType = r.u32le(0x04C);
    h.offBlocks = r.u32le(0x154);
    h.offData = r.u32le(0x158);
    h.cylinders = r.u32le(0x15C);
    h.heads = r.u32le(0x160);
    h.sectorsPerTrack = r.u32le(0x164);
    h.cbDisk = r.u64le(0x170);
    h.cbBlock = r.u32le(0x178);
    h.cBlocks = r.u32le(0x180);
    h.cBlocksAllocated = r.u32le(0x184);
    auto uuid = [&](std::size_t offset, Guid& to) {
        auto b = r.bytes(offset, to.size());
        if (b.size() == to.size())
            std::copy(b.begin(), b.end(), to.begin());
    };
    uuid(0x188, h.uuidCreate);
    uuid(0x198, h.uuidModify);
    uuid(0x1A8, h.uuidLinkage);
    uuid(0x1B8, h.uuidParentModify);
    return h;
}

std::string uuidText(const Guid& u)
{
    char text[37];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", u[3], u[2],
                  u[1], u[0], u[5], u[4], u[7], u[6], u[8], u[9], u[10], u[11], u[12], u[13], u[14], u[15]);
    return text;
}

} // namespace qis::vdi
