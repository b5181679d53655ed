#pragma once

#include "images/BlockMappedReader.h"
#include "images/vhd/VhdLayout.h"
#include "images/vhd/VhdSectorBitmaps.h"

namespace qis {

// VHD images: dynamic (footer copy, dynamic header, BAT, blocks each behind
// a sector bitmap), differencing (laid out as dynamic, read over its parent:
// a sector whose bitmap bit is clear, or a block the BAT leaves out, is the
// parent's) and fixed (the disk as is, footer at the end).
class FileReadSeekVHD : public BlockMappedReader {
public:
    bool open(std::filesystem::path path) override;

    [[nodiscard]] const vhd::VhdLayout& layout() const { return layout_; }

protected:
    std::optional<SectorRun> mapSector(std::uint64_t sector) override;

private:
    bool openParentOf(const std::filesystem::path& path);

    vhd::VhdLayout layout_;
    std::uint64_t sectorsPerBlock_ = 0;
    std::uint64_t bitmapSectors_ = 0;
    bool differencing_ = false;
    vhd::VhdSectorBitmaps bitmaps_;
};

} // namespace qis
