#include "filesystems/ext/ExtBlockMap.h"

#include "images/VolumeBytes.h"
#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <unordered_set>

namespace qis {

using namespace extdisk;

namespace {

// Index nodes read for one file at most; a real tree of this size maps
// terabytes.
constexpr std::size_t kMaxIndexNodes = 65536;

class BlockMapper {
public:
    BlockMapper(readWriteInterface& reader, const Superblock& sb, const Inode& inode, const BlockTest& taken)
        : reader_(reader), sb_(sb), blockSize_(sb.blockSize()),
          fileBlocks_(ceilDiv(inode.size, sb.blockSize())), taken_(taken)
    {
    }

    std::vector<BlockRun> runs;
    bool complete = true;

    void add(std::uint64_t logical, std::uint64_t physical, std::uint64_t count, bool unwritten)
    {
        if (logical >= fileBlocks_ || count == 0)
            return;
        count = std::min(count, fileBlocks_ - logical);
        if (physical == 0 || physical >= sb_.blocksCount || count > sb_.blocksCount - physical) {
            complete = false; // a pointer outside the volume: that part stays a hole
            return;
        }
        if (!runs.empty()) {
            BlockRun& last = runs.back();
            if (last.unwritten == unwritten && last.logical + last.count == logical &&
                last.physical + last.count == physical) {
                last.count += count;
                return;
            }
        }
        runs.push_back({logical, physical, count, unwritten});
    }

    bool readBlock(std::uint64_t block, std::vector<std::uint8_t>& into)
    {
        into.assign(static_cast<std::size_t>(blockSize_), 0);
        if (block == 0 || block >= sb_.blocksCount || (taken_ && taken_(block)))
            return false;
        return readVolumeBytes(reader_, block * blockSize_, into);
    }

    void extentNode(std::span<const std::uint8_t> node, int expectedDepth)
    {
        auto header = ExtentHeader::parse(node);
        if (!header || (expectedDepth >= 0 && header->depth != expectedDepth)) {
            complete = false;
            return;
        }
        ByteReader r(node);
        for (std::size_t i = 0; i < header->entries; ++i) {
            std::size_t at = 12 + 12 * i;
            std::uint64_t logical = r.u32le(at);
            if (header->depth == 0) {
                std::uint32_t length = r.u16le(at + 4);
                std::uint64_t start = (std::uint64_t{r.u16le(at + 6)} << 32) | r.u32le(at + 8);
                // Lengths above 32768 mark space allocated but never written.
                bool unwritten = length > 32768;
                add(logical, start, unwritten ? length - 32768 : length, unwritten);
                continue;
            }
            std::uint64_t child = r.u32le(at + 4) | (std::uint64_t{r.u16le(at + 8)} << 32);
            if (logical >= fileBlocks_)
                continue;
            if (!seen_.insert(child).second || seen_.size() > kMaxIndexNodes) {
                complete = false;
                continue;
            }
            std::vector<std::uint8_t> block;
            if (!readBlock(child, block)) {
                complete = false;
                continue;
            }
            extentNode(block, header->depth - 1);
        }
    }

    // A block of pointers `level` levels above the data (1: pointers to data).
    void indirect(std::uint64_t block, int level, std::uint64_t logical)
    {
        if (logical >= fileBlocks_)
            return;
        if (!seen_.insert(block).second || seen_.size() > kMaxIndexNodes) {
            complete = false;
            return;
        }
        std::vector<std::uint8_t> pointers;
        if (!readBlock(block, pointers)) {
            complete = false;
            return;
        }
        const std::uint64_t perBlock = blockSize_ / 4;
        std::uint64_t span = 1;
        for (int i = 1; i < level; ++i)
            span *= perBlock;
        ByteReader r(pointers);
        for (std::uint64_t i = 0; i < perBlock; ++i) {
            std::uint64_t at = logical + i * span;
            if (at >= fileBlocks_)
                break;
            std::uint32_t p = r.u32le(static_cast<std::size_t>(i * 4));
            if (p == 0)
                continue; // a hole
            if (level == 1)
                add(at, p, 1, false);
            else
                indirect(p, level - 1, at);
        }
    }

    void pointers(const Inode& inode)
    {
        ByteReader r(std::span<const std::uint8_t>(inode.block, 60));
        for (std::uint64_t i = 0; i < 12; ++i)
            if (std::uint32_t p = r.u32le(static_cast<std::size_t>(4 * i)))
                add(i, p, 1, false);
        const std::uint64_t perBlock = blockSize_ / 4;
        std::uint64_t first = 12, span = perBlock;
        for (int level = 1; level <= 3; ++level) {
            if (std::uint32_t p = r.u32le(static_cast<std::size_t>(44 + 4 * level)))
                indirect(p, level, first);
            first += span;
            span *= perBlock;
        }
    }

private:
    readWriteInterface& reader_;
    const Superblock& sb_;
    std::uint64_t blockSize_;
    std::uint64_t fileBlocks_;
    const BlockTest& taken_;
    std::unordered_set<std::uint64_t> seen_;
};

} // namespace

std::vector<BlockRun> collectBlocks(readWriteInterface& reader, const Superblock& superblock, const Inode& inode,
                                    bool* complete, const BlockTest& mapBlockTaken)
{
    BlockMapper mapper(reader, superblock, inode, mapBlockTaken);
    if (inode.flags & kExtentsFlag)
        mapper.extentNode(std::span<const std::uint8_t>(inode.block, 60), -1);
    else
        mapper.pointers(inode);
    std::sort(mapper.runs.begin(), mapper.runs.end(),
              [](const BlockRun& a, const BlockRun& b) { return a.logical < b.logical; });
    if (complete)
        *complete = mapper.complete;
    return mapper.runs;
}

} // namespace qis
