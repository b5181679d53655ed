#include "filesystems/exfat/Fat64Class.h"

#include "filesystems/DisplayText.h"
#include "filesystems/EntryWalk.h"
#include "filesystems/ParentLinks.h"
#include "filesystems/fatfamily/ClusterCopy.h"
#include "images/VolumeBytes.h"
#include "filesystems/fatfamily/DosTime.h"
#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include "filesystems/fatfamily/ScanEnd.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace qis {

using namespace exfatdisk;

namespace {

// A directory is at most 256 MiB; far fewer bytes hold any real one, and
// the cap keeps a damaged length from taking the memory.
constexpr std::uint64_t kMaxDirectoryBytes = 64u << 20;
// The largest allocation bitmap held: 512 Mi clusters, 2 TiB of 4 KiB ones.
constexpr std::uint64_t kMaxBitmapBytes = 64u << 20;
// The allocation bitmap's directory entry (TexFAT's second bitmap has bit 0
// of its flags set; the first is the one in use).
constexpr std::uint8_t kBitmapEntry = 0x81;
// The backup boot region starts right after the main one's 12 sectors.
constexpr std::uint64_t kBackupBootSector = 12;

std::optional<UnixTime> exfatTime(std::uint32_t timestamp, std::uint8_t tenMs, std::uint8_t utcOffset)
{
    return dosToUnix(static_cast<std::uint16_t>(timestamp >> 16), static_cast<std::uint16_t>(timestamp & 0xFFFF),
                     tenMs, utcOffset);
}

std::string exfatTimeText(const std::optional<UnixTime>& t)
{
    return t ? formatUnixTimeText(t->seconds) : std::string();
}


} // namespace

void Fat64Class::attachVolume()
{
    reader->baseOffset = static_cast<std::int64_t>(volumeStartSector * kSectorSize);
    reader->seek(0, 0);
}

bool Fat64Class::checkBootSector(JobReporter& reporter)
{
    boot.reset();
    bootUnreadable_ = !readVolumeBytes(*reader, 0, bootSector);
    if (bootUnreadable_) {
        reporter.showMessage("cant read file");
        return false;
    }
    boot = ExfatBootSector::parse(bootSector);
    if (!boot) {
        // The main boot region is damaged: its backup copy follows it.
        std::array<std::uint8_t, 512> backup{};
        if (readVolumeBytes(*reader, kBackupBootSector * kSectorSize, backup))
            boot = ExfatBootSector::parse(backup);
        if (!boot)
            return false;
        bootSector = backup;
        reporter.setStatusText("boot sector damaged, using its backup copy...");
    }
    bytesPerSector = boot->bytesPerSector();
    sectorsPerClusterShift = boot->sectorsPerClusterShift;
    sectorsPerCluster = 1ull << sectorsPerClusterShift;
    clusterBytes = boot->clusterBytes();
    fatPosition = std::uint64_t{boot->fatOffset} * bytesPerSector;
    heapPosition = std::uint64_t{boot->heapOffset} * bytesPerSector;
    fat = FatTable(*reader, fatPosition, std::uint64_t{boot->fatLength} * bytesPerSector, 4, 0xFFFFFFFF,
                   boot->clusterCount);
    return true;
}

std::vector<std::uint8_t> Fat64Class::readDirectory(std::uint32_t firstCluster, std::uint64_t length, bool contiguous,
                                                    bool deleted, DirectoryPlaces& places)
{
    std::vector<std::uint8_t> bytes;
    places.starts.clear();
    places.pieceBytes = clusterBytes;
    if (!fat.isCluster(firstCluster) || clusterBytes == 0)
        return bytes;
    std::uint64_t clusters = contiguous ? std::max<std::uint64_t>(1, ceilDiv(length, clusterBytes)) : UINT64_MAX;
    if (isDriveFormatted)
        clusters = 1;
    auto take = [&](std::uint32_t c) {
        // Each cluster is read as a directory once: that ends loops and
        // folders that name an ancestor.
        if (bytes.size() + clusterBytes > kMaxDirectoryBytes || !visitedClusters_.insert(c).second)
            return false;
        std::size_t at = bytes.size();
        bytes.resize(at + static_cast<std::size_t>(clusterBytes));
        readVolumeBytes(*reader, clusterOffset(c), std::span(bytes).subspan(at));
        places.starts.push_back(clusterOffset(c));
        return true;
    };
    const FreeClusters* free = deleted && !contiguous && !isDriveFormatted ? freeClusters() : nullptr;
    if (free != nullptr) {
        // The freed chain is gone: the folder's length says how many free
        // clusters from its first to take. One in use now holds another
        // file's data and ends the directory.
        DeletedClusters runs(*free, DeletedClusters::Layout::Guessed, firstCluster,
                             std::max<std::uint64_t>(1, ceilDiv(length, clusterBytes)));
        while (auto run = runs.next()) {
            if (run->lost)
                break;
            for (std::uint64_t i = 0; i < run->count; ++i)
                if (!take(static_cast<std::uint32_t>(run->first + i)))
                    return bytes;
        }
        return bytes;
    }
    std::uint32_t c = firstCluster;
    for (std::uint64_t i = 0; i < clusters && fat.isCluster(c) && take(c); ++i)
        c = contiguous ? c + 1 : fat.next(c);
    return bytes;
}

