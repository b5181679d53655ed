#pragma once

#include "images/readWriteInterface.h"
#include "jobs/JobRunner.h"
#include "volumes/VolumeRecord.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace qis {

// Finds the volumes of a virtual disk: from its partition table, or by
// searching every sector for boot records when the table cannot be trusted.
class Partition {
public:
    std::atomic<bool> stopRequested{false};
    std::vector<VolumeRecord> volumeList;
    bool gptMode = false; // read the table as GPT (the user's choice, not the disk's)

    // Boot-sector search: skip the body of each volume found, and the range
    // of sectors to search (0 or less: from the start, to the end).
    bool skipVolumes = true;
    std::int64_t scanStartSector = 0;
    std::int64_t scanEndSector = 0;

    // Told of each volume as the search adds it (the page's list row).
    std::function<void(const VolumeRecord&)> volumeAdded;

    // NTFS volumes appended so far, for "found NTFS %d...".
    int ntfsCount = 0;

    // Why (part of) the partition table was not believed, e.g. a sector
    // without its 0x55AA signature; empty when it all was.
    std::vector<std::string> tableProblems;
};

// Reads the partition table (GPT when gptMode, else MBR and its chain of
// extended boot records) and appends a record per partition. A partition
// that starts past the disk's last sector, or lies mostly past it, gets a
// `problem`; one that only ends past it, a note. The entries of an MBR or
// extended boot record without its 0x55AA signature get a problem too. Returns 0, or
// the error number of a failed table read.
int scanPartitionTable(readWriteInterface& reader, Partition& partition, JobReporter& reporter);

// Searches the disk for NTFS, FAT, exFAT, HFS+ and ext boot records in 1 MiB
// chunks, honouring Stop before every sector.
void searchBootSectors(readWriteInterface& reader, Partition& partition, std::uint64_t diskSectorCount,
                       JobContext& job);

bool isExfatVolume(readWriteInterface& reader, std::int64_t startSector);
// Whether the disk's first sector is an MBR that guards a GPT (an entry of
// type 0xEE): its partition table is then the GPT.
bool hasProtectiveMbr(readWriteInterface& reader);
bool isHfsPlusVolume(readWriteInterface& reader, std::int64_t startSector);

} // namespace qis
