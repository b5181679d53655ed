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

protected:
    void parseRootDirectory(JobContext& job) override;
};

} // namespace qis
