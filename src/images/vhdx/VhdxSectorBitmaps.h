#pragma once

#include "images/vhdx/VhdxLayout.h"
#include "images/vhdx/VhdxOverlay.h"
#include "platform/ImageFile.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace qis::vhdx {

// Which sectors of a differencing VHDX's partially present blocks are in
// the file: one bit per logical sector in the chunk's sector bitmap block.
// A block's bits are read when first asked for and kept, within a memory
// bound (a 2 TB disk has 512 MiB of bitmaps); safe from several threads.
class VhdxSectorBitmaps {
public:
    void configure(const VhdxLayout& layout, std::vector<std::uint64_t> chunkBitmaps, const VhdxOverlay* overlay);

    struct Presence {
        bool inFile = false;
        std::uint64_t sectors = 0; // 512-byte sectors from the one asked on that share the answer, at least 1
    };
    // For 512-byte sector `k` of payload block `block`. Bits that cannot be
    // read count as 0: those sectors are the parent's.
    Presence presence(const ImageFile& file, std::uint64_t block, std::uint64_t k);

private:
    std::shared_ptr<const std::vector<std::uint8_t>> bitsOf(const ImageFile& file, std::uint64_t block);

    std::uint64_t chunkRatio_ = 0;
    std::uint64_t sectorsPerBit_ = 1; // 512-byte sectors per logical sector
    std::uint64_t bitsPerBlock_ = 0;
    std::vector<std::uint64_t> chunkBitmaps_;
    const VhdxOverlay* overlay_ = nullptr;

    std::mutex mutex_;
    std::unordered_map<std::uint64_t, std::shared_ptr<const std::vector<std::uint8_t>>> cache_;
    std::uint64_t cachedBytes_ = 0;
};

} // namespace qis::vhdx
