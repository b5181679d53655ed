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
    // Length in sectors as the partition table gives it; 0 when no table
    // said (a volume found by its boot record, or added by hand).
    std::uint64_t sectorCount = 0;
    // Why the volume as listed cannot be read ("starts beyond the end of
    // the disk ..."); empty when it can. Such a volume is listed, so the
    // table is shown as it is, but not offered for reading.
    std::string problem{};
};

} // namespace qis
