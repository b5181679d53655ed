#include "images/vhdx/VhdxSectorBitmaps.h"

namespace qis::vhdx {
namespace {

// Enough for the bitmaps of 16 GiB of partially present 512-byte-sector
// blocks; past it the cache starts again.
constexpr std::uint64_t kMaxCachedBytes = 4ull << 20;

bool bitAt(const std::vector<std::uint8_t>& bits, std::uint64_t i)
{
    return ((bits[static_cast<std::size_t>(i / 8)] >> (i % 8)) & 1u) != 0;
}

} // namespace

void VhdxSectorBitmaps::configure(const VhdxLayout& layout, std::vector<std::uint64_t> chunkBitmaps,
                                  const VhdxOverlay* overlay)
{
    chunkRatio_ = layout.chunkRatio;
    sectorsPerBit_ = layout.logicalSectorSize / 512;
    bitsPerBlock_ = layout.blockSize / layout.logicalSectorSize;
    chunkBitmaps_ = std::move(chunkBitmaps);
    overlay_ = overlay;
}

std::shared_ptr<const std::vector<std::uint8_t>> VhdxSectorBitmaps::bitsOf(const ImageFile& file, std::uint64_t block)
{
    {
        std::lock_guard lock(mutex_);
        if (auto found = cache_.find(block); found != cache_.end())
            return found->second;
    }
    // A block's bits are a whole number of bytes (at least 256 bits) at its
    // place in the chunk's 1 MiB bitmap block.
    auto bits = std::make_shared<std::vector<std::uint8_t>>(static_cast<std::size_t>(bitsPerBlock_ / 8), 0);
    const std::uint64_t chunk = block / chunkRatio_;
    if (chunk < chunkBitmaps_.size() && chunkBitmaps_[chunk] != 0) {
        const std::uint64_t at = chunkBitmaps_[chunk] + (block % chunkRatio_) * (bitsPerBlock_ / 8);
        int error = 0;
        readImageFile(file, overlay_, at, *bits, error);
    }
    std::lock_guard lock(mutex_);
    if (cachedBytes_ + bits->size() > kMaxCachedBytes) {
        cache_.clear();
        cachedBytes_ = 0;
    }
    cachedBytes_ += bits->size();
    return cache_.emplace(block, std::move(bits)).first->second;
}

VhdxSectorBitmaps::Presence VhdxSectorBitmaps::presence(const ImageFile& file, std::uint64_t block, std::uint64_t k)
{
    const auto bits = bitsOf(file, block);
    const std::uint64_t first = k / sectorsPerBit_;
    if (first >= bitsPerBlock_)
        return {false, 1};
    const bool inFile = bitAt(*bits, first);
    std::uint64_t end = first + 1;
    const std::uint8_t same = inFile ? 0xFF : 0x00;
    while (end < bitsPerBlock_) {
        // Whole bytes of the same answer are passed over at once.
        if (end % 8 == 0 && end + 8 <= bitsPerBlock_ && (*bits)[static_cast<std::size_t>(end / 8)] == same) {
            end += 8;
            continue;
        }
        if (bitAt(*bits, end) != inFile)
            break;
        ++end;
    }
    return {inFile, (end - first) * sectorsPerBit_ - k % sectorsPerBit_};
}

} // namespace qis::vhdx
