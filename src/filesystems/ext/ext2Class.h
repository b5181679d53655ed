#pragma once

#include "filesystems/ScanProblems.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/ext/ExtBlockMap.h"
#include "filesystems/ext/ExtEntry.h"
#include "filesystems/ext/ExtJournal.h"
#include "filesystems/ext/ExtStructures.h"
#include "images/readWriteInterface.h"
#include "jobs/JobRunner.h"
#include "util/DataSink.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
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
    // What the scan could not read: the tree it leaves is partial.
    ScanProblems problems;

    std::optional<extdisk::Superblock> superblock;
    std::uint64_t superblockOffset = 0;
    std::vector<extdisk::GroupDescriptor> descriptors;
    std::vector<ExtEntry> inodeList;       // in-use inodes in inode order, between the passes
    // Deleted files and folders whose inode still says where their data was,
    // between the passes: named from directory slack where a name is left,
    // else listed under ORPHAN_ENTRY.
    std::vector<ExtEntry> deletedInodes;
    // The key of ORPHAN_ENTRY (the first key past the inodes); -1 when no
    // deleted inode was left without a name.
    std::int64_t orphanKey = -1;
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

    // Offers a deleted file or folder: inode `number` as `inode` holds it
    // (from the inode table, or an older copy kept elsewhere on the volume).
    // Call between readInodeTables and readDirectories. It is kept when it
    // is a file or folder that still maps data and its number is not used by
    // a live inode; the first copy offered for a number wins. The directory
    // pass then names it from the slack of a folder's blocks or puts it under
    // ORPHAN_ENTRY, and saving and recoverability go through this copy.
    // `blocksStillHeld`: the inode is still allocated (an unlinked file left
    // on the orphan list by a crash), so its blocks count as its own.
    bool addDeletedInode(std::uint32_t number, const extdisk::Inode& inode, bool blocksStillHeld = false);
    // Whether the group block bitmap marks the block allocated now. Blocks
    // of a group whose bitmap was never written or cannot be read count as
    // free: nothing says they were taken.
    bool blockInUse(std::uint64_t block);
    // Live for a live entry; for a deleted one: Whole when every block its
    // inode maps is free, PartlyOverwritten when some are allocated now,
    // None when its map is cleared or nothing it maps is left.
    Recoverability recoverabilityOf(std::int64_t position);
    // The blocks the group bitmaps mark free, as byte runs from the volume's
    // start; nullopt before the superblock and descriptors are read.
    std::optional<std::vector<ByteRun>> unallocatedSpace();

    // Creation (the inode change time), access and modification texts and
    // the permission tokens; the size text; the change and birth times, mode
    // and owner. By position in the entry map.
    EntryDetails describeEntry(std::int64_t position, bool withTexts = true) const;
    // Writes a regular file's data, holes and never-written extents as zeros.
    bool saveEntryContents(std::int64_t position, DataSink& out);
    // The byte offset of a regular file's first logical block, where its
    // inode (or the copy kept of it) still maps one; nullopt for inline
    // data, a hole at the start, or a map the kernel cleared.
    std::optional<std::uint64_t> firstDataByteOf(std::int64_t position);

private:
    void nameEntries(const ExtEntry& directory, JobContext& job);
    [[nodiscard]] std::uint64_t usedInodes(const extdisk::GroupDescriptor& d) const;
    // A name found where a removed entry was: kept, marked deleted, when its
    // inode is free (an ext2 or ext3 inode may still say where the data was).
    void nameDeleted(const extdisk::DirectoryEntry& entry, std::int64_t parent);
    // Names what one folder's blocks hold: live entries, and the names left
    // in their slack. A deleted folder's blocks that are allocated again
    // belong to someone else and are not read.
    void readFolderBlocks(const extdisk::Inode& inode, std::int64_t parent, bool deletedFolder, bool blocksHeld,
                          JobContext& job);
    // The deleted folders named so far whose blocks are not read yet.
    void readDeletedFolders(JobContext& job);
    void placeOrphans(JobContext& job);
    ExtEntry* inodeEntry(std::uint64_t inodeNumber);
    // Names the folders and files in use that no live directory entry named.
    void nameUnnamedLiveInodes();
    ExtEntry* deletedEntry(std::uint64_t inodeNumber);
    std::uint32_t keepInodeCopy(const extdisk::Inode& inode, bool blocksStillHeld);
    // The inode as the entry is saved from: its kept copy, or the table's.
    bool entryInode(const ExtEntry& e, extdisk::Inode& inode, bool& blocksHeld);
    // Where the entry's inode says its data lies; a copy taken from the
    // journal has its map blocks read as the journal held them then.
    std::vector<extdisk::BlockRun> entryBlocks(const ExtEntry& e, const extdisk::Inode& inode, bool* mapped,
                                               const BlockTest& taken);
    // Removed files and folders whose inodes the kernel cleared, from older
    // copies of folder and inode-table blocks in the journal (ext3, ext4):
    // offered as deleted inodes with the names those copies give.
    void addJournalEntries(JobContext& job);
    std::unique_ptr<extjournal::ExtJournal> journal_;
    // Whether the group's inode bitmap marks the inode allocated (true when
    // it cannot be read: the inode's own fields decide then).
    bool inodeAllocated(std::uint64_t inodeNumber);
    struct InodeCopy {
        extdisk::Inode inode;
        bool blocksStillHeld = false;
        bool fromJournal = false;
        std::uint32_t journalSequence = 0; // of the transaction the copy comes from
    };
    std::vector<InodeCopy> inodeCopies_;
    std::vector<ExtEntry> extraNames_; // further names of inodes that have one already
    // Names of inodes in use found in directory slack, by inode: name and parent key.
    std::unordered_map<std::uint32_t, std::pair<std::string, std::int64_t>> slackNames_;
    std::unordered_set<std::uint64_t> directoryBlocksSeen_;
    std::vector<std::uint32_t> pendingFolders_;  // deleted folders named, by inode number
    std::set<std::string> deletedNamesSeen_; // parent, inode and name of each deleted name listed
    // Bitmaps read when first asked for, one per group (empty: not read yet
    // or unreadable; `state` says which).
    struct BitmapCache {
        std::vector<std::vector<std::uint8_t>> bits;
        std::vector<std::uint8_t> state; // 0 not read, 1 read, 2 all free, 3 unknown
    };
    // Whether the bit says allocated; nullopt when the bitmap cannot tell.
    std::optional<bool> bitmapBit(BitmapCache& cache, bool inodes, std::uint64_t group, std::uint64_t bit);
    BitmapCache blockBitmaps_, inodeBitmaps_;
    std::mutex bitmapMutex_;
    std::vector<std::uint8_t> recoverability_; // per entry-map position: 0 not judged yet, else value + 1
    std::mutex recoverabilityMutex_;
};

// "-OE-OW-OR-GE-GW-GR-UE-UW-UR", the permission bits set in that order.
std::string extModeText(std::uint16_t mode);

} // namespace qis
