#include "images/vhd/FileReadSeekVHD.h"

#include "images/ImageFormat.h"

#include "util/CheckedMath.h"

namespace qis {

bool FileReadSeekVHD::open(std::filesystem::path path)
{
    if (path.native().size() > 3 && !pathEndsWith(path, "vhd") && detectImageFormat(path) != ImageFormat::Vhd) {
        showMessage("Not a vhd file");
        return false;
    }
    imageLength = fileLength(path);
    if (!file_.open(path)) {
        showMessage("Invalid handle ...");
        return false;
    }
    auto layout = vhd::readVhdLayout(file_);
    if (!layout) {
        showMessage(layout.message());
        return false;
    }
    layout_ = std::move(layout).value();
    diskSectorCount = layout_.footer.currentSize / kSectorSize;
    blockTable.clear();
    tableEntryCount = 0;
    if (layout_.fixed)
        return true;

    auto table = vhd::readVhdBlockTable(file_, layout_);
    if (!table) {
        showMessage(table.message());
        return false;
    }
    blockTable = std::move(table).value();
    tableEntryCount = blockTable.size();
    sectorsPerBlock_ = layout_.blockSize / kSectorSize;
    // Each block starts with its sector bitmap, one bit per sector, padded to whole sectors.
    bitmapSectors_ = ceilDiv(ceilDiv(sectorsPerBlock_, 8), kSectorSize);
    return true;
}

std::optional<SectorRun> FileReadSeekVHD::mapSector(std::uint64_t sector)
{
    if (layout_.fixed) {
        std::uint64_t end = layout_.footer.currentSize / kSectorSize;
        if (sector >= end)
            return std::nullopt;
        return SectorRun{true, sector * kSectorSize, end - sector};
    }
    if (sectorsPerBlock_ == 0)
        return std::nullopt;
    std::uint64_t block = sector / sectorsPerBlock_;
    std::uint64_t k = sector % sectorsPerBlock_;
    if (block >= blockTable.size())
        return std::nullopt;
    std::uint64_t entry = blockTable[block];
    SectorRun run;
    run.sectors = sectorsPerBlock_ - k;
    run.present = entry != 0xFFFFFFFFu;
    run.fileOffset = (entry + bitmapSectors_ + k) * kSectorSize;
    return run;
}

} // namespace qis
