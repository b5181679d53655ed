#include "filesystems/exfat/Fat64Class.h"

#include "images/VolumeBytes.h"
#include "filesystems/VolumeSweep.h"
#include "filesystems/fatfamily/FatRecoveryScans.h"

#include "filesystems/fatfamily/ScanEnd.h"

#include <algorithm>
#include <cstdio>

namespace qis {

using namespace exfatdisk;

namespace {

constexpr std::size_t kMaxBitmapEntries = 64;
constexpr std::size_t kMaxEntryCandidates = 4u << 20;
// A set is at most 19 slots: a file entry, its stream and 17 name entries.
constexpr std::size_t kLongestSet = 19 * kSlotSize;
constexpr unsigned kLargestShift = 16; // 32 MiB clusters

} // namespace

std::vector<std::uint64_t> Fat64Class::findFatCandidates(std::size_t maximum, JobContext& job)
{
    if (maximum == 0)
        maximum = 3;
    volumeSize = withinDisk(*reader, volumeBytesFromSizeText(volumeSizeText));
    fatCandidates.clear();
    bitmapEntries.clear();
    job.reporter().setProgressRange(0, 1000);
    char text[64];
    sweepVolume(*reader, volumeSize, 0, [&](const SweepChunk& chunk) {
        job.reporter().setProgressPos(permille(chunk.start, volumeSize));
        for (std::size_t p = 0; p + kSectorSize <= chunk.length; p += kSectorSize) {
            auto sector = chunk.bytes.subspan(p, kSectorSize);
            if (fatCandidates.size() < maximum && fatscan::matchesTable(fatscan::TableSignature::Exfat, sector)) {
                fatCandidates.push_back(chunk.start + p);
                std::snprintf(text, sizeof text, "found fat entry  %zu ", fatCandidates.size());
                job.reporter().setStatusText(text);
            }
            if (bitmapEntries.size() >= kMaxBitmapEntries)
                continue;
            for (std::size_t s = 0; s < kSectorSize; s += kSlotSize)
                if (sector[s] == 0x81)
                    if (auto length = fatscan::exfatBitmapLength(sector.subspan(s, kSlotSize)))
                        bitmapEntries.push_back({chunk.start + p + s, *length});
        }
        if (job.stopSeen(stopRequested)) {
            stopRequested.store(false);
            return false;
        }
        return fatCandidates.size() < maximum || bitmapEntries.empty();
    });
    job.reporter().setProgressPos(1000);
    return fatCandidates;
}

void Fat64Class::deriveLayout()
{
    derivedHeap.reset();
    derivedShift.reset();
    if (fatCandidates.empty())
        return;
    const std::uint64_t fatAt = fatCandidates.front();
    // The bitmap holds a bit per cluster, so its length bounds the cluster
    // count; the FAT has an entry per cluster, and the heap follows it.
    // Its first sector is the first one after the FAT's entries that is not
    // empty: the bitmap, whose own cluster is always in use.
    for (const BitmapEntry& b : bitmapEntries) {
        const std::uint64_t fewestClusters = (b.length - 1) * 8 + 1;
        std::uint64_t from = fatAt + (fewestClusters + 2) * 4;
        from = (from + kSectorSize - 1) / kSectorSize * kSectorSize;
        if (from >= b.position || from >= volumeSize)
            continue;
        std::uint8_t sector[kSectorSize];
        std::optional<std::uint64_t> heap;
        // The gap between FAT and heap is alignment padding: at most a few MiB.
        const std::uint64_t searchEnd = std::min<std::uint64_t>(b.position, from + (64u << 20));
        for (std::uint64_t at = from; at < searchEnd; at += kSectorSize) {
            readVolumeBytes(*reader, at, sector);
            if (std::any_of(std::begin(sector), std::end(sector), [](std::uint8_t v) { return v != 0; })) {
                if (sector[0] & 1)
                    heap = at;
                break;
            }
        }
        if (!heap)
            continue;
        // The largest clusters at which the heap still holds that many.
        for (unsigned shift = kLargestShift + 1; shift-- > 0;) {
            const std::uint64_t k = std::uint64_t{kSectorSize} << shift;
            if ((volumeSize - *heap) / k >= fewestClusters) {
                derivedHeap = heap;
                derivedShift = shift;
                return;
            }
        }
    }
}

std::vector<std::uint64_t> Fat64Class::findHeapCandidates(std::size_t maximum, JobContext& job)
{
    if (maximum == 0)
        maximum = 3;
    heapCandidates.clear();
    bool stopped = false;
    sweepVolume(*reader, volumeSize, 0, [&](const SweepChunk& chunk) {
        for (std::size_t p = 0; p + kSectorSize <= chunk.length; p += kSectorSize) {
            if (stopRequested.load()) {
                stopRequested.store(false);
                stopped = true;
                return false;
            }
            if (fatscan::matchesTable(fatscan::TableSignature::ExfatHeap, chunk.bytes.subspan(p, kSectorSize))) {
                heapCandidates.push_back(chunk.start + p);
                if (heapCandidates.size() > maximum)
                    return false;
            }
        }
        return !job.stopSeen(stopRequested);
    });
    (void)stopped;
    // An intact boot sector says where the heap is; without one, the heap
    // worked out from the FAT and the bitmap comes first, since a bitmap
    // with a free cluster among its first 64 has no eight 0xFF bytes.
    std::optional<std::uint64_t> best;
    if (boot)
        best = heapPosition;
    else {
        deriveLayout();
        best = derivedHeap;
    }
    if (best) {
        if (boot && !heapCandidates.empty())
            heapCandidates.front() = *best;
        else
            heapCandidates.insert(heapCandidates.begin(), *best);
        // Listed once.
        auto again = std::find(heapCandidates.begin() + 1, heapCandidates.end(), *best);
        if (again != heapCandidates.end())
            heapCandidates.erase(again);
    }
    return heapCandidates;
}

std::vector<unsigned> Fat64Class::clusterShiftChoices() const
{
    std::vector<unsigned> choices;
    auto offer = [&](unsigned s) {
        if (std::find(choices.begin(), choices.end(), s) == choices.end())
            choices.push_back(s);
    };
    if (boot)
        offer(sectorsPerClusterShift);
    else if (derivedShift)
        offer(*derivedShift);
    for (unsigned s : {8u, 9u, 10u, 11u})
        offer(s);
    // Formatters choose 4 KiB to 128 KiB clusters on most volumes: shifts
    // 3 to 7, which the list above leaves out.
    for (unsigned s : {3u, 4u, 5u, 6u, 7u, 0u, 1u, 2u})
        offer(s);
    return choices;
}

void Fat64Class::setAdvancedGeometry(unsigned shift)
{
    advancedMode = true;
    bytesPerSector = kSectorSize;
    shift = std::min(shift, kLargestShift);
    sectorsPerClusterShift = static_cast<std::uint8_t>(shift);
    sectorsPerCluster = 1ull << shift;
    clusterBytes = bytesPerSector * sectorsPerCluster;
}

void Fat64Class::scanForEntries(JobContext& job)
{
    entryCandidates.clear();
    firstLabelPosition.reset();
    job.reporter().setProgressRange(0, 1000);
    char text[64];
    sweepVolume(*reader, volumeSize, kLongestSet, [&](const SweepChunk& chunk) {
        if (job.stopSeen(stopRequested)) {
            stopRequested.store(false);
            return false;
        }
        job.reporter().setProgressPos(permille(chunk.start, volumeSize));
        for (std::size_t at = 0; at + kSlotSize <= chunk.length && entryCandidates.size() < kMaxEntryCandidates;
             at += kSlotSize) {
            const std::uint8_t type = chunk.bytes[at];
            if (type == 0x83 && !firstLabelPosition &&
                std::all_of(chunk.bytes.begin() + static_cast<std::ptrdiff_t>(at + 24),
                            chunk.bytes.begin() + static_cast<std::ptrdiff_t>(at + 32), [](std::uint8_t v) { return v == 0; }))
                firstLabelPosition = chunk.start + at;
            if ((type == 0x85 || type == 0x05) && fatscan::isExfatSetCandidate(chunk.bytes.subspan(at))) {
                entryCandidates.push_back(chunk.start + at);
                std::snprintf(text, sizeof text, "found Entry %zu ", entryCandidates.size());
                job.reporter().setStatusText(text);
            }
        }
        return true;
    });
}

void Fat64Class::buildFromCandidates(std::uint64_t heap, std::uint64_t fatAt, JobContext& job)
{
    entryList.clear();
    visitedClusters_.clear();
    deletedFolders_.clear();
    resetFreeClusters();
    if (clusterBytes == 0 || heap >= volumeSize || fatAt >= volumeSize)
        return;
    heapPosition = heap;
    fatPosition = fatAt;
    const std::uint64_t clusters = (volumeSize - heap) / clusterBytes;
    fat = FatTable(*reader, fatAt, std::min((clusters + 2) * 4, volumeSize - fatAt), 4, 0xFFFFFFFF, clusters);

    ExfatEntryRecord root;
    root.attributes = 0x10;
    root.name = u"DUMMY ENTRY";
    entryList.push_back(std::move(root));
    ExfatEntryRecord orphans;
    orphans.attributes = 0x10;
    orphans.entryType = kFileEntry;
    orphans.name = u"ORPHAN ENTRY";
    orphans.selfIndex = 1;
    entryList.push_back(std::move(orphans));

    // The root directory is the one holding the bitmap's entry (or the
    // volume label's): its cluster is where that entry lies.
    std::optional<std::uint64_t> rootEntry;
    for (const BitmapEntry& b : bitmapEntries)
        if (b.position >= heap) {
            rootEntry = b.position;
            break;
        }
    if (!rootEntry && firstLabelPosition && *firstLabelPosition >= heap)
        rootEntry = firstLabelPosition;
    if (rootEntry) {
        auto rootCluster = static_cast<std::uint32_t>((*rootEntry - heap) / clusterBytes + 2);
        parseDirectory(0, Subfolder{0, rootCluster, 0, false}, 0, job);
    }
    enteringDeleted_ = true;
    for (std::size_t i = 0; i < deletedFolders_.size() && !stopRequested.load(); ++i)
        parseDirectory(deletedFolders_[i].index, deletedFolders_[i], 1, job);
    parseOrphanSets(job);
    for (std::size_t i = 0; i < deletedFolders_.size() && !stopRequested.load(); ++i)
        parseDirectory(deletedFolders_[i].index, deletedFolders_[i], 1, job);
    enteringDeleted_ = false;
    deletedFolders_.clear();
}

void Fat64Class::parseOrphanSets(JobContext& job)
{
    constexpr std::uint32_t kOrphanFolder = 1;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < entryCandidates.size() && !job.stopSeen(stopRequested);) {
        const std::uint64_t at = entryCandidates[i];
        if (at < heapPosition) {
            ++i;
            continue;
        }
        const std::uint64_t c = (at - heapPosition) / clusterBytes + 2;
        std::size_t j = i + 1;
        while (j < entryCandidates.size() && (entryCandidates[j] - heapPosition) / clusterBytes + 2 == c)
            ++j;
        const std::uint64_t last = entryCandidates[j - 1];
        i = j;
        if (!fat.isCluster(c) || !visitedClusters_.insert(static_cast<std::uint32_t>(c)).second)
            continue;
        // The sets of a folder that no walk reached, read to the end of the
        // last one (which may run into the next cluster).
        bytes.assign(static_cast<std::size_t>(last - at) + kLongestSet, 0);
        readVolumeBytes(*reader, at, bytes);
        std::vector<Subfolder> subfolders;
        parseEntries(bytes, DirectoryPlaces{{at}, bytes.size()}, kOrphanFolder, subfolders);
        enterSubfolders(subfolders, 1, job);
    }
}

bool Fat64Class::runAdvancedScan(JobContext& job, std::size_t fatChoice, std::size_t heapChoice, unsigned shift)
{
    if (fatChoice >= fatCandidates.size() || heapChoice >= heapCandidates.size()) {
        job.reporter().showMessage("No File system Entry Found.Process cannot be continue...");
        return false;
    }
    const std::uint64_t fatAt = fatCandidates[fatChoice];
    const std::uint64_t heap = heapCandidates[heapChoice];
    attachVolume();
    volumeSize = withinDisk(*reader, volumeBytesFromSizeText(volumeSizeText));
    setAdvancedGeometry(shift);
    entryList.clear();
    scanForEntries(job);
    job.reporter().setStatusText("Maintaining TreeStructure for Tree Control");
    if (heap > 0 && fatAt > 0)
        buildFromCandidates(heap, fatAt, job);
    linkEntries();
    announceFilledTree(job, topLevelEntries(), "Scanning process completed...");
    return true;
}

} // namespace qis
