#pragma once

#include "images/BlockMappedReader.h"
#include "images/vhd/VhdLayout.h"

namespace qis {

// VHD images: dynamic (footer copy, dynamic header, BAT, blocks each behind
// a sector bitmap), differencing (read on its own) and fixed (the disk as is,
// footer at the end).
class FileReadSeekVHD : public BlockMappedReader {
public:
    bool open(std::filesystem::path path) override;

    [[nodiscard]] const vhd::VhdLayout& layout() const { return layout_; }

protected:
    std::optional<SectorRun> mapSector(std::uint64_t sector) override;

private:
    vhd::VhdLayout layout_;
    std::uint64_t sectorsPerBlock_ = 0;
    std::uint64_t bitmapSectors_ = 0;
};

} // namespace qis
