// The parts of the ext parser that read the journal: removed files whose
// inodes the kernel cleared, found through older copies of blocks.

#include "filesystems/ext/ExtJournalRecovery.h"
#include "filesystems/ext/ext2Class.h"

#include <algorithm>

namespace qis {

using namespace extdisk;

void ext2Class::addJournalEntries(JobContext& job)
{
    journal_.reset();
    if (!superblock)
        return;
    auto stop = [this, &job] { return job.stopSeen(stopRequested); };
    journal_ = extjournal::ExtJournal::open(*reader, *superblock, superblockOffset, descriptors, stop);
    if (!journal_ || journal_->index().copyCount() == 0)
        return;
    std::vector<std::uint32_t> folders;
    for (const ExtEntry& e : inodeList)
        if ((e.mode & kTypeMask) == kDirectory)
            folders.push_back(e.inodeIndex + 1);
    extjournal::ExtJournalRecovery recovery(*reader, *superblock, descriptors, *journal_);
    auto found = recovery.findRemoved(folders, [this](std::uint32_t n) { return inodeEntry(n) != nullptr; }, stop);

    auto name = [this](ExtEntry& e, const extjournal::JournalEntry& j) {
        const std::int64_t parent = j.parentInode == kRootInode ? kRootKey : static_cast<std::int64_t>(j.parentInode) - 1;
        e.name = j.name;
        e.named = true;
        e.parentKey = parent;
        deletedNamesSeen_.insert(std::to_string(parent) + '/' + std::to_string(j.inodeNumber) + '/' + j.name);
    };
    // A deleted inode that kept its own map is listed already: the journal
    // may still give it its name. The others are offered as the journal
    // holds them.
    std::vector<const extjournal::JournalEntry*> offered;
    for (const extjournal::JournalEntry& j : found) {
        if (j.inodeReused) {
            // Its number belongs to a live entry: listed as a further name.
            if (extraNames_.size() >= found.size() + inodeCopies_.size() + (std::size_t{1} << 20))
                continue;
            ExtEntry e;
            e.deleted = true;
            e.inodeIndex = j.inodeNumber - 1;
            e.takeInode(j.inode);
            e.inodeCopy = keepInodeCopy(j.inode, false);
            inodeCopies_.back().fromJournal = true;
            inodeCopies_.back().journalSequence = j.inodeSequence;
            name(e, j);
            extraNames_.push_back(std::move(e));
        } else if (ExtEntry* e = deletedEntry(j.inodeNumber)) {
            if (!e->named)
                name(*e, j);
        } else {
            offered.push_back(&j);
        }
    }
    for (const extjournal::JournalEntry* j : offered) {
        if (!addDeletedInode(j->inodeNumber, j->inode))
            continue;
        inodeCopies_.back().fromJournal = true;
        inodeCopies_.back().journalSequence = j->inodeSequence;
        name(deletedInodes.back(), *j);
    }
    std::stable_sort(deletedInodes.begin(), deletedInodes.end(),
                     [](const ExtEntry& a, const ExtEntry& b) { return a.inodeIndex < b.inodeIndex; });
}

std::vector<BlockRun> ext2Class::entryBlocks(const ExtEntry& e, const Inode& inode, bool* mapped, const BlockTest& taken)
{
    if (e.inodeCopy >= inodeCopies_.size() || !inodeCopies_[e.inodeCopy].fromJournal || !journal_)
        return collectBlocks(*reader, *superblock, inode, mapped, taken);
    // The map blocks the journal kept are read from it, whoever holds
    // those blocks now; only the others are asked about.
    const std::uint32_t sequence = inodeCopies_[e.inodeCopy].journalSequence;
    const extjournal::ExtJournal& journal = *journal_;
    BlockTest mapTaken;
    if (taken)
        mapTaken = [&](std::uint64_t b) { return !extjournal::hasCopyBy(journal, b, sequence) && taken(b); };
    auto overlay = extjournal::journalOverlay(*reader, journal, superblock->blockSize(), sequence);
    return collectBlocks(*overlay, *superblock, inode, mapped, mapTaken);
}

} // namespace qis