void Fat64Class::resetFreeClusters()
{
    bitmapCluster_ = 0;
    bitmapLength_ = 0;
    freeClusters_.reset();
    freeClustersRead_ = false;
    otherDeletedRuns_.reset();
}

const FreeClusters* Fat64Class::freeClusters()
{
    if (freeClustersRead_)
        return freeClusters_ ? &*freeClusters_ : nullptr;
    freeClustersRead_ = true;
    if (!fat.isCluster(bitmapCluster_) || clusterBytes == 0)
        return nullptr;
    // A bit per cluster; a bitmap longer than the volume needs holds nothing
    // more, and one past the cap (a volume of half a billion clusters, or a
    // damaged length) is not held at all.
    const std::uint64_t bytes = std::min(bitmapLength_, ceilDiv(fat.clusterCount(), 8));
    if (bytes == 0 || bytes > kMaxBitmapBytes)
        return nullptr;
    std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(bytes));
    // The bitmap's clusters follow its chain, and one after the other where
    // the chain says nothing (formatters write it as one run).
    std::uint32_t c = bitmapCluster_;
    for (std::uint64_t at = 0; at < bytes && fat.isCluster(c); at += clusterBytes) {
        std::size_t n = static_cast<std::size_t>(std::min(clusterBytes, bytes - at));
        readVolumeBytes(*reader, clusterOffset(c), std::span(bitmap).subspan(static_cast<std::size_t>(at), n));
        std::uint32_t next = fat.next(c);
        c = next != FatTable::kEnd ? next : c + 1;
    }
    freeClusters_ = FreeClusters::fromBitmap(bitmap, fat.clusterCount());
    return &*freeClusters_;
}

std::optional<std::vector<ByteRun>> Fat64Class::unallocatedSpace(std::uint64_t volumeBytes)
{
    const FreeClusters* free = freeClusters();
    if (!free)
        return std::nullopt;
    return freeClusterSpace(*free, heapPosition, clusterBytes, volumeBytes);
}

void Fat64Class::parseEntries(std::span<const std::uint8_t> bytes, const DirectoryPlaces& places,
                              std::uint32_t parent, std::vector<Subfolder>& subfolders)
{
    std::unordered_map<std::uint32_t, std::uint32_t> folderByCluster;
    for (std::size_t at = 0; at + kSlotSize <= bytes.size();) {
        auto set = EntrySet::parse(bytes, at);
        if (!set) {
            if (parent == 0 && bitmapCluster_ == 0) {
                ByteReader slot(bytes.subspan(at, kSlotSize));
                if (slot.u8(0) == kBitmapEntry && (slot.u8(1) & 1) == 0) {
                    bitmapCluster_ = slot.u32le(20);
                    bitmapLength_ = slot.u64le(24);
                }
            }
            at += kSlotSize;
            continue;
        }
        ExfatEntryRecord r;
        r.entryType = set->entryType;
        r.attributes = set->attributes;
        r.createTimestamp = set->createTimestamp;
        r.modifyTimestamp = set->modifyTimestamp;
        r.accessTimestamp = set->accessTimestamp;
        r.create10ms = set->create10ms;
        r.modify10ms = set->modify10ms;
        r.createUtcOffset = set->createUtcOffset;
        r.modifyUtcOffset = set->modifyUtcOffset;
        r.accessUtcOffset = set->accessUtcOffset;
        r.streamType = set->streamType;
        r.streamFlags = set->streamFlags;
        r.nameLength = set->nameLength;
        r.validDataLength = std::min(set->validDataLength, set->dataLength);
        r.firstCluster = set->firstCluster;
        r.dataLength = set->dataLength;
        r.name = std::move(set->name);
        r.parentIndex = parent;
        r.selfIndex = static_cast<std::uint32_t>(entryList.size());
        r.slotNumber = places.volumeOffset(at) / kSlotSize;
        at += set->slots * kSlotSize;

        if (r.isFolder() && fat.isCluster(r.firstCluster)) {
            // Two sets of one folder naming the same cluster are one folder:
            // the later gives it its name and state.
            auto known = folderByCluster.find(r.firstCluster);
            if (known != folderByCluster.end()) {
                entryList[known->second].name = std::move(r.name);
                entryList[known->second].entryType = r.entryType;
                entryList[known->second].slotNumber = r.slotNumber;
                continue;
            }
            folderByCluster.emplace(r.firstCluster, r.selfIndex);
            subfolders.push_back({r.selfIndex, r.firstCluster, r.dataLength, r.noFatChain(), r.isDeleted()});
        }
        entryList.push_back(std::move(r));
    }
}

