#pragma once

#include "images/BlockMappedReader.h"
#include "images/vhdx/VhdxLayout.h"

namespace qis {

// VHDX images: the block allocation table maps each payload block to its
// place in the file. A differencing image is read on its own: blocks only its
// parent holds read as zeros.
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

    vhdx::VhdxLayout layout_;
    const vhdx::VhdxOverlay* overlay_ = nullptr;
};

} // namespace qis
