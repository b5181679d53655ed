#pragma once

#include "images/BlockMappedReader.h"
#include "images/vhdx/VhdxLayout.h"
#include "images/vhdx/VhdxSectorBitmaps.h"

namespace qis {

// VHDX images: the block allocation table maps each payload block to its
// place in the file. A differencing image (a checkpoint) reads what it does
// not hold from its parent, sector by sector where a block is partial.
class FileReadSeekVHDX : public BlockMappedReader {
public:
    bool open(std::filesystem::path path) override;

    std::uint32_t sectorsPerBlock = 0;
    [[nodiscard]] const vhdx::VhdxLayout& layout() const { return layout_; }

    // After a log replay the blocks are read through its overlay: some of
    // their bytes are in memory, not in the file.
    bool read(void* buffer, std::uint32_t length) override;
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) override;
    int storedAt(std::uint64_t offset, std::uint64_t length, std::uint64_t& fileOffset, std::uint64_t& run) override;

protected:
    std::optional<SectorRun> mapSector(std::uint64_t sector) override;

private:
    // The virtual bytes from `position` (baseOffset included) through the
    // overlay; false where they could not be read (zeros there).
    bool readReplayed(std::int64_t position, std::span<std::uint8_t> out, int& error);
    // Finds and opens the parent, and notes in `damage` a parent that is not
    // the image this one was made from.
    bool openParentImage(const std::filesystem::path& path);


    vhdx::VhdxLayout layout_;
    const vhdx::VhdxOverlay* overlay_ = nullptr;
    // Differencing images only, per block (see VhdxBlockTable).
    std::vector<bool> zeroBlocks_;
    std::vector<bool> partialBlocks_;
    vhdx::VhdxSectorBitmaps bitmaps_;
};

} // namespace qis