void Fat64Class::parseDirectory(std::uint32_t index, const Subfolder& where, std::size_t depth, JobContext& job)
{
    if (depth > kMaxTreeDepth || job.stopSeen(stopRequested))
        return;
    std::vector<Subfolder> subfolders;
    {
        DirectoryPlaces places;
        std::vector<std::uint8_t> bytes =
            readDirectory(where.firstCluster, where.length, where.contiguous, where.deleted, places);
        parseEntries(bytes, places, index, subfolders);
    }
    enterSubfolders(subfolders, depth, job);
}

void Fat64Class::enterSubfolders(const std::vector<Subfolder>& subfolders, std::size_t depth, JobContext& job)
{
    // Deleted folders wait until every live one is read, so a live folder
    // that took over a deleted folder's clusters keeps its own entries.
    for (const Subfolder& s : subfolders) {
        if (entryList[s.index].isDeleted() && !enteringDeleted_)
            deletedFolders_.push_back(s);
        else
            parseDirectory(s.index, s, depth + 1, job);
    }
}

void Fat64Class::linkEntries()
{
    linkByParentIndex(entryList, kNoRecord, [](std::size_t, std::size_t) {});
}

std::vector<std::uint32_t> Fat64Class::topLevelEntries() const
{
    return childrenOf(entryList, 0, kNoRecord);
}

bool Fat64Class::runScan(JobContext& job)
{
    attachVolume();
    if (!checkBootSector(job.reporter())) {
        if (!bootUnreadable_)
            job.reporter().showMessage("Selected Drive is not in exFat Format");
        return false;
    }
    if (!fat.isCluster(boot->rootCluster)) {
        job.reporter().showMessage("error...");
        return false;
    }
    entryList.clear();
    visitedClusters_.clear();
    deletedFolders_.clear();
    resetFreeClusters();
    job.reporter().setStatusText("processing file and directory entries...");
    job.reporter().setStatusText("Finding Fat64 File And Directory entries recursively....");
    ExfatEntryRecord root;
    root.attributes = 0x10;
    root.name = u"DUMMY ENTRY";
    entryList.push_back(std::move(root));
    // The root directory has no stream entry: its chain in the FAT is its length.
    parseDirectory(0, Subfolder{0, boot->rootCluster, 0, false}, 0, job);
    enteringDeleted_ = true;
    for (std::size_t i = 0; i < deletedFolders_.size() && !stopRequested.load(); ++i) {
        Subfolder s = deletedFolders_[i];
        parseDirectory(s.index, s, 1, job);
    }
    enteringDeleted_ = false;
    deletedFolders_.clear();
    linkEntries();
    job.reporter().setStatusText("creating tree Structure...");
    announceFilledTree(job, topLevelEntries(), "Scanning process completed...");
    return true;
}

EntryDetails Fat64Class::describeEntry(std::uint32_t index) const
{
    EntryDetails d;
    if (index >= entryList.size())
        return d;
    const ExfatEntryRecord& r = entryList[index];
    d.size = r.isFolder() ? 0 : r.dataLength;
    d.creation = exfatTime(r.createTimestamp, r.create10ms, r.createUtcOffset);
    d.modification = exfatTime(r.modifyTimestamp, r.modify10ms, r.modifyUtcOffset);
    d.access = exfatTime(r.accessTimestamp, 0, r.accessUtcOffset);
    d.creationText = exfatTimeText(d.creation);
    d.accessText = exfatTimeText(d.access);
    d.modificationText = exfatTimeText(d.modification);
    d.sizeText = formatSizeText(static_cast<std::int64_t>(d.size));
    d.attributeText = dosAttributeText(r.attributes);
    return d;
}

bool Fat64Class::saveEntryContents(std::uint32_t index, DataSink& out)
{
    return saveContents(index, {}, out);
}

