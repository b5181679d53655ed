#include "filesystems/fat/FatVolume.h"

#include "filesystems/DisplayText.h"
#include "filesystems/EntryWalk.h"
#include "filesystems/ParentLinks.h"
#include "filesystems/fatfamily/ClusterCopy.h"
#include "images/VolumeBytes.h"
#include "util/CheckedMath.h"
#include "filesystems/fatfamily/DosTime.h"
#include "filesystems/fatfamily/ScanEnd.h"

#include <algorithm>
#include <cstdio>

namespace qis {

using namespace fatdisk;

namespace {

// A directory holds at most 65 536 slots; a longer chain is damage.
constexpr std::size_t kMaxDirectorySlots = 65536;


} // namespace

void FatVolume::attachVolume()
{
    reader->baseOffset = static_cast<std::int64_t>(volumeStartSector * kSectorSize);
    reader->seek(0, 0);
}

bool FatVolume::readBootSector()
{
    bpb.reset();
    if (!readVolumeBytes(*reader, 0, bootSector))
        return false;
    bpb = FatBpb::parse(bootSector);
    if (!bpb && flavour_.entryBytes == 4) {
        // FAT32 keeps a copy of its boot sector at sector 6.
        std::array<std::uint8_t, 512> backup{};
        constexpr std::uint64_t kBackupBootSector = 6;
        if (readVolumeBytes(*reader, kBackupBootSector * kSectorSize, backup))
            if ((bpb = FatBpb::parse(backup)))
                bootSector = backup;
    }
    return bpb.has_value();
}

void FatVolume::loadFat()
{
    if (!bpb)
        return;
    sectorsPerCluster = bpb->sectorsPerCluster;
    clusterBytes = bpb->clusterBytes();
    dataRegionOffset = bpb->firstDataSector() * bpb->bytesPerSector;
    std::uint64_t fatOffset = std::uint64_t{bpb->reservedSectors} * bpb->bytesPerSector;
    std::uint64_t fatBytes = bpb->fatSectors() * bpb->bytesPerSector;
    fat = FatTable(*reader, fatOffset, fatBytes, flavour_.entryBytes, flavour_.entryMask, bpb->clusterCount());
    freeClusters_.reset();
    otherDeletedRuns_.reset();
}

const FreeClusters& FatVolume::freeClusters()
{
    if (!freeClusters_)
        freeClusters_ = FreeClusters::fromFat(fat);
    return *freeClusters_;
}

std::optional<std::vector<ByteRun>> FatVolume::unallocatedSpace(std::uint64_t volumeBytes)
{
    if (clusterBytes == 0 || fat.clusterCount() == 0)
        return std::nullopt;
    return freeClusterSpace(freeClusters(), dataRegionOffset, clusterBytes, volumeBytes);
}

void FatVolume::appendDummyEntry()
{
    FatEntryRecord root;
    root.attributes = kDirectory;
    root.name = u"DUMMY ENTRY";
    entryList.push_back(std::move(root));
}

std::u16string FatVolume::nameOf(const DirectorySlot& slot, const std::vector<LongNamePart>& parts) const
{
    if (parts.empty())
        return shortNameText(slot);
    // The parts must all belong to one name. A live entry's parts also carry
    // the checksum of its short name; a deleted entry's first byte is
    // overwritten, so there the checksum cannot match.
    std::uint8_t sum = parts.front().checksum;
    bool oneName = std::all_of(parts.begin(), parts.end(), [&](const LongNamePart& p) { return p.checksum == sum; });
    if (!slot.isDeleted()) {
        bool live = std::none_of(parts.begin(), parts.end(), [](const LongNamePart& p) { return p.order == kDeletedMark; });
        oneName = oneName && live && sum == shortNameChecksum(slot.name);
    }
    if (!oneName)
        return shortNameText(slot);
    std::u16string name;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it)
        name += it->text;
    return name.empty() ? shortNameText(slot) : name;
}

