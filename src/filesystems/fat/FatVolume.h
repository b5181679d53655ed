#pragma once

#include "filesystems/ScanProblems.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/fat/FatEntryRecord.h"
#include "filesystems/fat/FatStructures.h"
#include "filesystems/fatfamily/FatRecoveryScans.h"
#include "filesystems/fatfamily/FatTable.h"
#include "filesystems/fatfamily/FreeClusters.h"
#include "filesystems/fatfamily/OtherDeletedRuns.h"
#include "images/readWriteInterface.h"
#include "jobs/JobRunner.h"
#include "util/DataSink.h"
#include "volumes/FatBpb.h"

#include <array>
#include <atomic>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qis {

// What FAT16 and FAT32 share: the boot sector's layout, the directory walk
// over 32-byte slots with long names, the table of records, and saving by
// cluster chain. Fat16Class and Fat32Class say where the root directory is
// and how the two differ.
class FatVolume {
public:
    virtual ~FatVolume() = default;
    FatVolume(const FatVolume&) = delete;
    FatVolume& operator=(const FatVolume&) = delete;

    readWriteInterface* reader;
    std::uint64_t volumeStartSector = 0;
    std::string volumeSizeText; // MiB as the volume list shows it
    // The volume was formatted over the files: directories are read from
    // their first cluster only and files from consecutive clusters.
    bool isDriveFormatted = false;
    std::atomic<bool> stopRequested{false};
    // What the scan could not read: the tree it leaves is partial.
    ScanProblems problems;

    std::array<std::uint8_t, 512> bootSector{};
    std::optional<FatBpb> bpb;
    std::uint8_t sectorsPerCluster = 0;
    std::uint64_t clusterBytes = 0;
    std::uint64_t dataRegionOffset = 0; // byte offset of cluster 2
    FatTable fat;
    std::vector<FatEntryRecord> entryList;

    // Advanced mode: the boot sector is not trusted; the layout comes from a
    // FAT position and a cluster size the user picked among what the
    // searches found, and entries the walk cannot reach are kept under
    // "ORPHAN ENTRY".
    bool advancedMode = false;
    std::uint64_t volumeSize = 0; // bytes, from the volume list's size
    std::vector<std::uint64_t> fatCandidates;
    std::vector<std::uint64_t> entryCandidates;
    std::vector<fatscan::DirectoryCluster> directoryClusters; // subdirectories the FAT search met
    std::optional<std::uint64_t> firstLabelPosition;         // FAT32: a volume label or recycle folder
    // Where the chosen FAT's copies end, when the search found them one
    // after the other (0 when not known).
    std::uint64_t advancedFatEnd = 0;

    // Positions where a FAT begins, at most `maximum` of them.
    std::vector<std::uint64_t> findFatCandidates(std::size_t maximum, JobContext& job);
    // The cluster sizes (sectors per cluster) offered, most likely first.
    [[nodiscard]] std::vector<unsigned> clusterSizeChoices() const;
    // Every slot of the volume that looks like a directory entry.
    void scanForEntries(JobContext& job);
    void prepareAdvancedLayout(std::uint64_t fatPosition, unsigned chosenSectorsPerCluster);
    void buildFromCandidates(JobContext& job);
    // The whole advanced scan as a job, from candidate `choice` of
    // fatCandidates; false (with the message shown) when nothing can be built.
    bool runAdvancedScan(JobContext& job, std::size_t choice, unsigned chosenSectorsPerCluster);

    void attachVolume();
    // Reads sector 0 and keeps it when it is a boot sector of this kind.
    virtual bool checkBootSector() = 0;
    void loadFat();
    // Notes a boot sector whose counts leave no data region inside the volume.
    void checkLayout();
    // The whole standard scan as a job; false (with the message shown) when
    // the volume is not of this kind.
    bool runScan(JobContext& job);

    void linkEntries(JobContext* job);
    // The root directory's entries, the volume label and "DUMMY ENTRY" left out.
    [[nodiscard]] std::vector<std::uint32_t> topLevelEntries() const;

