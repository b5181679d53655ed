#pragma once

#include "filesystems/fat/FatVolume.h"

namespace qis {

// A FAT16 volume: the root directory is a fixed region after the FATs.
class Fat16Class : public FatVolume {
public:
    explicit Fat16Class(readWriteInterface& reader);

    // True for a sane FAT boot sector that keeps its FAT size in the 16-bit field.
    bool checkBootSector() override;

    std::uint64_t rootDirectoryOffset = 0;
    std::uint64_t rootDirectoryBytes = 0;

protected:
    void parseRootDirectory(JobContext& job) override;
    void placeAdvancedRoot() override;
    [[nodiscard]] bool inRootRegion(std::uint64_t position) const override
    {
        return position >= rootDirectoryOffset && position - rootDirectoryOffset < rootDirectoryBytes;
    }
};

} // namespace qis
