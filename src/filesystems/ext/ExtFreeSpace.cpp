// The blocks the group block bitmaps leave free, as the space a carve of
// the volume's free space reads.

#include "filesystems/FreeSpace.h"
#include "filesystems/ext/ext2Class.h"
#include "util/CheckedMath.h"

#include <algorithm>

namespace qis {

using namespace extdisk;

std::optional<std::vector<ByteRun>> ext2Class::unallocatedSpace()
{
    if (!superblock || descriptors.empty())
        return std::nullopt;
    const Superblock& sb = *superblock;
    const std::uint64_t B = sb.blockSize();
    // The file system's blocks end at s_blocks_count, whatever the volume holds past them.
    FreeSpaceRuns runs(checkedMul(sb.blocksCount, B).value_or(UINT64_MAX));
    std::uint64_t runFirst = 0, runCount = 0;
    auto freeBlocks = [&](std::uint64_t first, std::uint64_t count) {
        if (runCount != 0 && runFirst + runCount == first) {
            runCount += count;
            return;
        }
        if (runCount != 0)
            runs.addUnits(0, runFirst, runCount, B);
        runFirst = first;
        runCount = count;
    };
    std::lock_guard lock(bitmapMutex_);
    const std::uint64_t groups = std::min<std::uint64_t>(sb.groupCount(), descriptors.size());
    for (std::uint64_t g = 0; g < groups; ++g) {
        const std::uint64_t first = sb.firstDataBlock + g * sb.blocksPerGroup;
        const std::uint64_t count = std::min<std::uint64_t>(sb.blocksPerGroup, sb.blocksCount - first);
        // The group's bitmap through the cache blockInUse reads it into. One
        // the walk itself brought in is let go after, so the walk holds one
        // bitmap at a time however many groups a volume has.
        const bool cached = g < blockBitmaps_.state.size() && blockBitmaps_.state[g] != 0;
        bitmapBit(blockBitmaps_, false, g, 0);
        const std::uint8_t state = g < blockBitmaps_.state.size() ? blockBitmaps_.state[g] : 3;
        struct Release {
            BitmapCache& cache;
            std::size_t group;
            bool keep;
            ~Release()
            {
                if (!keep && group < cache.state.size()) {
                    cache.bits[group] = {};
                    cache.state[group] = 0;
                }
            }
        } release{blockBitmaps_, static_cast<std::size_t>(g), cached};
        if (state == 1) {
            const std::vector<std::uint8_t>& bits = blockBitmaps_.bits[g];
            for (std::uint64_t i = 0; i < count;) {
                // Bits past the bitmap say nothing: free, as blockInUse has it.
                const std::uint8_t b = i / 8 < bits.size() ? bits[static_cast<std::size_t>(i / 8)] : 0;
                if (i % 8 == 0 && count - i >= 8 && (b == 0 || b == 0xFF)) {
                    if (b == 0)
                        freeBlocks(first + i, 8);
                    i += 8;
                    continue;
                }
                if (!((b >> (i % 8)) & 1))
                    freeBlocks(first + i, 1);
                ++i;
            }
            continue;
        }
        if (state != 2) {
            // A bitmap that cannot be read says nothing was taken (blockInUse).
            freeBlocks(first, count);
            continue;
        }
        // BLOCK_UNINIT: nothing was ever allocated in the group but its own
        // metadata: a superblock copy with the descriptor table, and the
        // group's bitmaps and inode table where they lie inside it (with
        // flex_bg they are in another group, whose bitmap has them).
        std::vector<ByteRun> taken; // in blocks
        if (sb.hasSuperblockCopy(g))
            taken.push_back({first, sb.superblockCopyBlocks()});
        const GroupDescriptor& d = descriptors[static_cast<std::size_t>(g)];
        const std::uint64_t tableBlocks =
            ceilDiv(std::uint64_t{sb.inodesPerGroup} * sb.inodeSize, B);
        for (ByteRun own : {ByteRun{d.blockBitmap, 1}, ByteRun{d.inodeBitmap, 1}, ByteRun{d.inodeTable, tableBlocks}})
            if (own.start >= first && own.start < first + count)
                taken.push_back(own);
        std::sort(taken.begin(), taken.end(), [](const ByteRun& a, const ByteRun& b) { return a.start < b.start; });
        std::uint64_t at = first;
        for (const ByteRun& t : taken) {
            if (t.start > at)
                freeBlocks(at, t.start - at);
            at = std::max(at, std::min(first + count, t.start + std::min(t.length, count)));
        }
        if (at < first + count)
            freeBlocks(at, first + count - at);
    }
    if (runCount != 0)
        runs.addUnits(0, runFirst, runCount, B);
    return runs.take();
}

} // namespace qis
