#pragma once

#include "filesystems/VolumeScan.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace qis {

// One file system the program reads: how the volume list names it, what
// its first sectors look like, and the scan that reads it.
struct FileSystemKind {
    std::string_view label;      // as the volume list names it ("NTFS", "FAT64", "extX" …)
    std::string_view otherLabel; // another name it answers to ("fat", "exFAT"), or empty
    bool advancedMode = false;   // beyond the standard mode
    bool deepMode = false;
    // Whether the volume's first kProbeBytes bytes hold this file system's
    // boot sector, superblock or volume header.
    bool (*probe)(std::span<const std::uint8_t> volumeStart) = nullptr;
    std::unique_ptr<VolumeScan> (*makeScan)(readWriteInterface& reader, const VolumeRecord& volume,
                                            const ScanOptions& options) = nullptr;
};

// What a probe looks at: the boot sector and the 1 KiB after it, where
// ext's superblock and HFS+'s volume header lie.
inline constexpr std::size_t kProbeBytes = 1536;

// Every file system, one row each.
std::span<const FileSystemKind> fileSystemKinds();

// The row a label names (either of its names, without regard to case or
// leading blanks); null when none does.
const FileSystemKind* findFileSystem(std::string_view label);

// Every file system whose probe accepts the volume starting at startSector,
// in table order. More than one means the volume's first sectors carry the
// marks of two file systems (one formatted over the other), and the volume
// list's pick may not be the one holding the files.
std::vector<const FileSystemKind*> probeFileSystems(readWriteInterface& reader, std::uint64_t startSector);

} // namespace qis
