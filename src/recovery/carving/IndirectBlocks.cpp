#include "recovery/carving/IndirectBlocks.h"

#include "images/VolumeBytes.h"
#include "util/ByteReader.h"

#include <array>
#include <map>
#include <vector>

namespace qis::carve {
namespace {

// i_block[0..11] name a file's first twelve blocks; the indirect block
// (i_block[12]) comes after them.
constexpr std::uint64_t kDirectBlocks = 12;
// s_log_block_size above this (block size over 64 KiB) is no ext volume.
constexpr std::uint32_t kMaxLogBlockSize = 6;
// Block sizes mkfs uses, tried in turn on a whole disk.
constexpr std::array<std::uint64_t, 3> kUsualBlockSizes = {1024, 2048, 4096};
// A file scattered block by block would otherwise make a piece per block
// without end; this many pieces (16 MiB of them) is as far as it is followed.
constexpr std::size_t kMaxPieces = 1u << 20;
constexpr std::uint64_t kSector = 512;
constexpr std::uint32_t kIncompatExtents = 0x40;

// The block numbers an indirect block holds, when it reads as one: at least
// one nonzero, and after the first zero only zeros.
std::optional<std::vector<std::uint32_t>> readPointers(readWriteInterface& reader, std::uint64_t offset,
                                                       std::uint64_t blockSize)
{
    std::vector<std::uint8_t> block(static_cast<std::size_t>(blockSize));
    if (!readVolumeBytes(reader, offset, block))
        return std::nullopt;
    ByteReader r(block);
    std::vector<std::uint32_t> pointers;
    bool ended = false;
    for (std::size_t at = 0; at + 4 <= block.size(); at += 4) {
        const std::uint32_t p = r.u32le(at);
        if (p == 0)
            ended = true;
        else if (ended)
            return std::nullopt;
        else
            pointers.push_back(p);
    }
    if (pointers.empty())
        return std::nullopt;
    return pointers;
}

// Follows the pointers of one file, block by block, and gathers its pieces.
class Walk {
public:
    Walk(readWriteInterface& reader, std::uint64_t blockSize, std::uint64_t base, std::uint64_t scanEnd,
         std::uint64_t maxLength)
        : reader_(reader), blockSize_(blockSize), base_(base),
          blocksInRange_(scanEnd > base ? (scanEnd - base) / blockSize : 0), maxLength_(maxLength)
    {
    }

    // The run [first, first + count) holds the file's own blocks; false when
    // it is outside the range or overlaps a block the file already has.
    bool claim(std::uint64_t first, std::uint64_t count)
    {
        if (first >= blocksInRange_ || count > blocksInRange_ - first)
            return false;
        auto next = used_.lower_bound(first);
        if (next != used_.end() && next->first < first + count)
            return false;
        if (next != used_.begin() && std::prev(next)->second > first)
            return false;
        used_[first] = first + count;
        return true;
    }

    void addData(std::uint64_t block, std::uint64_t count)
    {
        const std::uint64_t offset = base_ + block * blockSize_;
        const std::uint64_t length = count * blockSize_;
        if (!layout_.empty() && layout_.back().offset + layout_.back().length == offset)
            layout_.back().length += length;
        else
            layout_.push_back({offset, length});
        covered_ += length;
        lastData_ = block + count - 1;
    }

    // The tree under the indirect block `block`, `depth` levels above the
    // data; true when it is full (every slot used), so the file may go on
    // with the next level's block.
    bool walk(std::uint64_t block, int depth)
    {
        if (ended() || !claim(block, 1)) {
            stopped_ = true;
            return false;
        }
        auto pointers = readPointers(reader_, base_ + block * blockSize_, blockSize_);
        if (!pointers) {
            stopped_ = true;
            return false;
        }
        for (std::uint32_t p : *pointers) {
            if (depth > 1) {
                if (!walk(p, depth - 1))
                    return false;
                continue;
            }
            if (ended() || !claim(p, 1)) {
                stopped_ = true;
                return false;
            }
            addData(p, 1);
        }
        return pointers->size() == blockSize_ / 4;
    }

