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

protected:
    std::optional<SectorRun> mapSector(std::uint64_t sector) override;

private:
    vhdx::VhdxLayout layout_;
};

} // namespace qis
