#include "volumes/AllocationUnit.h"

#include "volumes/FatBpb.h"

#include <cstring>

namespace qis {
namespace {

std::uint64_t le(std::span<const std::uint8_t> b, std::size_t at, int n)
{
    std::uint64_t v = 0;
    for (int i = n; i-- > 0;)
        v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}

std::uint64_t sane(std::uint64_t unit)
{
    return unit >= 512 && unit <= (2u << 20) && (unit & (unit - 1)) == 0 ? unit : 0;
}

} // namespace

std::uint64_t allocationUnitBytes(std::span<const std::uint8_t> b)
{
    if (b.size() < 2048)
        return 0;
    if (std::memcmp(b.data() + 3, "NTFS    ", 8) == 0) {
        const std::uint64_t perCluster = b[13];
        // Above 0x80 the field is a negative power of two of bytes.
        return sane(perCluster > 0x80 ? std::uint64_t{1} << (256 - perCluster) : le(b, 11, 2) * perCluster);
    }
    if (std::memcmp(b.data() + 3, "EXFAT   ", 8) == 0)
        return b[108] < 16 && b[109] < 16 ? sane((std::uint64_t{1} << b[108]) << b[109]) : 0;
    if (auto fat = FatBpb::parse(b.first(512)))
        return sane(fat->clusterBytes());
    if (le(b, 1024 + 56, 2) == 0xEF53)
        return le(b, 1024 + 24, 4) < 8 ? sane(std::uint64_t{1024} << le(b, 1024 + 24, 4)) : 0;
    if ((b[1024] == 'H' && (b[1025] == '+' || b[1025] == 'X')))
        return sane(std::uint64_t{b[1064]} << 24 | std::uint64_t{b[1065]} << 16 | std::uint64_t{b[1066]} << 8 | b[1067]);
    return 0;
}

} // namespace qis