bool FatVolume::parseSlots(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint32_t parent,
                           DirectoryState& state)
{
    for (std::size_t at = 0; at + kSlotSize <= bytes.size(); at += kSlotSize) {
        DirectorySlot slot = DirectorySlot::parse(bytes.subspan(at).first<kSlotSize>());
        ++state.slots;
        if (slot.isLongName()) {
            // A run longer than any name starts again: only the last parts can be this name's.
            if (state.pendingName.size() >= kMaxLongNameParts)
                state.pendingName.clear();
            if (!slot.isFree())
                state.pendingName.push_back(LongNamePart::parse(bytes.subspan(at).first<kSlotSize>()));
            continue;
        }
        std::vector<LongNamePart> parts;
        parts.swap(state.pendingName);
        if (slot.isFree()) {
            if (flavour_.freeSlotEndsDirectory)
                return false;
            continue;
        }
        if (slot.isDotEntry() || slot.isVolumeLabel())
            continue;

        FatEntryRecord r;
        r.attributes = slot.attributes;
        r.createTimeTenths = slot.createTimeTenths;
        r.createTime = slot.createTime;
        r.createDate = slot.createDate;
        r.accessDate = slot.accessDate;
        r.firstClusterHigh = slot.firstClusterHigh;
        r.writeTime = slot.writeTime;
        r.writeDate = slot.writeDate;
        r.firstClusterLow = slot.firstClusterLow;
        r.fileSize = slot.fileSize;
        r.isDeleted = slot.isDeleted() ? 1 : 0;
        r.name = nameOf(slot, parts);
        r.parentIndex = parent;
        r.selfIndex = static_cast<std::uint32_t>(entryList.size());
        r.slotNumber = (offset + at) / kSlotSize;

        if (slot.isDirectory()) {
            std::uint32_t cluster = r.firstCluster();
            if (fat.isCluster(cluster)) {
                // Two entries of one folder naming the same cluster are one
                // folder: the later entry gives it its name and state.
                auto known = state.folderByCluster.find(cluster);
                if (known != state.folderByCluster.end()) {
                    entryList[known->second].name = std::move(r.name);
                    entryList[known->second].isDeleted = r.isDeleted;
                    entryList[known->second].slotNumber = r.slotNumber;
                    continue;
                }
                state.folderByCluster.emplace(cluster, r.selfIndex);
                state.subfolders.emplace_back(r.selfIndex, cluster);
            }
        }
        entryList.push_back(std::move(r));
    }
    return true;
}

void FatVolume::parseDirectory(std::uint32_t index, std::uint32_t firstCluster, bool isRoot, std::size_t depth,
                               JobContext& job)
{
    if (depth > kMaxTreeDepth || clusterBytes == 0)
        return;
    // A deleted folder's chain was cleared with its entry: whatever the FAT
    // holds after its first cluster now belongs to other files.
    const bool guessed = !isRoot && !isDriveFormatted && index < entryList.size() && entryList[index].isDeleted;
    DirectoryState state;
    std::vector<std::uint8_t> cluster(static_cast<std::size_t>(clusterBytes));
    std::uint32_t c = firstCluster;
    bool first = true;
    bool haveBytes = false;
    while (fat.isCluster(c) && state.slots < kMaxDirectorySlots) {
        // Each cluster is read as a directory once in the whole parse: that
        // ends loops in chains and folders that name an ancestor.
        if (!visitedClusters.insert(c).second)
            break;
        if (!haveBytes)
            readVolumeBytes(*reader, clusterOffset(c), cluster);
        haveBytes = false;
        // A folder's first cluster starts with its "." entry; anything else
        // is not (or no longer) this folder's directory.
        if (first && !isRoot && cluster[0] != '.')
            break;
        first = false;
        if (!parseSlots(cluster, clusterOffset(c), index, state))
            break;
        if (isDriveFormatted || job.stopSeen(stopRequested))
            break;
        if (guessed) {
            c = guessNextDirectoryCluster(c, cluster);
            haveBytes = true;
        } else {
            c = fat.next(c);
        }
    }
    enterSubfolders(state, depth, job);
}

std::uint32_t FatVolume::guessNextDirectoryCluster(std::uint32_t cluster, std::vector<std::uint8_t>& bytes)
{
    // A directory takes another cluster only once its last one is full, so
    // one that ends in a free slot is the last.
    if (bytes.size() < kSlotSize || bytes[bytes.size() - kSlotSize] == 0)
        return FatTable::kEnd;
    const FreeClusters& free = freeClusters();
    const std::uint64_t next = free.nextFree(std::uint64_t{cluster} + 1);
    if (next >= free.limit() || !fat.isCluster(static_cast<std::uint32_t>(next)))
        return FatTable::kEnd;
    readVolumeBytes(*reader, clusterOffset(static_cast<std::uint32_t>(next)), bytes);
    // The free cluster that follows may hold anything (a deleted file's
    // data, old slack): it is taken only when every slot reads as a
    // directory entry, and it does not start with the end of a directory.
    if (bytes[0] == 0)
        return FatTable::kEnd;
    for (std::size_t at = 0; at + kSlotSize <= bytes.size(); at += kSlotSize)
        if (!fatscan::plausibleDirectorySlot(std::span<const std::uint8_t>(bytes).subspan(at, kSlotSize),
                                             fat.clusterCount()))
            return FatTable::kEnd;
    return static_cast<std::uint32_t>(next);
}