    [[nodiscard]] bool ended() const { return stopped_ || covered_ >= maxLength_ || layout_.size() >= kMaxPieces; }
    [[nodiscard]] std::uint64_t lastData() const { return lastData_; }
    [[nodiscard]] std::uint64_t covered() const { return covered_; }
    FileLayout& layout() { return layout_; }

private:
    readWriteInterface& reader_;
    std::uint64_t blockSize_;
    std::uint64_t base_;
    std::uint64_t blocksInRange_;
    std::uint64_t maxLength_;
    FileLayout layout_;
    std::map<std::uint64_t, std::uint64_t> used_; // first block -> end of the run
    std::uint64_t covered_ = 0;
    std::uint64_t lastData_ = 0;
    bool stopped_ = false;
};

std::optional<IndirectLayout> follow(readWriteInterface& reader, std::uint64_t start, std::uint64_t maxLength,
                                     std::uint64_t scanEnd, std::uint64_t blockSize,
                                     const std::optional<ExtGeometry>& known)
{
    if (maxLength <= kDirectBlocks * blockSize || start > scanEnd || scanEnd - start < (kDirectBlocks + 1) * blockSize)
        return std::nullopt;
    const std::uint64_t indirect = start + kDirectBlocks * blockSize;
    auto pointers = readPointers(reader, indirect, blockSize);
    if (!pointers)
        return std::nullopt;
    std::uint64_t base = 0;
    bool unmistakable = false;
    if (known) {
        if (indirect < known->base || (indirect - known->base) % blockSize != 0)
            return std::nullopt;
        base = known->base;
        unmistakable = known->indirectMapped;
    } else {
        // The data usually follows its indirect block: the first pointer
        // names the block after it, and so where block 0 lies.
        const std::uint64_t own = std::uint64_t{(*pointers)[0]} - 1;
        if (own > indirect / blockSize)
            return std::nullopt;
        base = indirect - own * blockSize;
        if (base % kSector != 0)
            return std::nullopt;
        if (auto found = readExtGeometry(reader, base); found && found->blockSize == blockSize)
            unmistakable = found->indirectMapped;
    }
    const std::uint64_t own = (indirect - base) / blockSize;
    if (own < kDirectBlocks)
        return std::nullopt;
    // Pointers to exactly the blocks after the indirect block are how a file
    // written in one go is laid out; with a base of our own making the first
    // one says nothing, so a second must agree.
    bool consecutive = known.has_value() || pointers->size() >= 2;
    for (std::size_t i = 0; i < pointers->size() && consecutive; ++i)
        consecutive = (*pointers)[i] == own + 1 + i;

    Walk walk(reader, blockSize, base, scanEnd, maxLength);
    if (!walk.claim(own - kDirectBlocks, kDirectBlocks))
        return std::nullopt;
    walk.addData(own - kDirectBlocks, kDirectBlocks);
    // Each next level's block sits after the last data block of the one
    // before, and only a full level goes on to the next.
    for (int depth = 1; depth <= 3; ++depth) {
        const std::uint64_t block = depth == 1 ? own : walk.lastData() + 1;
        if (!walk.walk(block, depth))
            break;
    }
    if (walk.layout().size() < 2)
        return std::nullopt; // the indirect block pointed nowhere the file could be

    IndirectLayout out;
    out.covered = walk.covered();
    out.unmistakable = unmistakable || consecutive;
    out.blockSize = blockSize;
    out.layout = std::move(walk.layout());
    if (out.covered >= maxLength) {
        out.layout = layoutPrefix(out.layout, maxLength);
        out.covered = maxLength;
    } else {
        CarvedPiece& last = out.layout.back();
        const std::uint64_t end = last.offset + last.length;
        last.length += std::min(maxLength - out.covered, scanEnd > end ? scanEnd - end : 0);
    }
    return out;
}

} // namespace

std::optional<ExtGeometry> readExtGeometry(readWriteInterface& reader, std::uint64_t base)
{
    std::array<std::uint8_t, 1024> super{};
    if (!readVolumeBytes(reader, base + 1024, super))
        return std::nullopt;
    ByteReader r(super);
    const std::uint32_t logBlockSize = r.u32le(0x18); // s_log_block_size
    const std::uint16_t magic = r.u16le(0x38);        // s_magic
    const std::uint32_t incompat = r.u32le(0x60);     // s_feature_incompat
    if (magic != 0xEF53 || logBlockSize > kMaxLogBlockSize)
        return std::nullopt;
    return ExtGeometry{std::uint64_t{1024} << logBlockSize, base, (incompat & kIncompatExtents) == 0};
}

std::optional<IndirectLayout> followIndirectBlocks(readWriteInterface& reader, std::uint64_t start,
                                                   std::uint64_t maxLength, std::uint64_t scanEnd,
                                                   const std::optional<ExtGeometry>& known)
{
    if (known)
        return follow(reader, start, maxLength, scanEnd, known->blockSize, known);
    // A block size whose pointers carry no doubt wins over one whose
    // pointers merely read as such.
    std::optional<IndirectLayout> first;
    for (std::uint64_t blockSize : kUsualBlockSizes) {
        auto found = follow(reader, start, maxLength, scanEnd, blockSize, std::nullopt);
        if (found && found->unmistakable)
            return found;
        if (found && !first)
            first = std::move(found);
    }
    return first;
}

} // namespace qis::carve
