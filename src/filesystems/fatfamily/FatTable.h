#pragma once

#include "images/readWriteInterface.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qis {

// The file allocation table of a FAT16, FAT32 or exFAT volume, read from the
// volume in pages as chains are followed and kept, so a walk over thousands
// of chains reads each part of the table once.
class FatTable {
public:
    static constexpr std::uint32_t kEnd = 0xFFFFFFFF;

    FatTable() = default;
    // entryBytes is 2 (FAT16) or 4; mask keeps the bits that name a cluster
    // (0x0FFFFFFF on FAT32, whose top four bits are reserved).
    FatTable(readWriteInterface& reader, std::uint64_t offset, std::uint64_t bytes, unsigned entryBytes,
             std::uint32_t mask, std::uint64_t clusterCount);

    // True for the numbers of the volume's clusters, 2 … clusterCount + 1.
    [[nodiscard]] bool isCluster(std::uint64_t cluster) const { return cluster >= 2 && cluster < limit_; }
    [[nodiscard]] std::uint64_t clusterCount() const { return limit_ > 2 ? limit_ - 2 : 0; }

    // Fewer clusters than the table has room for are on the volume.
    void limitClusters(std::uint64_t clusterCount) { limit_ = std::min(limit_, clusterCount + 2); }

    // The cluster that follows in the chain, or kEnd: at the end of a chain,
    // for a free or bad cluster, for a value that names no cluster of the
    // volume, and where the table cannot be read.
    std::uint32_t next(std::uint32_t cluster);
    // The stored value (masked), or nullopt beyond the table.
    std::optional<std::uint32_t> entry(std::uint32_t cluster);

private:
    static constexpr std::uint64_t kPageBytes = 64 * 1024;
    static constexpr std::size_t kMaxPages = 512; // 32 MiB of table at most

    const std::vector<std::uint8_t>* page(std::uint64_t number);

    readWriteInterface* reader_ = nullptr;
    std::uint64_t offset_ = 0;
    std::uint64_t bytes_ = 0;
    unsigned entryBytes_ = 4;
    std::uint32_t mask_ = 0xFFFFFFFF;
    std::uint64_t limit_ = 0; // one past the last cluster number
    std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> pages_;
    std::uint64_t lastPageNumber_ = UINT64_MAX;
    const std::vector<std::uint8_t>* lastPage_ = nullptr;
};

// Remembers the clusters one chain has passed, so a chain that loops ends
// where it comes back: a short list first, a hash set for long chains.
class ChainGuard {
public:
    // False when the cluster was met before.
    bool firstVisit(std::uint32_t cluster);

private:
    std::vector<std::uint32_t> few_;
    std::unordered_set<std::uint32_t> many_;
};

} // namespace qis
