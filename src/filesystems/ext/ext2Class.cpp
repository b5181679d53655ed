#include "filesystems/ext/ext2Class.h"

#include "filesystems/DisplayText.h"
#include "filesystems/EntryWalk.h"
#include "images/VolumeBytes.h"
#include "filesystems/VolumeSweep.h"
#include "filesystems/ext/ExtBlockMap.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qis {

using namespace extdisk;

namespace {

// The first backup superblock lies one block group in; past this much of a
// volume no search for one is worth its time.
constexpr std::uint64_t kSuperblockSearchLimit = 1ull << 30;
constexpr std::size_t kSearchChunk = 1u << 20;
constexpr std::uint64_t kTableChunk = 4u << 20;
constexpr std::uint64_t kCopyPiece = 1u << 20;
// Deleted inodes kept for one volume at most, and deleted names of inodes
// with nothing left to map: each keeps a copy of its inode, so a crafted
// table cannot make the scan hold more than some tens of MiB of them.
constexpr std::size_t kMaxDeletedInodes = std::size_t{1} << 18;
constexpr const char* kOrphanName = "ORPHAN_ENTRY";

bool isListedType(std::uint16_t mode)
{
    std::uint16_t type = mode & kTypeMask;
    return type == kDirectory || type == kRegular;
}

// A directory entry's file type (with the feature) against the inode's
// mode: a name left for a file does not name a folder that later took its
// inode, and the other way round.
bool typeAgrees(std::uint8_t fileType, std::uint16_t mode)
{
    if (fileType == 0)
        return true;
    return (fileType == 1 && (mode & kTypeMask) == kRegular) || (fileType == 2 && (mode & kTypeMask) == kDirectory);
}

// blocks × block size, or the largest value where that does not fit.
std::uint64_t saturatingBytes(std::uint64_t blocks, std::uint64_t blockSize)
{
    return blocks > UINT64_MAX / blockSize ? UINT64_MAX : blocks * blockSize;
}

std::optional<UnixTime> unixTime(std::uint32_t seconds, std::uint32_t extra)
{
    if (seconds == 0)
        return std::nullopt;
    // The extra field's low two bits extend the 32-bit seconds past 2038.
    std::int64_t s = static_cast<std::int32_t>(seconds) + (static_cast<std::int64_t>(extra & 3) << 32);
    return UnixTime{s, std::min<std::int64_t>(extra >> 2, 999'999'999)};
}

// The runs cut where blocks change between free and allocated again, the
// allocated parts marked.
std::vector<BlockRun> splitTakenRuns(const std::vector<BlockRun>& runs, const BlockTest& taken)
{
    std::vector<BlockRun> out;
    for (const BlockRun& run : runs) {
        if (run.unwritten) {
            out.push_back(run);
            continue;
        }
        for (std::uint64_t b = 0; b < run.count;) {
            bool t = taken(run.physical + b);
            std::uint64_t n = 1;
            while (b + n < run.count && taken(run.physical + b + n) == t)
                ++n;
            BlockRun piece = run;
            piece.logical += b;
            piece.physical += b;
            piece.count = n;
            piece.taken = t;
            out.push_back(piece);
            b += n;
        }
    }
    return out;
}

} // namespace

std::string extModeText(std::uint16_t mode)
{
    static constexpr const char* kTokens[] = {"-OE", "-OW", "-OR", "-GE", "-GW", "-GR", "-UE", "-UW", "-UR"};
    std::string text;
    for (int bit = 0; bit < 9; ++bit)
        if (mode & (1u << bit))
            text += kTokens[bit];
    return text;
}

bool ext2Class::attachVolume()
{
    reader->baseOffset = static_cast<std::int64_t>(volumeStartSector * kSectorSize);
    volumeSize = withinDisk(*reader, volumeReachFromSizeText(volumeSizeText));
    return reader->seek(0, 0);
}

bool ext2Class::findSuperblock(JobContext& job)
{
    superblock.reset();
    // Without a size from the volume list, look as far as a backup can be.
    std::uint64_t end = volumeSize != 0 ? std::min(volumeSize, kSuperblockSearchLimit) : kSuperblockSearchLimit;
    if (end <= 1536)
        return false;
    // The primary copy at 1024, else the first intact backup at the start
    // of its group: read in large chunks, test every 512-byte position.
    std::vector<std::uint8_t> chunk(kSearchChunk + kSuperblockSize);
    for (std::uint64_t base = 1024; base + 512 < end; base += kSearchChunk) {
        if (job.stopSeen(stopRequested)) {
            stopRequested.store(false);
            return false;
        }
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), end - base + 512));
        readVolumeBytes(*reader, base, std::span(chunk).first(n));
        for (std::size_t at = 0; at + kSuperblockSize <= n && at < kSearchChunk; at += 512) {
            auto sb = Superblock::parse(std::span<const std::uint8_t>(chunk).subspan(at, kSuperblockSize));
            if (!sb || !sb->isAt(base + at))
                continue;
            // Nothing is read past the volume, whatever the superblock claims.
            if (volumeSize != 0)
                sb->blocksCount = std::min<std::uint64_t>(sb->blocksCount, volumeSize / sb->blockSize());
            superblock = sb;
            superblockOffset = base + at;
            return true;
        }
    }
    return false;
}

