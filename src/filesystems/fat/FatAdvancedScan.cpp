#include "filesystems/fat/FatVolume.h"

#include "images/VolumeBytes.h"
#include "filesystems/VolumeSweep.h"

#include "filesystems/fatfamily/ScanEnd.h"

#include <algorithm>
#include <cstdio>

namespace qis {

using namespace fatdisk;

namespace {

// Enough subdirectories for the data region's position to be agreed on.
constexpr std::size_t kEnoughDirectories = 64;
constexpr std::size_t kMaxDirectoriesKept = 4096;
// Entry positions kept from the scan (8 bytes each): far more than any real
// volume's directories hold, and a bound on what random data can add.
constexpr std::size_t kMaxEntryCandidates = 4u << 20;

} // namespace

std::vector<std::uint64_t> FatVolume::findFatCandidates(std::size_t maximum, JobContext& job)
{
    if (maximum == 0)
        maximum = 3;
    volumeSize = withinDisk(*reader, volumeBytesFromSizeText(volumeSizeText));
    fatCandidates.clear();
    directoryClusters.clear();
    const bool fat32 = flavour_.entryBytes == 4;
    job.reporter().setProgressRange(0, 1000);
    char text[128];
    sweepVolume(*reader, volumeSize, 0, [&](const SweepChunk& chunk) {
        job.reporter().setProgressPos(permille(chunk.start, volumeSize));
        for (std::size_t p = 0; p + kSectorSize <= chunk.length; p += kSectorSize) {
            auto sector = chunk.bytes.subspan(p, kSectorSize);
            if (fatCandidates.size() < maximum && fatscan::matchesTable(flavour_.table, sector)) {
                fatCandidates.push_back(chunk.start + p);
                if (!fat32) {
                    std::snprintf(text, sizeof text, "found fat entry  %zu ", fatCandidates.size());
                    job.reporter().setStatusText(text);
                }
            }
            if (directoryClusters.size() < kMaxDirectoriesKept)
                if (auto d = fatscan::directoryClusterAt(sector, chunk.start + p, fat32))
                    directoryClusters.push_back(*d);
        }
        if (fat32) {
            std::snprintf(text, sizeof text, "Parsing Disk Currently at position %f of the disk of size %f",
                          static_cast<double>(chunk.start + chunk.length), static_cast<double>(volumeSize));
            job.reporter().setStatusText(text);
        }
        if (job.stopSeen(stopRequested)) {
            stopRequested.store(false);
            return false;
        }
        // The directories found tell the data region; the search goes on
        // past the last FAT until enough of them are known.
        return fatCandidates.size() < maximum || directoryClusters.size() < kEnoughDirectories;
    });
    job.reporter().setProgressPos(1000);
    return fatCandidates;
}

std::vector<unsigned> FatVolume::clusterSizeChoices() const
{
    std::vector<unsigned> choices;
    auto offer = [&](unsigned s) {
        if (s != 0 && std::find(choices.begin(), choices.end(), s) == choices.end())
            choices.push_back(s);
    };
    // The boot sector's own value when it can be trusted, else the size the
    // directories found on the volume agree on.
    if (bpb && bpb->sectorsPerCluster % 2 == 0)
        offer(bpb->sectorsPerCluster);
    if (auto region = fatscan::voteDataRegion(directoryClusters, std::nullopt); region && region->votes >= 2)
        offer(static_cast<unsigned>(region->clusterBytes / kSectorSize));
    const bool fat32 = flavour_.entryBytes == 4;
    for (unsigned s : fat32 ? std::vector<unsigned>{2, 4, 16, 32, 64, 8} : std::vector<unsigned>{4, 8, 16, 2, 32, 64, 128})
        offer(s);
    return choices;
}

void FatVolume::scanForEntries(JobContext& job)
{
    entryCandidates.clear();
    if (clusterBytes == 0 || volumeSize == 0)
        return;
    const bool fat32 = flavour_.entryBytes == 4;
    const std::uint64_t clusterCount = volumeSize / clusterBytes;
    const std::uint64_t sectors = volumeSize / kSectorSize;
    job.reporter().setProgressRange(0, fat32 ? 1000 : 100000);
    char text[96];
    sweepVolume(*reader, volumeSize, 0, [&](const SweepChunk& chunk) {
        if (job.stopSeen(stopRequested)) {
            stopRequested.store(false);
            return false;
        }
        if (fat32) {
            job.reporter().setProgressPos(permille(chunk.start, volumeSize));
        } else {
            std::snprintf(text, sizeof text, "currently at sector %llu of %llu",
                          static_cast<unsigned long long>(chunk.start / kSectorSize),
                          static_cast<unsigned long long>(sectors));
            job.reporter().setStatusText(text);
            job.reporter().setProgressPos(
                static_cast<std::int32_t>(sectors ? chunk.start / kSectorSize * 100000 / sectors : 0));
        }
        for (std::size_t at = 0; at + kSlotSize <= chunk.length && entryCandidates.size() < kMaxEntryCandidates;
             at += kSlotSize) {
            auto slot = chunk.bytes.subspan(at, kSlotSize);
            if (slot[11] == 0 && slot[0] == 0)
                continue; // free space: the common case, decided at once
            if (!fat32) {
                if (fatscan::isFat16EntryCandidate(slot, clusterCount))
                    entryCandidates.push_back(chunk.start + at);
                continue;
            }
            switch (fatscan::classifyFat32Slot(slot, clusterCount)) {
            case fatscan::Fat32Slot::Entry:
                entryCandidates.push_back(chunk.start + at);
                std::snprintf(text, sizeof text, "found file or directory =  %zu ", entryCandidates.size());
                job.reporter().setStatusText(text);
                break;
            case fatscan::Fat32Slot::LabelOrRecycle:
                if (!firstLabelPosition)
                    firstLabelPosition = chunk.start + at;
                break;
            case fatscan::Fat32Slot::None:
                break;
            }
        }
        return true;
    });
}

void FatVolume::prepareAdvancedLayout(std::uint64_t fatPosition, unsigned chosenSectorsPerCluster)
{
    advancedMode = true;
    if (chosenSectorsPerCluster != 0) {
        sectorsPerCluster = static_cast<std::uint8_t>(std::min(chosenSectorsPerCluster, 255u));
        clusterBytes = std::uint64_t{chosenSectorsPerCluster} * kSectorSize;
    } else if (bpb) {
        sectorsPerCluster = bpb->sectorsPerCluster;
        clusterBytes = bpb->clusterBytes();
    }
    entryCandidates.clear();
    if (clusterBytes == 0 || fatPosition >= volumeSize)
        return;
    const std::uint64_t clusters = volumeSize / clusterBytes;
    const std::uint64_t fatBytes = std::min((clusters + 2) * flavour_.entryBytes, volumeSize - fatPosition);
    fat = FatTable(*reader, fatPosition, fatBytes, flavour_.entryBytes, flavour_.entryMask, clusters);

    // The chosen FAT's copies follow it at equal distances.
    advancedFatEnd = 0;
    auto chosen = std::find(fatCandidates.begin(), fatCandidates.end(), fatPosition);
    if (chosen != fatCandidates.end() && chosen + 1 != fatCandidates.end()) {
        const std::uint64_t step = *(chosen + 1) - *chosen;
        std::uint64_t end = *chosen;
        for (auto it = chosen; it != fatCandidates.end() && *it == end; ++it)
            end += step;
        advancedFatEnd = end;
    }
}

void FatVolume::buildFromCandidates(JobContext& job)
{
    entryList.clear();
    visitedClusters.clear();
    freeClusters_.reset(); // the chosen FAT, and below the clusters the volume holds
    otherDeletedRuns_.reset();
    if (clusterBytes == 0)
        return;
    // Where cluster 2 is: what the boot sector says when it is intact and
    // agrees on the cluster size, else where the subdirectories found on the
    // volume put it, else the usual layout after the FATs.
    const bool fat32 = flavour_.entryBytes == 4;
    auto region = fatscan::voteDataRegion(directoryClusters, clusterBytes);
    if (bpb && bpb->clusterBytes() == clusterBytes) {
        dataRegionOffset = bpb->firstDataSector() * bpb->bytesPerSector;
    } else if (region) {
        dataRegionOffset = region->offset;
    } else if (fat32 && firstLabelPosition) {
        dataRegionOffset = *firstLabelPosition;
    } else {
        const std::uint64_t fatBytes = (volumeSize / clusterBytes + 2) * flavour_.entryBytes;
        const std::uint64_t rounded = (fatBytes + kSectorSize - 1) / kSectorSize * kSectorSize;
        const std::uint64_t fatStart = fatCandidates.empty() ? 0 : fatCandidates.front();
        dataRegionOffset = fatStart + 2 * rounded + (fat32 ? 0 : 16384);
    }
    if (dataRegionOffset >= volumeSize)
        return;
    // Only clusters inside the volume are read.
    const std::uint64_t clusters = (volumeSize - dataRegionOffset) / clusterBytes;
    fat.limitClusters(clusters);
    placeAdvancedRoot();

    appendDummyEntry();
    FatEntryRecord orphans;
    orphans.attributes = kDirectory;
    orphans.name = u"ORPHAN ENTRY";
    orphans.selfIndex = 1;
    entryList.push_back(std::move(orphans));
    parseRootDirectory(job);
    enterDeletedFolders(job);
    parseCandidateDirectory(job);
    enterDeletedFolders(job);
}

void FatVolume::parseCandidateDirectory(JobContext& job)
{
    constexpr std::uint32_t kOrphanFolder = 1;
    std::vector<std::uint8_t> cluster(static_cast<std::size_t>(clusterBytes));
    for (std::size_t i = 0; i < entryCandidates.size() && !job.stopSeen(stopRequested);) {
        const std::uint64_t at = entryCandidates[i];
        if (inRootRegion(at) || at < dataRegionOffset) {
            ++i;
            continue;
        }
        const std::uint64_t c = (at - dataRegionOffset) / clusterBytes + 2;
        // The candidates of one cluster are taken together.
        std::size_t j = i + 1;
        while (j < entryCandidates.size() && entryCandidates[j] >= dataRegionOffset &&
               (entryCandidates[j] - dataRegionOffset) / clusterBytes + 2 == c)
            ++j;
        const std::uint64_t last = entryCandidates[j - 1];
        i = j;
        if (!fat.isCluster(c) || visitedClusters.count(static_cast<std::uint32_t>(c)))
            continue;
        const std::uint64_t start = clusterOffset(static_cast<std::uint32_t>(c));
        readVolumeBytes(*reader, start, cluster);
        if (fatscan::directoryClusterAt(std::span(cluster).first(kSectorSize), start, flavour_.entryBytes == 4)) {
            // A folder whose own entry is lost: its entries, and the folders
            // below them, go under ORPHAN ENTRY.
            parseDirectory(kOrphanFolder, static_cast<std::uint32_t>(c), false, 1, job);
            continue;
        }
        // Part of a folder that no walk reached: the entries found in it.
        visitedClusters.insert(static_cast<std::uint32_t>(c));
        DirectoryState state;
        auto slots = std::span(cluster).subspan(static_cast<std::size_t>(at - start),
                                                static_cast<std::size_t>(last - at) + kSlotSize);
        parseSlots(slots, at, kOrphanFolder, state);
        enterSubfolders(state, 1, job);
    }
}

bool FatVolume::runAdvancedScan(JobContext& job, std::size_t choice, unsigned chosenSectorsPerCluster)
{
    attachVolume();
    volumeSize = withinDisk(*reader, volumeBytesFromSizeText(volumeSizeText));
    entryList.clear();
    if (choice >= fatCandidates.size()) {
        job.reporter().showMessage("No File system Entry Found.Process cannot be continue...");
        return false;
    }
    prepareAdvancedLayout(fatCandidates[choice], chosenSectorsPerCluster);
    scanForEntries(job);
    job.reporter().setStatusText("Maintaining directory Structure in AdvanceScanning");
    buildFromCandidates(job);
    const bool fat32 = flavour_.entryBytes == 4;
    job.reporter().setStatusText(fat32 ? "Maintaining TreeStructure for Tree Control"
                                       : "Maintaining Tree Structure for Tree Control");
    linkEntries(&job);
    announceFilledTree(job, topLevelEntries(), "Scanning process completed...");
    return true;
}

} // namespace qis
