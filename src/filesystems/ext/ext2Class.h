#pragma once

#include "filesystems/VolumeParser.h"
#include "filesystems/ext/ExtEntry.h"
#include "filesystems/ext/ExtStructures.h"
#include "images/readWriteInterface.h"
#include "jobs/JobRunner.h"
#include "util/DataSink.h"

#include <atomic>
#include <optional>
#include <unordered_set>
#include <string>
#include <vector>

namespace qis {

// An ext2, ext3 or ext4 volume: the superblock (or the first intact backup),
// the group descriptors (32 or 64 bytes), the inode tables, and the
// directories that name the inodes, linked under "ROOT".
class ext2Class {
public:
    static constexpr std::int64_t kRootKey = 2;

    explicit ext2Class(readWriteInterface& reader) : reader(&reader) {}
    ext2Class(const ext2Class&) = delete;
    ext2Class& operator=(const ext2Class&) = delete;

    readWriteInterface* reader;
    std::uint64_t volumeStartSector = 0;
    std::string volumeSizeText; // MiB as the volume list shows it
    std::uint64_t volumeSize = 0;
    std::atomic<bool> stopRequested{false};

    std::optional<extdisk::Superblock> superblock;
    std::uint64_t superblockOffset = 0;
    std::vector<extdisk::GroupDescriptor> descriptors;
    std::vector<ExtEntry> inodeList;       // in-use inodes in inode order, between the passes
    // The named entries and ROOT, ordered by key: a map kept as one array, so
    // that a volume of many thousands of files is built and walked quickly.
    std::vector<ExtEntry> entryMap;

    bool attachVolume();
    bool findSuperblock(JobContext& job);
    bool readGroupDescriptors();
    void readInodeTables(JobContext& job);
    void readDirectories(JobContext& job);
    void buildEntryMap(JobContext& job);
    void linkEntries(JobContext& job);
    // The passes in order, as one job; false when no superblock was found.
    bool runScan(JobContext& job);

    // Positions in the entry map of ROOT's children.
    [[nodiscard]] std::vector<std::int64_t> topLevelEntries() const;
    [[nodiscard]] const ExtEntry* entry(std::int64_t position) const;
    [[nodiscard]] std::int64_t positionOf(std::int64_t key) const;
    bool readInode(std::uint64_t inodeTableBlock, std::uint32_t indexInGroup, extdisk::Inode& inode);

    // Creation (the inode change time), access and modification texts and
    // the permission tokens; the size text. By position in the entry map.
    EntryDetails describeEntry(std::int64_t position, bool withTexts = true) const;
    // Writes a regular file's data, holes and never-written extents as zeros.
    bool saveEntryContents(std::int64_t position, DataSink& out);

private:
    void nameEntries(const ExtEntry& directory, JobContext& job);
    [[nodiscard]] std::uint64_t usedInodes(const extdisk::GroupDescriptor& d) const;
    // A name found where a removed entry was: kept, marked deleted, when its
    // inode is free (an ext2 or ext3 inode may still say where the data was).
    void nameDeleted(const extdisk::DirectoryEntry& entry, std::int64_t parent);
    ExtEntry* inodeEntry(std::uint64_t inodeNumber);
    std::vector<ExtEntry> extraNames_; // further names of inodes that have one already
    std::unordered_set<std::uint64_t> directoryBlocksSeen_;
};

// "-OE-OW-OR-GE-GW-GR-UE-UW-UR", the permission bits set in that order.
std::string extModeText(std::uint16_t mode);

} // namespace qis
