#pragma once

#include <cstdint>
#include <string>

namespace qis {

// One row of the volume list: a volume found on the disk or added by hand.
struct VolumeRecord {
    // "NTFS", "FAT12", "FAT16", "FAT32", "FAT64" (exFAT), "extX", "HFS+",
    // "UNKNOWN", "Unknown", a GPT partition name, or "CUSTOM ". Compared
    // without regard to case, it picks the parser.
    std::string fileSystem;
    std::string volumeName;
    std::string sizeText; // MiB as shown, e.g. "8192   MB"
    std::int64_t startSector = 0;
    // How the volume was found when its first sector did not say so plainly
    // (a backup boot record, a disk without a partition table); empty otherwise.
    std::string note{};
};

} // namespace qis
