#pragma once

#include "platform/ImageFile.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace qis::vhd {

// The sector bitmaps in front of a differencing VHD's blocks (bit 7 of byte
// 0 is the block's first sector; 1: the sector is in this file, 0: it is the
// parent's), read when a block is first mapped. Several threads map sectors
// at once, so the cache is locked; it is emptied when it would pass
// kMaxCachedBytes, so a disk of any size keeps only a few MiB of them.
class VhdSectorBitmaps {
public:
    static constexpr std::uint64_t kMaxCachedBytes = 8u << 20;

    using Bitmap = std::shared_ptr<const std::vector<std::uint8_t>>;

    // Forgets what was read; each bitmap is `bytes` long.
    void reset(std::uint64_t bytes);

    // The bitmap stored at file offset `at` for `block`; nullptr when it
    // cannot be read whole.
    Bitmap get(const ImageFile& file, std::uint64_t block, std::uint64_t at);

    // The run of sectors from `first` on (below `end`) whose bits equal that
    // of `first`: its end, and whether those sectors are in this file.
    static std::uint64_t runEnd(const std::vector<std::uint8_t>& bitmap, std::uint64_t first, std::uint64_t end,
                                bool& present);

private:
    std::mutex mutex_;
    std::unordered_map<std::uint64_t, Bitmap> cache_;
    std::uint64_t bytes_ = 0;
};

} // namespace qis::vhd