bool ext2Class::readGroupDescriptors()
{
    descriptors.clear();
    {
        std::lock_guard lock(bitmapMutex_);
        blockBitmaps_ = {};
        inodeBitmaps_ = {};
    }
    if (!superblock)
        return false;
    const Superblock& sb = *superblock;
    std::uint64_t B = sb.blockSize();
    auto bytes = checkedMul(sb.groupCount(), std::uint64_t{sb.descriptorSize});
    if (!bytes || *bytes == 0 || *bytes > kMaxTableBytes)
        return false;
    std::vector<std::uint8_t> table(static_cast<std::size_t>(*bytes));
    if (!readVolumeBytes(*reader, (superblockOffset / B + 1) * B, table))
        return false;
    for (std::uint64_t g = 0; g < sb.groupCount(); ++g)
        descriptors.push_back(GroupDescriptor::parse(
            std::span<const std::uint8_t>(table).subspan(g * sb.descriptorSize, sb.descriptorSize), sb.is64Bit()));
    return true;
}

std::uint64_t ext2Class::usedInodes(const GroupDescriptor& d) const
{
    const Superblock& sb = *superblock;
    // With group checksums the descriptor says how much of its table is in
    // use. A backup's descriptors date from when the backup was written and
    // may say too little, so with a backup every table is read whole.
    if (!sb.hasGroupChecksums() || superblockOffset != 1024)
        return sb.inodesPerGroup;
    return d.inodesUninitialised() ? 0 : sb.inodesPerGroup - std::min(d.unusedInodes, sb.inodesPerGroup);
}

void ext2Class::readInodeTables(JobContext& job)
{
    inodeList.clear();
    deletedInodes.clear();
    inodeCopies_.clear();
    const Superblock& sb = *superblock;
    const std::uint64_t B = sb.blockSize();
    const auto groups = progressValue(descriptors.size());
    job.reporter().setProgressRange(0, groups);
    std::vector<std::uint8_t> chunk;
    char text[96];
    // Room for every inode the descriptors say is in use, so the list is not copied as it grows.
    std::uint64_t inUse = 0;
    for (const GroupDescriptor& d : descriptors)
        inUse += usedInodes(d);
    // Only as much as the count and the volume can hold: the fields may lie.
    inUse = std::min({inUse, std::uint64_t{sb.inodesCount}, saturatingBytes(sb.blocksCount, B) / sb.inodeSize,
                      std::uint64_t{1} << 20});
    inodeList.reserve(static_cast<std::size_t>(inUse));
    for (std::int32_t g = 1; g <= groups; ++g) {
        if (job.stopSeen(stopRequested)) {
            stopRequested.store(false);
            return;
        }
        std::snprintf(text, sizeof text, "parsing group %d  of %d ", g, groups);
        job.reporter().setStatusText(text);
        job.reporter().setProgressPos(g);
        const GroupDescriptor& d = descriptors[static_cast<std::size_t>(g - 1)];
        std::uint64_t used = usedInodes(d);
        if (d.inodeTable == 0 || d.inodeTable >= sb.blocksCount) {
            if (used != 0)
                problems.add("Group " + std::to_string(g - 1) + "'s descriptor places its inode table at block " +
                                 std::to_string(d.inodeTable) + ", outside the volume's " +
                                 std::to_string(sb.blocksCount) + " blocks: its " + std::to_string(used) +
                                 " inodes could not be read.",
                             FurtherMode::BackupSuperblock);
            continue;
        }
        const std::uint64_t first = static_cast<std::uint64_t>(g - 1) * sb.inodesPerGroup;
        if (first >= sb.inodesCount)
            break;
        // A table ends with the volume and holds no more than the inode count.
        used = std::min({used, saturatingBytes(sb.blocksCount - d.inodeTable, B) / sb.inodeSize,
                         std::uint64_t{sb.inodesCount} - first});
        const std::uint64_t perChunk = std::max<std::uint64_t>(1, kTableChunk / sb.inodeSize);
        for (std::uint64_t i0 = 0; i0 < used; i0 += perChunk) {
            std::uint64_t count = std::min(perChunk, used - i0);
            chunk.resize(static_cast<std::size_t>(count * sb.inodeSize));
            // An unreadable table gives no entries; the others keep their numbers.
            if (!readVolumeBytes(*reader, d.inodeTable * B + i0 * sb.inodeSize, chunk)) {
                problems.add("Part of group " + std::to_string(g - 1) + "'s inode table could not be read.");
                continue;
            }
            for (std::uint64_t i = 0; i < count; ++i) {
                std::uint64_t number = first + i0 + i + 1;
                if (number > sb.inodesCount)
                    break;
                Inode inode = Inode::parse(std::span<const std::uint8_t>(chunk).subspan(i * sb.inodeSize, sb.inodeSize));
                // debugfs's kill_file frees an inode and its blocks in the
                // bitmaps and sets the deletion time, but leaves its link
                // count; a file being truncated at a crash has a deletion
                // time too (the orphan list's link) and stays allocated.
                bool live = inode.inUse() && (inode.dtime == 0 || inodeAllocated(number));
                if (!live) {
                    // Still allocated with no links: an unlinked file on
                    // the orphan list, whose blocks are still its own.
                    if (isListedType(inode.mode) && inode.holdsMap())
                        addDeletedInode(static_cast<std::uint32_t>(number), inode, inodeAllocated(number));
                    continue;
                }
                ExtEntry e;
                e.inodeIndex = static_cast<std::uint32_t>(number - 1);
                e.takeInode(inode);
                e.inodeTableBlock = d.inodeTable;
                e.indexInGroup = static_cast<std::uint32_t>(i0 + i);
                inodeList.push_back(std::move(e));
            }
        }
    }
}