void FatVolume::enterSubfolders(DirectoryState& state, std::size_t depth, JobContext& job)
{
    for (auto [index, cluster] : state.subfolders) {
        if (stopRequested.load())
            return;
        if (entryList[index].isDeleted && depthOfDeleted_ == 0)
            deletedFolders_.emplace_back(index, cluster);
        else
            parseDirectory(index, cluster, false, depth + 1, job);
    }
}

void FatVolume::enterDeletedFolders(JobContext& job)
{
    // Folders found inside deleted folders are entered at once: they are
    // as old as the folder that holds them.
    ++depthOfDeleted_;
    for (std::size_t i = 0; i < deletedFolders_.size() && !stopRequested.load(); ++i)
        parseDirectory(deletedFolders_[i].first, deletedFolders_[i].second, false, 1, job);
    --depthOfDeleted_;
    deletedFolders_.clear();
}

void FatVolume::linkEntries(JobContext* job)
{
    bool progress = flavour_.linkProgress && job != nullptr;
    if (progress)
        job->reporter().setProgressRange(0, 1000);
    std::int32_t shown = -1;
    linkByParentIndex(entryList, kNoRecord, [&](std::size_t i, std::size_t n) {
        if (!progress)
            return;
        auto pos = static_cast<std::int32_t>(i * 1000 / n);
        if (pos != shown) {
            job->reporter().setProgressPos(pos);
            shown = pos;
        }
    });
    if (progress)
        job->reporter().setProgressPos(1000);
}

std::vector<std::uint32_t> FatVolume::topLevelEntries() const
{
    return childrenOf(entryList, 0, kNoRecord);
}

void FatVolume::checkLayout()
{
    // The boot sector's counts place the FATs, the root and the data; when
    // they put the data at or past the volume's end no cluster can be read,
    // and a tree read from there would only look empty.
    const std::uint64_t dataStart = bpb->firstDataSector();
    if (dataStart < bpb->totalSectors)
        return;
    problems.add("The boot sector places the data region at sector " + std::to_string(dataStart) + " (" +
                     std::to_string(bpb->reservedSectors) + " reserved sectors, " + std::to_string(bpb->fatCount) +
                     " FATs of " + std::to_string(bpb->fatSectors()) + " sectors), past the volume's " +
                     std::to_string(bpb->totalSectors) + " sectors: no folder or file could be read.",
                 FurtherMode::Advanced);
}

bool FatVolume::runScan(JobContext& job)
{
    problems.clear();
    attachVolume();
    if (!checkBootSector()) {
        job.reporter().showMessage(flavour_.notThisFormat);
        return false;
    }
    loadFat();
    checkLayout();
    entryList.clear();
    visitedClusters.clear();
    deletedFolders_.clear();
    char text[96];
    std::snprintf(text, sizeof text, "Finding %s File And Directory entries recursively....", flavour_.name);
    job.reporter().setStatusText(text);
    appendDummyEntry();
    parseRootDirectory(job);
    enterDeletedFolders(job);
    job.reporter().setStatusText("maintaining tree Structure in vector...");
    linkEntries(&job);
    job.reporter().setStatusText("Creating Tree Structure....");
    announceFilledTree(job, topLevelEntries(), flavour_.completed, false);
    job.reporter().setStatusText("Tree Structure Created.");
    job.reporter().setProgressRange(0, 100);
    job.reporter().setProgressPos(100);
    job.reporter().showMessage(flavour_.completed);
    job.reporter().setStatusText("Processing done...");
    return true;
}

bool FatVolume::isFolder(std::uint32_t index) const
{
    if (index >= entryList.size())
        return false;
    DirectorySlot slot;
    slot.attributes = entryList[index].attributes;
    return slot.isDirectory();
}

EntryDetails FatVolume::describeEntry(std::uint32_t index) const
{
    EntryDetails d;
    if (index >= entryList.size())
        return d;
    const FatEntryRecord& r = entryList[index];
    d.size = r.fileSize;
    d.creation = dosToUnix(r.createDate, r.createTime, r.createTimeTenths);
    d.access = dosToUnix(r.accessDate, 0);
    d.modification = dosToUnix(r.writeDate, r.writeTime);
    d.creationText = dosDateTimeText(r.createDate, r.createTime);
    d.accessText = dosDateText(r.accessDate);
    d.modificationText = dosDateTimeText(r.writeDate, r.writeTime);
    d.sizeText = formatSizeText(r.fileSize);
    d.attributeText = dosAttributeText(r.attributes);
    return d;
}

