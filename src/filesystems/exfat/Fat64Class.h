#pragma once

#include "filesystems/ScanProblems.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/exfat/ExfatEntryRecord.h"
#include "filesystems/exfat/ExfatStructures.h"
#include "filesystems/fatfamily/ClusterCopy.h"
#include "filesystems/fatfamily/FatTable.h"
#include "filesystems/fatfamily/FreeClusters.h"
#include "filesystems/fatfamily/OtherDeletedRuns.h"
#include "images/readWriteInterface.h"
#include "jobs/JobRunner.h"
#include "util/DataSink.h"

#include <array>
#include <atomic>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace qis {

// An exFAT volume: directory entry sets in place of 32-byte short entries,
// files stored either as a FAT chain or as one run of clusters.
class Fat64Class {
public:
    explicit Fat64Class(readWriteInterface& reader) : reader(&reader) {}
    Fat64Class(const Fat64Class&) = delete;
    Fat64Class& operator=(const Fat64Class&) = delete;

    readWriteInterface* reader;
    std::uint64_t volumeStartSector = 0;
    std::string volumeSizeText; // MiB as the volume list shows it
    bool isDriveFormatted = false;
    std::atomic<bool> stopRequested{false};
    // What the scan could not read: the tree it leaves is partial.
    ScanProblems problems;

    std::array<std::uint8_t, 512> bootSector{};
    std::optional<exfatdisk::ExfatBootSector> boot;
    std::uint64_t bytesPerSector = 0;
    std::uint64_t sectorsPerCluster = 0;
    std::uint8_t sectorsPerClusterShift = 0; // what the advanced choices offer
    std::uint64_t fatPosition = 0;
    std::uint64_t heapPosition = 0;
    std::uint64_t clusterBytes = 0;
    FatTable fat;
    std::vector<ExfatEntryRecord> entryList;

    // Advanced mode: the FAT, the cluster heap and the cluster size come
    // from the user's picks among what the searches found; entry sets no
    // directory walk reaches are kept under "ORPHAN ENTRY".
    bool advancedMode = false;
    std::uint64_t volumeSize = 0; // bytes, from the volume list's size
    std::vector<std::uint64_t> fatCandidates;
    std::vector<std::uint64_t> heapCandidates;
    std::vector<std::uint64_t> entryCandidates;
    std::optional<std::uint64_t> firstLabelPosition; // a volume-label entry the entry scan met
    // Allocation-bitmap entries the FAT search met: they lie in the root
    // directory and say how many clusters the volume has.
    struct BitmapEntry {
        std::uint64_t position = 0;
        std::uint64_t length = 0;
    };
    std::vector<BitmapEntry> bitmapEntries;
    // The layout worked out from the first FAT and a bitmap entry, when the
    // boot sector is gone: the heap's position and the cluster-size shift.
    std::optional<std::uint64_t> derivedHeap;
    std::optional<unsigned> derivedShift;

    std::vector<std::uint64_t> findFatCandidates(std::size_t maximum, JobContext& job);
    // Up to maximum + 1 positions where the cluster heap may begin, the
    // boot sector's (or the derived) heap first.
    std::vector<std::uint64_t> findHeapCandidates(std::size_t maximum, JobContext& job);
    // The sectors-per-cluster shifts offered, most likely first.
    [[nodiscard]] std::vector<unsigned> clusterShiftChoices() const;
    void setAdvancedGeometry(unsigned shift);
    void scanForEntries(JobContext& job);
    void buildFromCandidates(std::uint64_t heap, std::uint64_t fatAt, JobContext& job);
    // The whole advanced scan as a job; false (with the message shown)
    // when a choice is missing.
    bool runAdvancedScan(JobContext& job, std::size_t fatChoice, std::size_t heapChoice, unsigned shift);

    void attachVolume();
    // Shows "cant read file" when sector 0 cannot be read.
    bool checkBootSector(JobReporter& reporter);
    bool runScan(JobContext& job);
    void linkEntries();
    [[nodiscard]] std::vector<std::uint32_t> topLevelEntries() const;