namespace {

// The entry of an inode in a list kept in inode order; nullptr when absent.
ExtEntry* findByInode(std::vector<ExtEntry>& list, std::uint64_t inodeNumber)
{
    if (inodeNumber == 0)
        return nullptr;
    auto it = std::lower_bound(list.begin(), list.end(), inodeNumber - 1,
                               [](const ExtEntry& e, std::uint64_t index) { return e.inodeIndex < index; });
    return it != list.end() && it->inodeIndex == inodeNumber - 1 ? &*it : nullptr;
}

} // namespace

ExtEntry* ext2Class::inodeEntry(std::uint64_t inodeNumber) { return findByInode(inodeList, inodeNumber); }

ExtEntry* ext2Class::deletedEntry(std::uint64_t inodeNumber) { return findByInode(deletedInodes, inodeNumber); }

std::uint32_t ext2Class::keepInodeCopy(const Inode& inode, bool blocksStillHeld)
{
    inodeCopies_.push_back({inode, blocksStillHeld});
    return static_cast<std::uint32_t>(inodeCopies_.size() - 1);
}

bool ext2Class::addDeletedInode(std::uint32_t number, const Inode& inode, bool blocksStillHeld)
{
    if (!superblock || number < kRootInode || number > superblock->inodesCount || !isListedType(inode.mode) ||
        !inode.holdsMap() || deletedInodes.size() >= kMaxDeletedInodes)
        return false;
    const Superblock& sb = *superblock;
    std::uint64_t group = (number - 1) / sb.inodesPerGroup;
    if (group >= descriptors.size())
        return false;
    ExtEntry e;
    e.deleted = true;
    e.inodeIndex = number - 1;
    e.takeInode(inode);
    e.inodeTableBlock = descriptors[group].inodeTable;
    e.indexInGroup = static_cast<std::uint32_t>((number - 1) % sb.inodesPerGroup);
    e.inodeCopy = keepInodeCopy(inode, blocksStillHeld);
    deletedInodes.push_back(std::move(e));
    return true;
}

