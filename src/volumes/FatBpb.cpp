#include "volumes/FatBpb.h"

#include "util/ByteReader.h"
#include "util/CheckedMath.h"

namespace qis {

std::optional<FatBpb> FatBpb::parse(std::span<const std::uint8_t> sector)
{
    ByteReader r(sector);
    if (sector.size() < 512)
        return std::nullopt;
    FatBpb b;
    b.bytesPerSector = r.u16le(0x0B);
    b.sectorsPerCluster = r.u8(0x0D);
    b.reservedSectors = r.u16le(0x0E);
    b.fatCount = r.u8(0x10);
    b.rootEntryCount = r.u16le(0x11);
    std::uint16_t total16 = r.u16le(0x13);
    b.fatSize16 = r.u16le(0x16);
    std::uint32_t total32 = r.u32le(0x20);
    b.totalSectors = total16 != 0 ? total16 : total32;
    if (b.fatSize16 == 0) {
        b.fatSize32 = r.u32le(0x24);
        b.rootCluster = r.u32le(0x2C);
    }
    b.signature = r.u8(0x1FE) == 0x55 && r.u8(0x1FF) == 0xAA;
    std::uint8_t jump = r.u8(0x00);
    bool sane = (jump == 0xEB || jump == 0xE9) && b.bytesPerSector >= 512 && b.bytesPerSector <= 4096 &&
                isPowerOfTwo(b.bytesPerSector) && b.sectorsPerCluster != 0 && isPowerOfTwo(b.sectorsPerCluster) &&
                b.reservedSectors >= 1 && b.fatCount >= 1;
    if (!sane)
        return std::nullopt;
    return b;
}

} // namespace qis
