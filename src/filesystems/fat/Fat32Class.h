#pragma once

#include "filesystems/fat/FatVolume.h"

namespace qis {

// A FAT32 volume: the root directory is a cluster chain like any folder,
// starting at the cluster the boot sector names.
class Fat32Class : public FatVolume {
public:
    explicit Fat32Class(readWriteInterface& reader);

    // True for a sane FAT boot sector whose 16-bit FAT size is 0 and whose
    // 32-bit one is not.
    bool checkBootSector() override;

    std::uint32_t rootCluster = 2;

protected:
    void parseRootDirectory(JobContext& job) override;
    // Formatters put the root at cluster 2, right where the data region starts.
    void placeAdvancedRoot() override { rootCluster = 2; }
    [[nodiscard]] bool inRootRegion(std::uint64_t) const override { return false; }
};

} // namespace qis