std::optional<bool> Fat64Class::saveGuessedContents(std::uint32_t index, std::size_t reading, DataSink& out)
{
    if (reading == 0)
        return saveEntryContents(index, out);
    if (index >= entryList.size() || clusterBytes == 0 || isDriveFormatted)
        return std::nullopt;
    const ExfatEntryRecord& r = entryList[index];
    const FreeClusters* free = freeClusters();
    if (!r.isDeleted() || r.isFolder() || r.validDataLength == 0 || !fat.isCluster(r.firstCluster) || free == nullptr ||
        deletedLayout(r) != DeletedClusters::Layout::Guessed)
        return std::nullopt;
    const std::uint64_t count = ceilDiv(r.validDataLength, clusterBytes);
    auto skip = otherDeletedRuns(*free).passOver(r.firstCluster, lastGuessedCluster(*free, r.firstCluster, count),
                                                 reading);
    if (!skip)
        return std::nullopt;
    return saveContents(index, *skip, out);
}

const OtherDeletedRuns& Fat64Class::otherDeletedRuns(const FreeClusters& free)
{
    // Built after the scan, when every deleted entry is known.
    if (otherDeletedRuns_ && otherDeletedRunsOf_ == entryList.size())
        return *otherDeletedRuns_;
    OtherDeletedRuns runs;
    for (const ExfatEntryRecord& r : entryList)
        if (r.isDeleted() && fat.isCluster(r.firstCluster) && free.isFree(r.firstCluster))
            runs.add(r.firstCluster, std::max<std::uint64_t>(1, ceilDiv(r.isFolder() ? r.dataLength : r.validDataLength,
                                                                        clusterBytes)));
    runs.finish();
    otherDeletedRuns_ = std::move(runs);
    otherDeletedRunsOf_ = entryList.size();
    return *otherDeletedRuns_;
}

bool Fat64Class::saveContents(std::uint32_t index, std::span<const ClusterRun> passOver, DataSink& out)
{
    if (index >= entryList.size())
        return false;
    const ExfatEntryRecord& r = entryList[index];
    if (r.isFolder() || r.dataLength == 0)
        return true;
    std::uint64_t valid = r.validDataLength;
    std::uint64_t tail = r.dataLength - valid; // never written: zeros
    if (!fat.isCluster(r.firstCluster) || clusterBytes == 0) {
        out.skip(r.dataLength);
        return valid == 0;
    }
    bool deleted = r.isDeleted();
    const FreeClusters* free = deleted && !isDriveFormatted ? freeClusters() : nullptr;
    CopyResult copied;
    if (free != nullptr) {
        DeletedClusters runs(*free, deletedLayout(r), r.firstCluster, ceilDiv(valid, clusterBytes), passOver);
        copied = copyRuns(*reader, heapPosition, clusterBytes, runs, valid, out);
    } else {
        // One run of clusters is known from the entry alone; a deleted file
        // whose chain was freed, with no bitmap to tell what is free, is
        // read from clusters in a row like a formatted volume's.
        bool oneRun = r.noFatChain() || isDriveFormatted || deleted;
        ClusterSpan span = fileClusters(fat, heapPosition, clusterBytes, oneRun);
        copied = copyClusters(*reader, fat, span, r.firstCluster, valid, out);
    }
    bool complete = copied.readable;
    std::uint64_t remaining = valid - copied.written;
    if (remaining > 0) {
        // The clusters ran out early: a live file keeps its length, the lost
        // part as zeros; a deleted file is what could be found of it.
        if (deleted)
            return false;
        complete = false;
    }
    if (!out.skip(remaining + tail))
        return false;
    return complete;
}

Recoverability Fat64Class::entryRecoverability(std::uint32_t index)
{
    if (index >= entryList.size() || !entryList[index].isDeleted())
        return Recoverability::Live;
    const ExfatEntryRecord& r = entryList[index];
    // Only the valid data is read; what lies past it is zeros, whatever the clusters hold.
    const std::uint64_t bytes = r.isFolder() ? r.dataLength : r.validDataLength;
    if (!r.isFolder() && bytes == 0)
        return Recoverability::Whole;
    if (clusterBytes == 0 || !fat.isCluster(r.firstCluster))
        return Recoverability::None;
    if (isDriveFormatted)
        return Recoverability::Guessed;
    const FreeClusters* free = freeClusters();
    if (free == nullptr)
        return Recoverability::Unknown;
    const std::uint64_t clusters = std::max<std::uint64_t>(1, ceilDiv(bytes, clusterBytes));
    return DeletedClusters::judge(*free, deletedLayout(r), r.firstCluster, clusters);
}

} // namespace qis
