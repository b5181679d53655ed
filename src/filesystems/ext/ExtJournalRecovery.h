#pragma once

#include "filesystems/ext/ExtJournal.h"
#include "filesystems/ext/ExtStructures.h"
#include "images/readWriteInterface.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qis::extjournal {

// A removed file or folder found through the journal: a name that an
// older copy of a folder's block still holds, and its inode as the newest
// copy of its inode-table block that still maps its data has it.
struct JournalEntry {
    std::uint32_t inodeNumber = 0;
    std::uint32_t parentInode = 0; // the folder whose block named it
    std::string name;
    extdisk::Inode inode;
    std::uint32_t inodeSequence = 0; // the transaction of that inode copy
    std::uint32_t nameSequence = 0;  // the transaction of the folder copy that named it
    bool inodeReused = false;        // a live file has the inode now: this is the file it held before
};

// When the driver removes a file it clears the inode's block map or
// extents and wipes the name from its folder; the journal often still
// holds the blocks as they were before. Nothing here writes to the volume.
class ExtJournalRecovery {
public:
    ExtJournalRecovery(readWriteInterface& reader, const extdisk::Superblock& sb,
                       const std::vector<extdisk::GroupDescriptor>& descriptors, const ExtJournal& journal)
        : reader_(reader), sb_(sb), descriptors_(descriptors), journal_(journal)
    {
    }

    // Walks the journal copies of the given folders' blocks (inode numbers;
    // their current block maps) and of every removed folder found so, and
    // returns each removed entry once, under the folder that last named it;
    // a file whose inode a live file has now, once for each name it had.
    // `inUse(n)` says whether inode n is in use now. `stop` may end it early.
    std::vector<JournalEntry> findRemoved(const std::vector<std::uint32_t>& folders,
                                          const std::function<bool(std::uint32_t)>& inUse,
                                          const std::function<bool()>& stop = {});

    // Where a recovered inode's data lay: its extent tree or indirect
    // blocks read as the journal held them at the inode copy's transaction
    // (or later ones still before it), the volume's own blocks otherwise.
    std::vector<extdisk::BlockRun> runsOf(const JournalEntry& entry, bool* complete = nullptr);

    static constexpr std::size_t kMaxEntries = 1u << 16;
    static constexpr std::size_t kMaxFolderBlocks = 1u << 16;
    // Journal copies of folder blocks read, and names looked up, in all: a
    // journal of nothing but copies of folders cannot make the walk read
    // without end.
    static constexpr std::size_t kMaxCopyReads = 1u << 18;

private:
    struct InodeCopy {
        extdisk::Inode inode;
        std::uint32_t generation = 0;
        std::uint32_t sequence = 0;
    };
    bool inodeLocation(std::uint32_t number, std::uint64_t& block, std::size_t& offset) const;
    bool currentInode(std::uint32_t number, extdisk::Inode& inode, std::uint32_t& generation);
    // Copies of the inode, newest first.
    std::vector<InodeCopy> inodeCopies(std::uint32_t number);
    std::vector<extdisk::BlockRun> runsAt(const extdisk::Inode& inode, std::uint32_t sequence, bool* complete);

    // The copies of the inode-table block read last: names come in inode
    // order, so the inodes of one block are looked at one after another.
    std::uint64_t cachedBlock_ = UINT64_MAX;
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> cachedCopies_;

    readWriteInterface& reader_;
    const extdisk::Superblock& sb_;
    const std::vector<extdisk::GroupDescriptor>& descriptors_;
    const ExtJournal& journal_;
};

// The volume as it was at a transaction for the blocks the journal kept
// (the newest copy of each from that transaction or before), the volume's
// own bytes elsewhere: what a recovered inode's map blocks are read through.
std::unique_ptr<readWriteInterface> journalOverlay(readWriteInterface& volume, const ExtJournal& journal,
                                                   std::uint64_t blockSize, std::uint32_t sequence);

// Whether the journal holds a copy of the block from that transaction or before.
bool hasCopyBy(const ExtJournal& journal, std::uint64_t block, std::uint32_t sequence);

// True when the inode still says where its data is: a non-empty extent
// tree, or any block pointer.
bool holdsBlockMap(const extdisk::Inode& inode);

} // namespace qis::extjournal
