#include "images/vhdx/FileReadSeekVHDX.h"

namespace qis {

using vhdx::VhdxBlockTable;

bool FileReadSeekVHDX::open(std::filesystem::path path)
{
    if (path.native().size() > 3 && !pathEndsWith(path, "vhdx")) {
        showMessage("not a vhd file");
        return false;
    }
    imageLength = fileLength(path);
    if (!file_.open(path)) {
        showMessage("invalid handle ...");
        return false;
    }
    auto layout = vhdx::readVhdxLayout(file_);
    if (!layout) {
        showMessage(layout.message());
        return false;
    }
    layout_ = std::move(layout).value();
    auto table = vhdx::readVhdxBlockTable(file_, layout_);
    if (!table) {
        showMessage(table.message());
        return false;
    }
    VhdxBlockTable found = std::move(table).value();
    blockTable = std::move(found.blocks);
    unreadableBytes = found.unreadableBytes;
    damage = std::move(found.damage);
    if (layout_.headersDamaged)
        damage.insert(damage.begin(), vhdx::kVhdxHeadersDamaged);
    sectorsPerBlock = layout_.blockSize / kSectorSize;
    diskSectorCount = layout_.virtualDiskSize / kSectorSize;
    return true;
}

std::optional<SectorRun> FileReadSeekVHDX::mapSector(std::uint64_t sector)
{
    if (sectorsPerBlock == 0)
        return std::nullopt;
    std::uint64_t block = sector / sectorsPerBlock;
    std::uint64_t k = sector % sectorsPerBlock;
    if (block >= blockTable.size())
        return std::nullopt;
    std::uint64_t entry = blockTable[block];
    SectorRun run;
    run.sectors = sectorsPerBlock - k;
    run.present = entry != 0 && entry != vhdx::kUnreadableBlock;
    run.fileOffset = (entry + k) * kSectorSize;
    return run;
}

} // namespace qis
