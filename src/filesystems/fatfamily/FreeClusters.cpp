#include "filesystems/fatfamily/FreeClusters.h"

#include "filesystems/FreeSpace.h"

#include <algorithm>
#include <bit>

namespace qis {

FreeClusters FreeClusters::fromFat(FatTable& fat)
{
    // The table's own cluster count already stops at what both the boot
    // sector and the table's length allow, so a crafted count cannot make
    // this map larger than the table read.
    FreeClusters map(fat.clusterCount() + 2);
    for (std::uint64_t c = 2; c < map.limit_; ++c)
        if (auto value = fat.entry(static_cast<std::uint32_t>(c)); value && *value == 0)
            map.markFree(c);
    return map;
}

FreeClusters FreeClusters::fromBitmap(std::span<const std::uint8_t> bitmap, std::uint64_t clusterCount)
{
    FreeClusters map(clusterCount + 2);
    const std::uint64_t known = std::min<std::uint64_t>(clusterCount, std::uint64_t{bitmap.size()} * 8);
    for (std::uint64_t i = 0; i < known; ++i)
        if (((bitmap[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1) == 0)
            map.markFree(i + 2);
    return map;
}

std::uint64_t FreeClusters::next(std::uint64_t from, bool free) const
{
    if (from >= limit_)
        return limit_;
    std::size_t w = static_cast<std::size_t>(from / 64);
    // Bits of the wanted kind, those below `from` cleared.
    auto wanted = [&](std::size_t i) { return free ? words_[i] : ~words_[i]; };
    std::uint64_t bits = wanted(w) & (~std::uint64_t{0} << (from % 64));
    while (bits == 0) {
        if (++w >= words_.size())
            return limit_;
        bits = wanted(w);
    }
    return std::min<std::uint64_t>(limit_, std::uint64_t{w} * 64 + static_cast<unsigned>(std::countr_zero(bits)));
}

bool FreeClusters::allFree(std::uint64_t first, std::uint64_t count) const
{
    if (count == 0)
        return true;
    if (first >= limit_ || count > limit_ - first)
        return false;
    return nextUsed(first) >= first + count;
}

bool FreeClusters::freeAtLeast(std::uint64_t from, std::uint64_t count) const
{
    if (count == 0)
        return true;
    if (from >= limit_)
        return false;
    std::uint64_t found = 0;
    std::size_t w = static_cast<std::size_t>(from / 64);
    // The last word may hold bits past limit_; they are never set.
    std::uint64_t bits = words_[w] & (~std::uint64_t{0} << (from % 64));
    for (;;) {
        found += static_cast<unsigned>(std::popcount(bits));
        if (found >= count)
            return true;
        if (++w >= words_.size())
            return false;
        bits = words_[w];
    }
}

std::vector<ByteRun> freeClusterSpace(const FreeClusters& free, std::uint64_t heapOffset, std::uint64_t clusterBytes,
                                      std::uint64_t volumeBytes)
{
    FreeSpaceRuns runs(volumeBytes);
    for (std::uint64_t c = free.nextFree(2); c < free.limit();) {
        const std::uint64_t used = free.nextUsed(c);
        runs.addUnits(heapOffset, c - 2, used - c, clusterBytes);
        c = free.nextFree(used);
    }
    return runs.take();
}

} // namespace qis