std::optional<bool> ext2Class::bitmapBit(BitmapCache& cache, bool inodes, std::uint64_t group, std::uint64_t bit)
{
    if (group >= descriptors.size())
        return std::nullopt;
    if (cache.state.size() != descriptors.size()) {
        cache.state.assign(descriptors.size(), 0);
        cache.bits.assign(descriptors.size(), {});
    }
    const GroupDescriptor& d = descriptors[group];
    auto g = static_cast<std::size_t>(group);
    if (cache.state[g] == 0) {
        const std::uint64_t B = superblock->blockSize();
        std::uint64_t at = inodes ? d.inodeBitmap : d.blockBitmap;
        // Only when group checksums are on do these flags mean anything.
        bool uninitialised =
            superblock->hasGroupChecksums() && (inodes ? d.inodesUninitialised() : d.blocksUninitialised());
        if (uninitialised) {
            cache.state[g] = 2;
        } else if (at == 0 || at >= superblock->blocksCount) {
            cache.state[g] = 3;
        } else {
            cache.bits[g].resize(static_cast<std::size_t>(B));
            cache.state[g] = readVolumeBytes(*reader, at * B, cache.bits[g]) ? 1 : 3;
            if (cache.state[g] == 3)
                cache.bits[g] = {};
        }
    }
    if (cache.state[g] == 2)
        return false;
    if (cache.state[g] == 3 || bit / 8 >= cache.bits[g].size())
        return std::nullopt;
    return (cache.bits[g][static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1;
}

bool ext2Class::inodeAllocated(std::uint64_t inodeNumber)
{
    if (!superblock || inodeNumber == 0)
        return true;
    std::lock_guard lock(bitmapMutex_);
    const std::uint64_t ipg = superblock->inodesPerGroup;
    return bitmapBit(inodeBitmaps_, true, (inodeNumber - 1) / ipg, (inodeNumber - 1) % ipg).value_or(true);
}

bool ext2Class::blockInUse(std::uint64_t block)
{
    if (!superblock)
        return false;
    const Superblock& sb = *superblock;
    if (block < sb.firstDataBlock)
        return true; // the boot block of a 1 KiB-block volume
    std::lock_guard lock(bitmapMutex_);
    std::uint64_t n = block - sb.firstDataBlock;
    return bitmapBit(blockBitmaps_, false, n / sb.blocksPerGroup, n % sb.blocksPerGroup).value_or(false);
}

bool ext2Class::readInode(std::uint64_t inodeTableBlock, std::uint32_t indexInGroup, Inode& inode)
{
    if (!superblock)
        return false;
    std::vector<std::uint8_t> bytes(superblock->inodeSize);
    bool ok = readVolumeBytes(*reader, inodeTableBlock * superblock->blockSize() + std::uint64_t{indexInGroup} * bytes.size(),
                              bytes);
    inode = Inode::parse(bytes);
    return ok;
}

void ext2Class::nameEntries(const ExtEntry& directory, JobContext& job)
{
    Inode inode;
    if (!readInode(directory.inodeTableBlock, directory.indexInGroup, inode))
        return;
    // The root's entries hang under ROOT; every other directory's under itself.
    const std::int64_t parent =
        directory.inodeIndex + 1 == kRootInode ? kRootKey : static_cast<std::int64_t>(directory.inodeIndex);
    readFolderBlocks(inode, parent, false, true, job);
}

void ext2Class::readFolderBlocks(const Inode& inode, std::int64_t parent, bool deletedFolder, bool blocksHeld,
                                 JobContext& job)
{
    const std::uint64_t B = superblock->blockSize();
    // A deleted folder's map blocks that were given away since say nothing about it.
    BlockTest taken;
    if (!blocksHeld)
        taken = [this](std::uint64_t b) { return blockInUse(b); };
    std::vector<std::uint8_t> data;
    for (const BlockRun& run : collectBlocks(*reader, *superblock, inode, nullptr, taken)) {
        if (run.unwritten)
            continue;
        for (std::uint64_t b = 0; b < run.count; b += kCopyPiece / B) {
            if (job.stopSeen(stopRequested))
                return;
            std::uint64_t n = std::min(run.count - b, std::max<std::uint64_t>(1, kCopyPiece / B));
            data.resize(static_cast<std::size_t>(n * B));
            readVolumeBytes(*reader, (run.physical + b) * B, data);
            for (std::uint64_t k = 0; k < n; ++k) {
                // A block is read as a directory once: damaged maps that share
                // blocks cannot make the pass read the volume over and over,
                // and deleted folders cannot lead round in a loop.
                std::uint64_t blockNumber = run.physical + b + k;
                if (taken && taken(blockNumber))
                    continue;
                if (!directoryBlocksSeen_.insert(blockNumber).second)
                    continue;
                auto block = std::span<const std::uint8_t>(data).subspan(k * B, B);
                for (const DirectoryEntry& d : directoryEntries(block, superblock->hasFileType())) {
                    if (d.inode == 0 || d.inode > superblock->inodesCount)
                        continue;
                    std::string name(d.name.begin(), d.name.end());
                    if (name.empty() || name == "." || name == "..")
                        continue;
                    ExtEntry* child = inodeEntry(d.inode);
                    if (child == nullptr) {
                        // The name is still linked but its inode was freed
                        // (debugfs's kill_file), or the whole folder is deleted.
                        nameDeleted(d, parent);
                        continue;
                    }
                    if (!child->named) {
                        child->name = std::move(name);
                        child->named = true;
                        child->parentKey = parent;
                    } else if (!deletedFolder && !child->name.empty() && (child->mode & kTypeMask) != kDirectory) {
                        // A hard link: each of the file's names is shown.
                        ExtEntry link = *child;
                        link.name = std::move(name);
                        link.parentKey = parent;
                        link.firstChild = link.nextSibling = -1;
                        extraNames_.push_back(std::move(link));
                    }
                }
                for (const DirectoryEntry& d : deletedEntries(block, superblock->hasFileType()))
                    nameDeleted(d, parent);
            }
        }
    }
}

void ext2Class::nameDeleted(const DirectoryEntry& d, std::int64_t parent)
{
    const Superblock& sb = *superblock;
    if (d.inode < kRootInode || d.inode > sb.inodesCount)
        return;
    if (const ExtEntry* live = inodeEntry(d.inode)) {
        // The inode is in use again, by this file's other name or another
        // file. Kept for an inode that no live entry names in the end: a
        // damaged record length before a live entry hides it in this slack.
        std::string name(d.name.begin(), d.name.end());
        if (name != "." && name != ".." && !name.empty() && typeAgrees(d.fileType, live->mode))
            slackNames_.try_emplace(d.inode, std::move(name), parent);
        return;
    }
    std::string name(d.name.begin(), d.name.end());
    if (name == "." || name == "..")
        return;
    // The same name is often left twice (an older copy of the block's
    // entries further on); it is listed once.
    std::string seen = std::to_string(parent) + '/' + std::to_string(d.inode) + '/' + name;
    if (deletedNamesSeen_.count(seen) != 0)
        return;
    if (ExtEntry* e = deletedEntry(d.inode)) {
        if (!typeAgrees(d.fileType, e->mode))
            return;
        deletedNamesSeen_.insert(std::move(seen));
        if (!e->named) {
            e->name = std::move(name);
            e->named = true;
            e->parentKey = parent;
            if ((e->mode & kTypeMask) == kDirectory)
                pendingFolders_.push_back(d.inode);
        } else if ((e->mode & kTypeMask) == kRegular) {
            ExtEntry link = *e;
            link.name = std::move(name);
            link.parentKey = parent;
            link.firstChild = link.nextSibling = -1;
            extraNames_.push_back(std::move(link));
        }
        return;
    }
    // An inode with nothing left to map (the kernel clears the map when it
    // deletes): listed all the same, so the name is seen.
    std::uint64_t group = (d.inode - 1) / sb.inodesPerGroup;
    if (group >= descriptors.size() || extraNames_.size() >= kMaxDeletedInodes)
        return;
    ExtEntry e;
    e.inodeTableBlock = descriptors[group].inodeTable;
    e.indexInGroup = static_cast<std::uint32_t>((d.inode - 1) % sb.inodesPerGroup);
    Inode inode;
    if (e.inodeTableBlock == 0 || e.inodeTableBlock >= sb.blocksCount || !readInode(e.inodeTableBlock, e.indexInGroup, inode))
        return;
    if (!isListedType(inode.mode) || !typeAgrees(d.fileType, inode.mode))
        return;
    deletedNamesSeen_.insert(std::move(seen));
    e.name = std::move(name);
    e.named = true;
    e.deleted = true;
    e.inodeIndex = d.inode - 1;
    e.parentKey = parent;
    e.takeInode(inode);
    e.inodeCopy = keepInodeCopy(inode, inodeAllocated(d.inode));
    extraNames_.push_back(std::move(e));
}

void ext2Class::readDeletedFolders(JobContext& job)
{
    // Each deleted folder is pushed once (when it is first named), so this
    // ends after at most as many rounds as there are deleted folders.
    while (!pendingFolders_.empty()) {
        if (job.stopSeen(stopRequested))
            return;
        std::uint32_t number = pendingFolders_.back();
        pendingFolders_.pop_back();
        const ExtEntry* folder = deletedEntry(number);
        if (folder == nullptr || folder->inodeCopy >= inodeCopies_.size())
            continue;
        InodeCopy copy = inodeCopies_[folder->inodeCopy];
        readFolderBlocks(copy.inode, static_cast<std::int64_t>(folder->inodeIndex), true, copy.blocksStillHeld, job);
    }
}

void ext2Class::placeOrphans(JobContext& job)
{
    // Folders first, each with what its blocks still name, so that a file
    // found in a deleted folder is listed there rather than on its own.
    auto place = [this](ExtEntry& e) {
        e.name = "#" + std::to_string(e.inodeIndex + 1); // as e2fsck names what it puts in lost+found
        e.named = true;
        e.parentKey = orphanKey;
    };
    for (std::size_t i = 0; i < deletedInodes.size(); ++i) {
        ExtEntry& e = deletedInodes[i];
        if (e.named || (e.mode & kTypeMask) != kDirectory)
            continue;
        place(e);
        pendingFolders_.push_back(e.inodeIndex + 1);
        readDeletedFolders(job);
        if (stopRequested.load())
            return;
    }
    for (ExtEntry& e : deletedInodes)
        if (!e.named)
            place(e);
}

void ext2Class::nameUnnamedLiveInodes()
{
    // A folder or file in use that no directory entry names would vanish
    // from the tree with everything under it (a single damaged record
    // length hides every entry after it in its block). The name left in
    // the block's unused space places it; without one it is listed under
    // ORPHAN_ENTRY by number, as e2fsck names what it finds.
    std::size_t placed = 0, orphaned = 0;
    for (ExtEntry& e : inodeList) {
        const std::uint64_t number = e.inodeIndex + std::uint64_t{1};
        if (e.named || number < superblock->firstInode || !isListedType(e.mode))
            continue;
        e.named = true;
        if (auto slack = slackNames_.find(static_cast<std::uint32_t>(number)); slack != slackNames_.end()) {
            e.name = slack->second.first;
            e.parentKey = slack->second.second;
            ++placed;
        } else {
            e.name = "#" + std::to_string(number);
            e.parentKey = orphanKey;
            ++orphaned;
        }
    }
    slackNames_.clear();
    if (placed != 0)
        problems.add(std::to_string(placed) + " folders and files in use that no directory entry names (a damaged "
                     "entry hides them) were placed by the names left in their folder's unused space.");
    if (orphaned != 0)
        problems.add(std::to_string(orphaned) + " folders and files in use that no directory entry names are listed "
                     "under ORPHAN_ENTRY by inode number.");
}

void ext2Class::readDirectories(JobContext& job)
{
    extraNames_.clear();
    slackNames_.clear();
    directoryBlocksSeen_.clear();
    pendingFolders_.clear();
    deletedNamesSeen_.clear();
    orphanKey = static_cast<std::int64_t>(superblock->inodesCount);
    // Copies offered from elsewhere come in any order: sorted by number,
    // the first offered for each number kept, none that is live.
    std::stable_sort(deletedInodes.begin(), deletedInodes.end(),
                     [](const ExtEntry& a, const ExtEntry& b) { return a.inodeIndex < b.inodeIndex; });
    deletedInodes.erase(std::unique(deletedInodes.begin(), deletedInodes.end(),
                                    [](const ExtEntry& a, const ExtEntry& b) { return a.inodeIndex == b.inodeIndex; }),
                        deletedInodes.end());
    std::erase_if(deletedInodes, [this](const ExtEntry& e) { return inodeEntry(e.inodeIndex + 1) != nullptr; });
    addJournalEntries(job);
    const auto n = progressValue(inodeList.size());
    job.reporter().setProgressRange(0, n);
    char text[96];
    std::uint64_t shownGroup = UINT64_MAX;
    for (std::size_t i = 0; i < inodeList.size(); ++i) {
        std::uint64_t group = inodeList[i].inodeIndex / superblock->inodesPerGroup;
        if (group != shownGroup) {
            if (job.stopSeen(stopRequested)) {
                stopRequested.store(false);
                return;
            }
            shownGroup = group;
            std::snprintf(text, sizeof text, "parsing inode entry %d  of %d ", static_cast<int>(i + 1), n);
            job.reporter().setStatusText(text);
            job.reporter().setProgressPos(static_cast<std::int32_t>(i + 1));
        }
        if ((inodeList[i].mode & kTypeMask) == kDirectory) {
            ExtEntry directory = inodeList[i];
            nameEntries(directory, job);
            if (stopRequested.load()) {
                stopRequested.store(false);
                return;
            }
        }
    }
    nameUnnamedLiveInodes();
    readDeletedFolders(job);
    if (!stopRequested.load())
        placeOrphans(job);
    if (stopRequested.load()) {
        stopRequested.store(false);
        return;
    }
    std::snprintf(text, sizeof text, "parsed inode entry %d  of %d ", n, n);
    job.reporter().setStatusText(text);
    job.reporter().setProgressPos(n);
}

void ext2Class::buildEntryMap(JobContext& job)
{
    job.reporter().setStatusText("clearing vector....");
    ExtEntry root;
    root.key = kRootKey;
    root.name = "ROOT";
    root.named = true;
    root.inodeIndex = kRootInode - 1;
    root.mode = kDirectory;
    if (ExtEntry* inode = inodeEntry(kRootInode)) {
        root.inodeTableBlock = inode->inodeTableBlock;
        root.indexInGroup = inode->indexInGroup;
        root.atime = inode->atime;
        root.ctime = inode->ctime;
        root.mtime = inode->mtime;
        root.atimeNanos = inode->atimeNanos;
        root.ctimeNanos = inode->ctimeNanos;
        root.mtimeNanos = inode->mtimeNanos;
        root.crtime = inode->crtime;
        root.crtimeExtra = inode->crtimeExtra;
        root.uid = inode->uid;
        root.gid = inode->gid;
        // ROOT is a folder whatever a damaged inode 2 says.
        if ((inode->mode & kTypeMask) == kDirectory)
            root.mode = inode->mode;
    }
    // The named deleted inodes keep their numbers as keys (no live inode
    // has them), so the children found in a deleted folder's blocks hang
    // under it.
    bool anyOrphan = false;
    const auto liveCount = static_cast<std::ptrdiff_t>(inodeList.size());
    for (ExtEntry& e : deletedInodes)
        if (e.named) {
            anyOrphan = anyOrphan || e.parentKey == orphanKey;
            inodeList.push_back(std::move(e));
        }
    deletedInodes.clear();
    deletedInodes.shrink_to_fit();
    std::inplace_merge(inodeList.begin(), inodeList.begin() + liveCount, inodeList.end(),
                       [](const ExtEntry& a, const ExtEntry& b) { return a.inodeIndex < b.inodeIndex; });
    entryMap.clear();
    entryMap.reserve(inodeList.size() + extraNames_.size() + 2);
    bool rootPlaced = false;
    for (ExtEntry& e : inodeList) {
        if (!e.named)
            continue;
        anyOrphan = anyOrphan || e.parentKey == orphanKey;
        e.key = static_cast<std::int64_t>(e.inodeIndex);
        if (!rootPlaced && e.key >= kRootKey) {
            entryMap.push_back(root);
            rootPlaced = true;
        }
        if (e.key != kRootKey) // ROOT takes the place of whatever had its key
            entryMap.push_back(std::move(e));
    }
    if (!rootPlaced)
        entryMap.push_back(root);
    if (anyOrphan) {
        ExtEntry orphans;
        orphans.key = orphanKey;
        orphans.name = kOrphanName;
        orphans.named = true;
        orphans.mode = kDirectory;
        entryMap.push_back(std::move(orphans));
    } else {
        orphanKey = -1;
    }
    std::int64_t key = static_cast<std::int64_t>(superblock->inodesCount) + 1;
    for (ExtEntry& e : extraNames_) {
        e.key = key++;
        entryMap.push_back(std::move(e));
    }
    extraNames_.clear();
    directoryBlocksSeen_ = {};
    deletedNamesSeen_ = {};
    inodeList.clear();
    inodeList.shrink_to_fit();
    std::lock_guard lock(recoverabilityMutex_);
    recoverability_.assign(entryMap.size(), 0);
}

std::int64_t ext2Class::positionOf(std::int64_t key) const
{
    auto it = std::lower_bound(entryMap.begin(), entryMap.end(), key,
                               [](const ExtEntry& e, std::int64_t k) { return e.key < k; });
    return it != entryMap.end() && it->key == key ? it - entryMap.begin() : -1;
}

void ext2Class::linkEntries(JobContext& job)
{
    job.reporter().setStatusText("Maintaining Parent Child....");
    const auto count = progressValue(entryMap.size());
    job.reporter().setProgressRange(0, count);
    char text[96];
    for (std::size_t k = 0; k < entryMap.size(); ++k) {
        if (k % 1024 == 0) {
            if (job.stopSeen(stopRequested))
                return;
            std::snprintf(text, sizeof text, "Maintaining Parent Child for record %d of %d....", static_cast<int>(k),
                          count);
            job.reporter().setStatusText(text);
            job.reporter().setProgressPos(static_cast<std::int32_t>(k + 1));
        }
        ExtEntry& e = entryMap[k];
        // Only folders and regular files are shown: links, devices, pipes
        // and sockets have no contents to recover.
        std::uint16_t type = e.mode & kTypeMask;
        if (e.parentKey <= 0 || e.parentKey == e.key || (type != kDirectory && type != kRegular))
            continue;
        std::int64_t parent = positionOf(e.parentKey);
        if (parent < 0)
            continue;
        // At the head of the parent's list, so children come in descending key order.
        e.nextSibling = entryMap[static_cast<std::size_t>(parent)].firstChild;
        entryMap[static_cast<std::size_t>(parent)].firstChild = static_cast<std::int64_t>(k);
    }
    job.reporter().setProgressPos(count);
}

bool ext2Class::runScan(JobContext& job)
{
    problems.clear();
    attachVolume();
    if (!findSuperblock(job) || !readGroupDescriptors())
        return false;
    readInodeTables(job);
    readDirectories(job);
    buildEntryMap(job);
    linkEntries(job);
    job.reporter().setStatusText("filling root entries in  tree....");
    return true;
}

const ExtEntry* ext2Class::entry(std::int64_t position) const
{
    return position >= 0 && static_cast<std::uint64_t>(position) < entryMap.size()
               ? &entryMap[static_cast<std::size_t>(position)]
               : nullptr;
}

std::vector<std::int64_t> ext2Class::topLevelEntries() const
{
    std::vector<std::int64_t> top;
    const ExtEntry* root = entry(positionOf(kRootKey));
    for (std::int64_t c = root ? root->firstChild : -1; c >= 0 && top.size() < entryMap.size();) {
        const ExtEntry* e = entry(c);
        if (!e)
            break;
        top.push_back(c);
        c = e->nextSibling;
    }
    // Deleted files and folders no name was left for, after the root's entries.
    if (orphanKey >= 0)
        if (std::int64_t orphans = positionOf(orphanKey); orphans >= 0)
            top.push_back(orphans);
    return top;
}

EntryDetails ext2Class::describeEntry(std::int64_t position, bool withTexts) const
{
    EntryDetails d;
    const ExtEntry* e = entry(position);
    if (!e)
        return d;
    d.size = (e->mode & kTypeMask) == kDirectory ? 0 : e->size;
    d.creation = unixTime(e->ctime, e->ctimeNanos);
    d.access = unixTime(e->atime, e->atimeNanos);
    d.modification = unixTime(e->mtime, e->mtimeNanos);
    d.change = d.creation; // the list has always shown i_ctime as the creation time
    d.creationIsChange = true;
    d.birth = unixTime(e->crtime, e->crtimeExtra);
    // A name with no inode behind it (ORPHAN_ENTRY, a ROOT whose inode was
    // not read) has no mode or owner to tell.
    if (e->inodeTableBlock != 0 || e->inodeCopy != UINT32_MAX) {
        d.mode = e->mode;
        d.uid = e->uid;
        d.gid = e->gid;
    }
    if (withTexts) {
        d.creationText = d.creation ? formatUnixTimeText(d.creation->seconds) : std::string();
        d.accessText = d.access ? formatUnixTimeText(d.access->seconds) : std::string();
        d.modificationText = d.modification ? formatUnixTimeText(d.modification->seconds) : std::string();
    }
    d.sizeText = formatSizeText(static_cast<std::int64_t>(d.size));
    d.attributeText = extModeText(e->mode);
    return d;
}

bool ext2Class::entryInode(const ExtEntry& e, Inode& inode, bool& blocksHeld)
{
    if (e.inodeCopy != UINT32_MAX) {
        if (e.inodeCopy >= inodeCopies_.size())
            return false;
        inode = inodeCopies_[e.inodeCopy].inode;
        blocksHeld = inodeCopies_[e.inodeCopy].blocksStillHeld;
        return true;
    }
    blocksHeld = true;
    return readInode(e.inodeTableBlock, e.indexInGroup, inode);
}

Recoverability ext2Class::recoverabilityOf(std::int64_t position)
{
    const ExtEntry* e = entry(position);
    if (!e || !e->deleted || !superblock)
        return Recoverability::Live;
    const auto at = static_cast<std::size_t>(position);
    {
        std::lock_guard lock(recoverabilityMutex_);
        if (at < recoverability_.size() && recoverability_[at] != 0)
            return static_cast<Recoverability>(recoverability_[at] - 1);
    }
    Inode inode;
    bool blocksHeld = true;
    Recoverability r = Recoverability::None;
    if (entryInode(*e, inode, blocksHeld) && inode.holdsMap()) {
        if (inode.flags & kInlineDataFlag) {
            r = Recoverability::Whole;
        } else {
            bool mapped = true;
            BlockTest taken;
            if (!blocksHeld)
                taken = [this](std::uint64_t b) { return blockInUse(b); };
            std::uint64_t free = 0, lost = 0;
            for (const BlockRun& run : entryBlocks(*e, inode, &mapped, taken))
                if (!run.unwritten)
                    for (std::uint64_t b = 0; b < run.count; ++b)
                        (taken && taken(run.physical + b) ? lost : free) += 1;
            if (free != 0)
                r = lost == 0 && mapped ? Recoverability::Whole : Recoverability::PartlyOverwritten;
        }
    }
    std::lock_guard lock(recoverabilityMutex_);
    if (at < recoverability_.size())
        recoverability_[at] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(r) + 1);
    return r;
}

std::optional<std::uint64_t> ext2Class::firstDataByteOf(std::int64_t position)
{
    const ExtEntry* e = entry(position);
    if (!e || !superblock || (e->mode & kTypeMask) != kRegular || e->size == 0)
        return std::nullopt;
    Inode inode;
    bool blocksHeld = true;
    if (!entryInode(*e, inode, blocksHeld) || !inode.holdsMap() || (inode.flags & kInlineDataFlag) != 0)
        return std::nullopt;
    for (const BlockRun& run : entryBlocks(*e, inode, nullptr, {}))
        if (run.logical == 0 && run.count != 0 && !run.unwritten)
            return checkedMul(run.physical, superblock->blockSize());
    return std::nullopt;
}

bool ext2Class::saveEntryContents(std::int64_t position, DataSink& out)
{
    const ExtEntry* e = entry(position);
    if (!e || !superblock)
        return false;
    if ((e->mode & kTypeMask) != kRegular)
        return true;
    Inode inode;
    bool blocksHeld = true;
    bool complete = entryInode(*e, inode, blocksHeld);
    const std::uint64_t size = inode.size;
    if (inode.flags & kInlineDataFlag) {
        // Small files may keep their data in the inode itself.
        std::uint64_t n = std::min<std::uint64_t>(size, sizeof inode.block);
        if (!out.write(std::span<const std::uint8_t>(inode.block, static_cast<std::size_t>(n))))
            return false;
        return out.skip(size - n) && complete && size <= sizeof inode.block;
    }
    const std::uint64_t B = superblock->blockSize();
    bool mapped = true;
    // A deleted file's blocks that are allocated again hold another file's
    // data now: they are written as zeros, and the file is incomplete.
    BlockTest taken;
    if (!blocksHeld)
        taken = [this](std::uint64_t b) { return blockInUse(b); };
    std::vector<BlockRun> runs = entryBlocks(*e, inode, &mapped, taken);
    if (taken)
        runs = splitTakenRuns(runs, taken);
    complete = complete && mapped;
    std::uint64_t at = 0; // bytes of the file written so far
    std::vector<std::uint8_t> piece;
    for (const BlockRun& run : runs) {
        std::uint64_t start = run.logical * B;
        std::uint64_t end = std::min(size, (run.logical + run.count) * B);
        if (end <= at)
            continue; // overlaps what is written already
        std::uint64_t from = std::max(start, at);
        if (from > at && !out.skip(from - at)) // a hole
            return false;
        at = from;
        while (at < end) {
            std::uint64_t n = std::min(kCopyPiece, end - at);
            if (run.unwritten || run.taken) {
                if (!out.skip(n))
                    return false;
                complete = complete && !run.taken;
            } else {
                piece.resize(static_cast<std::size_t>(n));
                complete = readVolumeBytes(*reader, run.physical * B + (at - start), piece) && complete;
                if (!out.write(piece))
                    return false;
            }
            at += n;
        }
    }
    // A hole up to the end of the file.
    return (at >= size || out.skip(size - at)) && complete;
}

} // namespace qis
