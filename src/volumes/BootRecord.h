#pragma once

#include <cstdint>
#include <span>

namespace qis {

enum class BootRecordKind { None, Ntfs, Exfat, Fat12, Fat16, Fat32, UnknownFat, HfsPlus, Ext };

struct BootRecord {
    BootRecordKind kind = BootRecordKind::None;
    std::uint64_t sizeBytes = 0; // the volume's size as the record gives it
};

// What the first sector of a volume says it is: an NTFS, exFAT or FAT boot
// sector. FAT is told by a sane BIOS parameter block, not by the OEM name
// (which formatting tools set as they like); a BPB whose FAT does not fit
// the volume is an unknown FAT.
BootRecord identifyBootSector(std::span<const std::uint8_t> sector);

// An HFS+ (or HFSX) volume header, found 1024 bytes into its volume.
BootRecord identifyHfsPlusHeader(std::span<const std::uint8_t> sector);

// An ext2/3/4 primary superblock (1024 bytes into its volume); backups in
// later block groups are not taken for the start of a volume.
BootRecord identifyExtSuperblock(std::span<const std::uint8_t> superblock);

// A backup superblock of block group `group` (above 0), read at the start of
// block `block` of its volume: taken only when it names that group and its
// own fields put the group's start at that block.
BootRecord identifyExtBackupSuperblock(std::span<const std::uint8_t> superblock, std::uint32_t group,
                                       std::uint64_t block);

const char* bootRecordLabel(BootRecordKind kind);

} // namespace qis