bool FatVolume::saveEntryContents(std::uint32_t index, DataSink& out)
{
    return saveContents(index, {}, out);
}

std::optional<bool> FatVolume::saveGuessedContents(std::uint32_t index, std::size_t reading, DataSink& out)
{
    if (reading == 0)
        return saveEntryContents(index, out);
    if (index >= entryList.size() || isFolder(index) || clusterBytes == 0 || isDriveFormatted)
        return std::nullopt;
    const FatEntryRecord& r = entryList[index];
    if (!r.isDeleted || r.fileSize == 0 || !fat.isCluster(r.firstCluster()))
        return std::nullopt;
    const std::uint64_t count = ceilDiv(r.fileSize, clusterBytes);
    auto skip = otherDeletedRuns().passOver(r.firstCluster(), lastGuessedCluster(freeClusters(), r.firstCluster(), count),
                                            reading);
    if (!skip)
        return std::nullopt;
    return saveContents(index, *skip, out);
}

const OtherDeletedRuns& FatVolume::otherDeletedRuns()
{
    // Built after the scan, when every deleted entry is known; a later scan
    // (advanced mode) makes it again.
    if (otherDeletedRuns_ && otherDeletedRunsOf_ == entryList.size())
        return *otherDeletedRuns_;
    const FreeClusters& free = freeClusters();
    OtherDeletedRuns runs;
    for (std::uint32_t i = 0; i < entryList.size(); ++i) {
        const FatEntryRecord& r = entryList[i];
        if (r.isDeleted && fat.isCluster(r.firstCluster()) && free.isFree(r.firstCluster()))
            runs.add(r.firstCluster(), isFolder(i) ? 1 : ceilDiv(r.fileSize, clusterBytes));
    }
    runs.finish();
    otherDeletedRuns_ = std::move(runs);
    otherDeletedRunsOf_ = entryList.size();
    return *otherDeletedRuns_;
}

bool FatVolume::saveContents(std::uint32_t index, std::span<const ClusterRun> passOver, DataSink& out)
{
    if (index >= entryList.size() || isFolder(index) || clusterBytes == 0)
        return index < entryList.size();
    const FatEntryRecord& r = entryList[index];
    std::uint64_t remaining = r.fileSize;
    if (remaining == 0)
        return true;
    std::uint32_t c = r.firstCluster();
    if (!fat.isCluster(c)) {
        // No cluster to start from: the size is kept, the contents are lost.
        out.skip(remaining);
        return false;
    }
    CopyResult copied;
    if (r.isDeleted && !isDriveFormatted) {
        DeletedClusters runs(freeClusters(), DeletedClusters::Layout::Guessed, c, ceilDiv(remaining, clusterBytes),
                             passOver);
        copied = copyRuns(*reader, dataRegionOffset, clusterBytes, runs, remaining, out);
    } else {
        ClusterSpan span = fileClusters(fat, dataRegionOffset, clusterBytes, isDriveFormatted);
        copied = copyClusters(*reader, fat, span, c, remaining, out);
    }
    bool complete = copied.readable;
    remaining -= copied.written;
    if (remaining == 0)
        return complete;
    // The clusters ran out early. A live file keeps its size, the lost part
    // as zeros; a deleted file is what could be found of it.
    if (!r.isDeleted)
        out.skip(remaining);
    return false;
}

Recoverability FatVolume::entryRecoverability(std::uint32_t index)
{
    if (index >= entryList.size() || !entryList[index].isDeleted)
        return Recoverability::Live;
    const FatEntryRecord& r = entryList[index];
    const bool folder = isFolder(index);
    if (!folder && r.fileSize == 0)
        return Recoverability::Whole;
    if (clusterBytes == 0 || !fat.isCluster(r.firstCluster()))
        return Recoverability::None;
    if (isDriveFormatted)
        return Recoverability::Guessed; // every file is read from clusters in a row, none from a chain
    // A folder has no size: its first cluster is what can be judged.
    const std::uint64_t clusters = folder ? 1 : ceilDiv(r.fileSize, clusterBytes);
    return DeletedClusters::judge(freeClusters(), DeletedClusters::Layout::Guessed, r.firstCluster(), clusters);
}

} // namespace qis
