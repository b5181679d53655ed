#pragma once

#include "images/readWriteInterface.h"
#include "volumes/BootRecord.h"

#include <cstdint>
#include <span>
#include <string>

namespace qis {

// A volume told by a copy of its boot record rather than its first sector.
struct BackupIdentification {
    BootRecord record;               // kind None when no copy was found
    std::uint64_t copySector = 0;    // absolute sector of the copy that named it
    [[nodiscard]] bool found() const { return record.kind != BootRecordKind::None; }
    // "backup boot sector at sector N" / "backup superblock at sector N"
    [[nodiscard]] std::string describe() const;
};

// A volume whose first sector is unreadable, zero or no boot record still
// has its copies: the exFAT backup boot region 12 sectors in, the FAT32
// copy at the sector its own backup field names, the NTFS copy in the
// volume's last sector, ext superblocks at the start of block groups 1, 3,
// 5, 7, 9 and the HFS+ alternate header 1024 bytes before the end. Each
// copy is taken only where it names itself: the FAT32 field must give its
// own distance, the NTFS count must end at its own sector, the ext group
// number and group start must lead back to the volume's start.
// `lengthSectors` is the partition's length from the table (0: unknown,
// which leaves out the copies found from the end).
BackupIdentification identifyByBackup(readWriteInterface& reader, std::uint64_t startSector,
                                      std::uint64_t lengthSectors);

// Where the boot record found at `sector` (whose bytes are `record`)
// belongs: the start of its volume, and whether the sector is a backup copy.
// A copy is told from a primary by the volume's own structures: the FAT
// (exFAT, FAT32) or the MFT and its mirror (NTFS) are where the record puts
// them only when counted from the true start, or the primary itself is
// still in place.
struct RecordPlacement {
    std::int64_t volumeStart = 0;
    bool isBackup = false;
};
RecordPlacement placeFoundRecord(readWriteInterface& reader, BootRecordKind kind, std::span<const std::uint8_t> record,
                                 std::uint64_t sector);

// An ext backup superblock (a group above 0) in a sector the search tests:
// the record, and how many sectors into its volume the copy lies.
BootRecord identifyExtBackupSector(std::span<const std::uint8_t> sector, std::uint64_t* sectorsIntoVolume);

// Whether a group-0 ext superblock found at `volumeStart` + 2 sectors is the
// volume's own: a volume of more than one group keeps its first backup where
// the superblock's fields say, with the same UUID. A copy of the superblock
// block logged in the journal has neither.
bool extPrimaryConfirmed(readWriteInterface& reader, std::uint64_t volumeStart, std::span<const std::uint8_t> superblock);

} // namespace qis
