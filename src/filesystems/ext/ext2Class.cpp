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
        if (d.inodeTable == 0 || d.inodeTable >= sb.blocksCount)
            continue;
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
            if (!readVolumeBytes(*reader, d.inodeTable * B + i0 * sb.inodeSize, chunk))
                continue;
            for (std::uint64_t i = 0; i < count; ++i) {
                std::uint64_t number = first + i0 + i + 1;
                if (number > sb.inodesCount)
                    break;
                Inode inode = Inode::parse(std::span<const std::uint8_t>(chunk).subspan(i * sb.inodeSize, sb.inodeSize));
                if (!inode.inUse())
                    continue;
                ExtEntry e;
                e.inodeIndex = static_cast<std::uint32_t>(number - 1);
                e.mode = inode.mode;
                e.size = inode.size;
                e.inodeTableBlock = d.inodeTable;
                e.indexInGroup = static_cast<std::uint32_t>(i0 + i);
                e.atime = inode.atime;
                e.ctime = inode.ctime;
                e.mtime = inode.mtime;
                e.atimeNanos = inode.atimeExtra;
                e.ctimeNanos = inode.ctimeExtra;
                e.mtimeNanos = inode.mtimeExtra;
                inodeList.push_back(std::move(e));
            }
        }
    }
}

ExtEntry* ext2Class::inodeEntry(std::uint64_t inodeNumber)
{
    if (inodeNumber == 0)
        return nullptr;
    auto it = std::lower_bound(inodeList.begin(), inodeList.end(), inodeNumber - 1,
                               [](const ExtEntry& e, std::uint64_t index) { return e.inodeIndex < index; });
    return it != inodeList.end() && it->inodeIndex == inodeNumber - 1 ? &*it : nullptr;
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
    const std::uint64_t B = superblock->blockSize();
    // The root's entries hang under ROOT; every other directory's under itself.
    const std::int64_t parent =
        directory.inodeIndex + 1 == kRootInode ? kRootKey : static_cast<std::int64_t>(directory.inodeIndex);
    std::vector<std::uint8_t> data;
    for (const BlockRun& run : collectBlocks(*reader, *superblock, inode)) {
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
                // blocks cannot make the pass read the volume over and over.
                if (!directoryBlocksSeen_.insert(run.physical + b + k).second)
                    continue;
                auto block = std::span<const std::uint8_t>(data).subspan(k * B, B);
                for (const DirectoryEntry& d : directoryEntries(block, superblock->hasFileType())) {
                    if (d.inode == 0 || d.inode > superblock->inodesCount)
                        continue;
                    std::string name(d.name.begin(), d.name.end());
                    if (name.empty() || name == "." || name == "..")
                        continue;
                    ExtEntry* child = inodeEntry(d.inode);
                    if (child == nullptr)
                        continue;
                    if (!child->named) {
                        child->name = std::move(name);
                        child->named = true;
                        child->parentKey = parent;
                    } else if (!child->name.empty() && (child->mode & kTypeMask) != kDirectory) {
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
    if (d.inode < kRootInode || d.inode > sb.inodesCount || inodeEntry(d.inode) != nullptr)
        return; // the inode is in use again, by this file's other name or another file
    std::uint64_t group = (d.inode - 1) / sb.inodesPerGroup;
    if (group >= descriptors.size())
        return;
    ExtEntry e;
    e.inodeTableBlock = descriptors[group].inodeTable;
    e.indexInGroup = static_cast<std::uint32_t>((d.inode - 1) % sb.inodesPerGroup);
    Inode inode;
    if (e.inodeTableBlock == 0 || e.inodeTableBlock >= sb.blocksCount || !readInode(e.inodeTableBlock, e.indexInGroup, inode))
        return;
    std::uint16_t type = inode.mode & kTypeMask;
    if (type != kDirectory && type != kRegular)
        return;
    e.name.assign(d.name.begin(), d.name.end());
    e.named = true;
    e.deleted = true;
    e.inodeIndex = d.inode - 1;
    e.parentKey = parent;
    e.mode = inode.mode;
    e.size = inode.size;
    e.atime = inode.atime;
    e.ctime = inode.ctime;
    e.mtime = inode.mtime;
    extraNames_.push_back(std::move(e));
}

void ext2Class::readDirectories(JobContext& job)
{
    extraNames_.clear();
    directoryBlocksSeen_.clear();
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
    }
    entryMap.clear();
    entryMap.reserve(inodeList.size() + extraNames_.size() + 1);
    bool rootPlaced = false;
    for (ExtEntry& e : inodeList) {
        if (!e.named)
            continue;
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
    std::int64_t key = static_cast<std::int64_t>(superblock->inodesCount);
    for (ExtEntry& e : extraNames_) {
        e.key = key++;
        entryMap.push_back(std::move(e));
    }
    extraNames_.clear();
    directoryBlocksSeen_ = {};
    inodeList.clear();
    inodeList.shrink_to_fit();
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
    if (withTexts) {
        d.creationText = d.creation ? formatUnixTimeText(d.creation->seconds) : std::string();
        d.accessText = d.access ? formatUnixTimeText(d.access->seconds) : std::string();
        d.modificationText = d.modification ? formatUnixTimeText(d.modification->seconds) : std::string();
    }
    d.sizeText = formatSizeText(static_cast<std::int64_t>(d.size));
    d.attributeText = extModeText(e->mode);
    return d;
}

bool ext2Class::saveEntryContents(std::int64_t position, DataSink& out)
{
    const ExtEntry* e = entry(position);
    if (!e || !superblock)
        return false;
    if ((e->mode & kTypeMask) != kRegular)
        return true;
    Inode inode;
    bool complete = readInode(e->inodeTableBlock, e->indexInGroup, inode);
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
    std::vector<BlockRun> runs = collectBlocks(*reader, *superblock, inode, &mapped);
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
            if (run.unwritten) {
                if (!out.skip(n))
                    return false;
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