    [[nodiscard]] bool isFolder(std::uint32_t index) const
    {
        return index < entryList.size() && entryList[index].isFolder();
    }
    EntryDetails describeEntry(std::uint32_t index) const;
    // Writes a file's contents: its valid data, then zeros up to its length.
    // A deleted file's run comes from its entry; a deleted file whose FAT
    // chain was freed is read from clusters guessed the way FAT16 and
    // FAT32 guess them, free ones in a row from its first.
    bool saveEntryContents(std::uint32_t index, DataSink& out);
    // Another reading of a deleted file's guessed clusters (see
    // VolumeParser::saveGuess): passing over other deleted files' clusters.
    std::optional<bool> saveGuessedContents(std::uint32_t index, std::size_t reading, DataSink& out);
    // How much of a deleted entry a save gets back (Live for a live one).
    Recoverability entryRecoverability(std::uint32_t index);
    // The clusters the allocation bitmap says are free, read on first use;
    // nullptr when the root directory named no bitmap or it is too large
    // to hold.
    const FreeClusters* freeClusters();
    // Those clusters as byte runs from the volume's start; nullopt without
    // an allocation bitmap.
    std::optional<std::vector<ByteRun>> unallocatedSpace(std::uint64_t volumeBytes);

    [[nodiscard]] std::uint64_t clusterOffset(std::uint32_t cluster) const
    {
        return heapPosition + (std::uint64_t{cluster} - 2) * clusterBytes;
    }

private:
    struct Subfolder {
        std::uint32_t index;
        std::uint32_t firstCluster;
        std::uint64_t length;
        bool contiguous;
        bool deleted = false;
    };
    // Where the bytes of a directory were read: piece i, `pieceBytes` long,
    // from starts[i] bytes into the volume.
    struct DirectoryPlaces {
        std::vector<std::uint64_t> starts;
        std::uint64_t pieceBytes = 0;
        // The volume offset of byte `at`; 0 when no piece holds it.
        [[nodiscard]] std::uint64_t volumeOffset(std::uint64_t at) const
        {
            if (pieceBytes == 0 || at / pieceBytes >= starts.size())
                return 0;
            return starts[static_cast<std::size_t>(at / pieceBytes)] + at % pieceBytes;
        }
    };
    // The bytes of a directory: its chain, or its run of clusters, capped.
    // A deleted folder's freed chain is guessed like a deleted file's.
    std::vector<std::uint8_t> readDirectory(std::uint32_t firstCluster, std::uint64_t length, bool contiguous,
                                            bool deleted, DirectoryPlaces& places);
    // Where a deleted entry's data lies, judged against the bitmap.
    [[nodiscard]] static DeletedClusters::Layout deletedLayout(const ExfatEntryRecord& r)
    {
        return r.noFatChain() ? DeletedClusters::Layout::OneRun : DeletedClusters::Layout::Guessed;
    }
    void resetFreeClusters();
    bool saveContents(std::uint32_t index, std::span<const ClusterRun> passOver, DataSink& out);
    const OtherDeletedRuns& otherDeletedRuns(const FreeClusters& free);
    void parseDirectory(std::uint32_t index, const Subfolder& where, std::size_t depth, JobContext& job);
    void parseEntries(std::span<const std::uint8_t> bytes, const DirectoryPlaces& places, std::uint32_t parent,
                      std::vector<Subfolder>& subfolders);
    void enterSubfolders(const std::vector<Subfolder>& subfolders, std::size_t depth, JobContext& job);

    void deriveLayout();
    void parseOrphanSets(JobContext& job);

    std::unordered_set<std::uint32_t> visitedClusters_;
    // The allocation bitmap, as the root directory names it.
    std::uint32_t bitmapCluster_ = 0;
    std::uint64_t bitmapLength_ = 0;
    std::optional<FreeClusters> freeClusters_;
    bool freeClustersRead_ = false;
    std::optional<OtherDeletedRuns> otherDeletedRuns_;
    std::size_t otherDeletedRunsOf_ = 0; // entries when it was built
    std::vector<Subfolder> deletedFolders_;
    bool enteringDeleted_ = false;
    bool bootUnreadable_ = false;
};

} // namespace qis
