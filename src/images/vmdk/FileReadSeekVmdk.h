#pragma once

#include "images/BlockMappedReader.h"
#include "images/vmdk/VmdkLayout.h"

#include <unordered_map>

namespace qis {

// Monolithic sparse VMDK images: grain directory → grain table → grain.
// Grain tables are cached (bounded), so a sequential read loads each once.
class FileReadSeekVmdk : public BlockMappedReader {
public:
    bool open(std::filesystem::path path) override;
    // Grain tables are read into a cache as sectors are mapped.
    [[nodiscard]] bool readsConcurrently() const override { return false; }

    std::uint64_t grainSize = 0;
    std::uint32_t tablesPerEntry = 0;
    std::uint64_t sectorsPerDirectoryEntry = 0;
    std::vector<std::uint32_t> grainDirectory;
    std::vector<vmdk::ExtentRecord> extentList;
    std::string lastExtentType;

    [[nodiscard]] const vmdk::VmdkLayout& layout() const { return layout_; }

protected:
    std::optional<SectorRun> mapSector(std::uint64_t sector) override;

private:
    const std::vector<std::uint32_t>& grainTable(std::uint64_t index, std::uint32_t tableSector);

    vmdk::VmdkLayout layout_;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> grainTables_;
    std::size_t maxCachedTables_ = 0;
};

} // namespace qis