    [[nodiscard]] bool isFolder(std::uint32_t index) const;
    EntryDetails describeEntry(std::uint32_t index) const;
    // Writes a file's contents; false when not all of it could be found.
    // A deleted file's chain was cleared with its entry, so its clusters are
    // guessed: its first, then the free ones after it.
    bool saveEntryContents(std::uint32_t index, DataSink& out);
    // Another reading of a deleted file's guessed clusters (see
    // VolumeParser::saveGuess): passing over other deleted files' clusters.
    std::optional<bool> saveGuessedContents(std::uint32_t index, std::size_t reading, DataSink& out);
    // How much of a deleted entry that guess gets back (Live for a live one).
    Recoverability entryRecoverability(std::uint32_t index);
    // The clusters free in the FAT now, read from the table on first use.
    const FreeClusters& freeClusters();
    // Those clusters as byte runs from the volume's start; nullopt before
    // a layout (cluster size, data region, FAT) is known.
    std::optional<std::vector<ByteRun>> unallocatedSpace(std::uint64_t volumeBytes);

    [[nodiscard]] std::uint64_t clusterOffset(std::uint32_t cluster) const
    {
        return dataRegionOffset + (std::uint64_t{cluster} - 2) * clusterBytes;
    }

protected:
    struct Flavour {
        const char* name;            // "Fat16", "Fat32" in the status texts
        const char* notThisFormat;   // the message for a volume of another kind
        const char* completed;       // the message at the end of the scan
        bool freeSlotEndsDirectory;  // FAT32 stops at the first unused slot
        bool linkProgress;           // FAT16 shows progress while linking
        fatscan::TableSignature table; // how a FAT of this kind begins
        unsigned entryBytes;
        std::uint32_t entryMask;
    };
    FatVolume(readWriteInterface& reader, Flavour flavour) : reader(&reader), flavour_(flavour) {}

    // Appends the root directory's entries (and, below them, everything else).
    virtual void parseRootDirectory(JobContext& job) = 0;
    // Where the root directory is in an advanced layout, once the data
    // region is known.
    virtual void placeAdvancedRoot() = 0;
    // Entries found by the entry scan that no directory walk reached.
    void parseCandidateDirectory(JobContext& job);
    [[nodiscard]] virtual bool inRootRegion(std::uint64_t position) const = 0;
    bool readBootSector();

    // A directory being read: the long name gathered so far and the folders
    // it holds, entered once the directory itself is done.
    struct DirectoryState {
        std::vector<fatdisk::LongNamePart> pendingName;
        std::unordered_map<std::uint32_t, std::uint32_t> folderByCluster;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> subfolders; // record, first cluster
        std::size_t slots = 0;
    };
    // Records the entries of a run of slots read from `offset` bytes into
    // the volume; false when a free slot ends the directory.
    bool parseSlots(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint32_t parent,
                    DirectoryState& state);
    // Reads a directory's chain and records its entries, then enters its folders.
    void parseDirectory(std::uint32_t index, std::uint32_t firstCluster, bool isRoot, std::size_t depth,
                        JobContext& job);
    void enterSubfolders(DirectoryState& state, std::size_t depth, JobContext& job);
    // Deleted folders are entered after every live one, so a live folder that
    // took over a deleted folder's cluster keeps its own entries.
    void enterDeletedFolders(JobContext& job);
    void appendDummyEntry();

    Flavour flavour_;
    std::unordered_set<std::uint32_t> visitedClusters;
    // Made again whenever the FAT or its cluster count changes.
    std::optional<FreeClusters> freeClusters_;
    std::optional<OtherDeletedRuns> otherDeletedRuns_;
    std::size_t otherDeletedRunsOf_ = 0; // entries when it was built

private:
    bool saveContents(std::uint32_t index, std::span<const ClusterRun> passOver, DataSink& out);
    const OtherDeletedRuns& otherDeletedRuns();
    std::u16string nameOf(const fatdisk::DirectorySlot& slot, const std::vector<fatdisk::LongNamePart>& parts) const;
    // The cluster a deleted folder's directory goes on in, guessed as its
    // data is (the next free cluster), or FatTable::kEnd when `bytes`, the
    // cluster just read, does not end full or what follows does not read
    // as directory slots. `bytes` is left holding the next cluster.
    std::uint32_t guessNextDirectoryCluster(std::uint32_t cluster, std::vector<std::uint8_t>& bytes);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> deletedFolders_;
    std::size_t depthOfDeleted_ = 0;
};

} // namespace qis
