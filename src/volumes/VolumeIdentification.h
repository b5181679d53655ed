#pragma once

#include "images/readWriteInterface.h"
#include "volumes/BootRecord.h"

namespace qis {

struct IdentifiedVolume {
    bool readOk = false;
    BootRecord record; // kind None when nothing is recognised
};

// Looks at the first three sectors of the volume that starts at startSector:
// a boot sector in the first, an HFS+ header or ext superblock at byte 1024.
IdentifiedVolume identifyVolumeAt(readWriteInterface& reader, std::uint64_t startSector);

// The same tests on sectors already in memory (the search): `at` is the
// sector being tested; an HFS+ header or ext superblock there means a volume
// that starts two sectors earlier.
BootRecord identifyBootRecordSector(std::span<const std::uint8_t> sector, bool* startsTwoSectorsEarlier);

// Size texts as the volume list shows them, spacing included.
std::string sizeTextWide(std::uint64_t mebibytes);   // "8192   MB"
std::string sizeTextNarrow(std::uint64_t mebibytes); // "8192  MB"

} // namespace qis
