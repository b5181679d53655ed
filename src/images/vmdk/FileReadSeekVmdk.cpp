#include "images/vmdk/FileReadSeekVmdk.h"

#include "util/ByteReader.h"

#include <algorithm>

namespace qis {
namespace {

constexpr std::size_t kGrainTableCacheBytes = 16u << 20;

} // namespace

bool FileReadSeekVmdk::open(std::filesystem::path path)
{
    imageLength = fileLength(path);
    if (!file_.open(path))
        return false;
    auto layout = vmdk::readVmdkLayout(file_);
    if (!layout) {
        showMessage(layout.message());
        return false;
    }
    layout_ = std::move(layout).value();
    grainSize = layout_.header.grainSize;
    tablesPerEntry = layout_.header.numGTEsPerGT;
    sectorsPerDirectoryEntry = layout_.sectorsPerDirectoryEntry;
    grainDirectory = layout_.grainDirectory;
    extentList.clear();
    lastExtentType.clear();
    if (layout_.descriptor) {
        extentList = layout_.descriptor->extentList;
        lastExtentType = layout_.descriptor->lastExtentType;
    }
    diskSectorCount = layout_.diskSectors;
    grainTables_.clear();
    maxCachedTables_ = std::max<std::size_t>(1, kGrainTableCacheBytes / (std::size_t{tablesPerEntry} * 4));
    return true;
}

const std::vector<std::uint32_t>& FileReadSeekVmdk::grainTable(std::uint64_t index, std::uint32_t tableSector)
{
    auto it = grainTables_.find(index);
    if (it != grainTables_.end())
        return it->second;
    if (grainTables_.size() >= maxCachedTables_)
        grainTables_.clear();
    std::vector<std::uint8_t> bytes(std::size_t{tablesPerEntry} * 4, 0);
    file_.readAt(std::uint64_t{tableSector} * 512, bytes);
    ByteReader r(bytes);
    std::vector<std::uint32_t> table(tablesPerEntry);
    for (std::uint32_t i = 0; i < tablesPerEntry; ++i)
        table[i] = r.u32le(std::size_t{i} * 4);
    return grainTables_.emplace(index, std::move(table)).first->second;
}

std::optional<SectorRun> FileReadSeekVmdk::mapSector(std::uint64_t sector)
{
    if (sectorsPerDirectoryEntry == 0)
        return std::nullopt;
    std::uint64_t g = sector / sectorsPerDirectoryEntry;
    if (g >= grainDirectory.size())
        return std::nullopt;
    std::uint64_t withinGrain = sector % grainSize;
    SectorRun run;
    run.sectors = grainSize - withinGrain;
    std::uint32_t tableSector = grainDirectory[g];
    if (tableSector < 1) {
        run.sectors = sectorsPerDirectoryEntry - sector % sectorsPerDirectoryEntry;
        return run;
    }
    std::uint64_t t = (sector % sectorsPerDirectoryEntry) / grainSize;
    std::uint32_t grain = grainTable(g, tableSector)[static_cast<std::size_t>(t)];
    // 0 is an unallocated grain, 1 a grain known to be zero.
    if (grain < 2)
        return run;
    run.present = true;
    run.fileOffset = (std::uint64_t{grain} + withinGrain) * 512;
    return run;
}

} // namespace qis
