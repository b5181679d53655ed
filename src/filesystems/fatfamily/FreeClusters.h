#pragma once

#include "filesystems/fatfamily/FatTable.h"
#include "util/ByteRun.h"

#include <cstdint>
#include <span>
#include <vector>

namespace qis {

// Which of a volume's clusters are free now, a bit per cluster: taken once
// from the FAT (FAT16, FAT32) or the allocation bitmap (exFAT), so that a
// listing that asks about thousands of deleted entries pays a few word
// tests for each rather than a walk through the table.
class FreeClusters {
public:
    // Knows of no cluster: every one counts as in use.
    FreeClusters() = default;

    // Clusters whose FAT entry is 0 (free); reads the table once.
    static FreeClusters fromFat(FatTable& fat);
    // Clusters whose bit is clear in an exFAT allocation bitmap (bit 0 of
    // byte 0 is cluster 2). Clusters the bitmap is too short for count as
    // in use: nothing says they are free.
    static FreeClusters fromBitmap(std::span<const std::uint8_t> bitmap, std::uint64_t clusterCount);

    // One past the highest cluster number the map knows.
    [[nodiscard]] std::uint64_t limit() const { return limit_; }
    [[nodiscard]] bool isFree(std::uint64_t cluster) const
    {
        return cluster < limit_ && ((words_[cluster / 64] >> (cluster % 64)) & 1) != 0;
    }
    // The first free cluster at or after `from`, or limit().
    [[nodiscard]] std::uint64_t nextFree(std::uint64_t from) const { return next(from, true); }
    // The first cluster in use at or after `from`, or limit().
    [[nodiscard]] std::uint64_t nextUsed(std::uint64_t from) const { return next(from, false); }
    // Whether the clusters first … first + count − 1 are all on the volume and free.
    [[nodiscard]] bool allFree(std::uint64_t first, std::uint64_t count) const;
    // Whether at least `count` free clusters lie at or after `from`.
    [[nodiscard]] bool freeAtLeast(std::uint64_t from, std::uint64_t count) const;

private:
    explicit FreeClusters(std::uint64_t limit) : words_((limit + 63) / 64), limit_(limit) {}
    void markFree(std::uint64_t cluster) { words_[cluster / 64] |= std::uint64_t{1} << (cluster % 64); }
    [[nodiscard]] std::uint64_t next(std::uint64_t from, bool free) const;

    std::vector<std::uint64_t> words_; // bit c is set when cluster c is free
    std::uint64_t limit_ = 0;
};

// The free clusters as byte runs from the volume's start, cluster 2 lying
// `heapOffset` bytes in (the data region, the exFAT cluster heap); what
// lies before it (boot sectors, the FATs, a FAT16 root directory) is the
// file system's own and never free. Bounded by `volumeBytes`.
std::vector<ByteRun> freeClusterSpace(const FreeClusters& free, std::uint64_t heapOffset, std::uint64_t clusterBytes,
                                      std::uint64_t volumeBytes);

} // namespace qis
