#include "filesystems/ntfs/Ntfs.h"

#include "filesystems/ParentLinks.h"

#include "images/VolumeBytes.h"
#include "filesystems/VolumeSweep.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <cstring>

namespace qis {

using namespace ntfsdisk;

namespace {

constexpr std::uint64_t kDefaultBytesPerCluster = 4096;
constexpr std::uint64_t kReadWindow = 1u << 20; // MFT clusters are read a window at a time
// Far more records than the largest real MFTs hold; a damaged run list that
// claims more is cut there rather than taking the memory.
constexpr std::uint64_t kMaxMftRecords = 1u << 24;
const std::u16string kOrphanName = u"ORPHAN_ENTRY";
const std::u16string kRootName = u".";

} // namespace

void ntfs::attachVolume()
{
    reader->baseOffset = static_cast<std::int64_t>(volumeStartSector * 512);
    reader->seek(0, 0);
}

bool ntfs::readBootSector()
{
    bootSector.fill(0);
    if (reader->seek(0, 0))
        reader->read(bootSector.data(), 512);
    BootSector b = BootSector::parse(bootSector);
    if (!b.signatureOk && readBackupBootSector())
        b = BootSector::parse(bootSector);
    // A sector count too large to be bytes is a damaged field, not a volume
    // that fills the address space.
    std::optional<std::uint64_t> claimed = b.signatureOk ? checkedMul(b.totalSectors, 512) : std::nullopt;
    volumeSize = withinDisk(*reader, claimed.value_or(listedVolumeSize()));
    return volumeSize != 0;
}

std::uint64_t ntfs::listedVolumeSize() const { return volumeBytesFromSizeText(volumeSizeText); }

bool ntfs::readBackupBootSector()
{
    // The copy is the volume's last sector, and the sector count it holds
    // names that sector. The volume list gives the size in whole MiB, so
    // the sectors around that size are looked at.
    const std::uint64_t listed = listedVolumeSize() / 512;
    if (listed == 0)
        return false;
    const std::uint64_t first = listed > 2048 ? listed - 2048 : 0;
    std::vector<std::uint8_t> window(static_cast<std::size_t>((listed + 2048 - first) * 512));
    readVolumeBytes(*reader, first * 512, window);
    for (std::uint64_t s = listed + 2048; s-- > first;) {
        auto sector = std::span(window).subspan(static_cast<std::size_t>((s - first) * 512), 512);
        BootSector b = BootSector::parse(sector);
        if (b.signatureOk && b.totalSectors == s && b.bytesPerCluster() != 0) {
            std::copy(sector.begin(), sector.end(), bootSector.begin());
            return true;
        }
    }
    return false;
}

bool ntfs::locateMft(JobContext& job)
{
    BootSector b = BootSector::parse(bootSector);
    bytesPerCluster = b.bytesPerCluster();
    if (bytesPerCluster == 0)
        bytesPerCluster = kDefaultBytesPerCluster;
    if (!b.signatureOk)
        return findFirstMftRecord(job);
    mftReady = true;
    auto mftOffset = checkedMul(b.mftCluster, bytesPerCluster);
    if (!mftOffset || *mftOffset > static_cast<std::uint64_t>(INT64_MAX) || (volumeSize && *mftOffset >= volumeSize))
        return true;
    job.reporter().setStatusText("boot sector is fine.Getting run of mft entry...");
    mftRuns = decodeRunList(*mftOffset, kAttrData);
    if (mftRuns.empty()) {
        // The MFT's first records are gone; $MFTMirr keeps a copy of them.
        auto mirror = checkedMul(b.mftMirrorCluster, bytesPerCluster);
        if (mirror && *mirror != 0 && *mirror <= static_cast<std::uint64_t>(INT64_MAX) &&
            (volumeSize == 0 || *mirror < volumeSize))
            mftRuns = decodeRunList(*mirror, kAttrData);
    }
    job.reporter().setStatusText("Got run...");
    return true;
}

bool ntfs::readRecordFixed(std::uint64_t recordOffset, std::span<std::uint8_t> out)
{
    std::fill(recordBuffer.begin(), recordBuffer.end(), 0);
    bool ok = recordOffset <= static_cast<std::uint64_t>(INT64_MAX) &&
              reader->seek(static_cast<std::int64_t>(recordOffset), 0) &&
              reader->read(recordBuffer.data(), static_cast<std::uint32_t>(kRecordSize));
    std::copy(recordBuffer.begin(), recordBuffer.end(), out.begin());
    applyFixups(out.first(kRecordSize));
    return ok;
}

std::vector<DataRun> ntfs::decodeRunList(std::uint64_t recordOffset, std::uint32_t attributeType)
{
    std::array<std::uint8_t, kRecordSize> record{};
    readRecordFixed(recordOffset, record);
    std::vector<DataRun> runs;
    for (const AttributeHeader& a : walkAttributes(record)) {
        if (a.type != attributeType || a.nonResident == 0 || a.isNamed())
            continue;
        auto part = ntfsdisk::decodeRunList(record, a);
        runs.insert(runs.end(), part.begin(), part.end());
    }
    return runs;
}

void ntfs::readMftRecords(JobContext& job)
{
    if (!mftReady || stopRequested.load())
        return;
    if (bytesPerCluster == 0)
        bytesPerCluster = kDefaultBytesPerCluster;
    entryList.clear();
    foundBySearch_ = false;
    std::vector<std::uint8_t> window;
    for (const DataRun& run : mftRuns) {
        job.reporter().setStatusText("parsing " + std::to_string(run.lcn) + " cluster of MFT run.");
        if (job.stopSeen(stopRequested))
            return;
        if (run.sparse)
            continue;
        auto runBytes = checkedMul(run.length, bytesPerCluster);
        auto runStart = checkedMul(run.lcn, bytesPerCluster);
        if (!runBytes || !runStart)
            continue;
        // The MFT lies inside the volume, and a damaged run that claims more
        // is read only as far as the volume goes.
        if (volumeSize != 0) {
            if (*runStart >= volumeSize)
                continue;
            runBytes = std::min(*runBytes, volumeSize - *runStart);
        }
        if (entryList.size() >= kMaxMftRecords)
            break;
        runBytes = std::min<std::uint64_t>(*runBytes, (kMaxMftRecords - entryList.size()) * kRecordSize);
        // Records follow each other through the run whatever the cluster
        // size: four to a 4 KiB cluster, one to every two 512-byte clusters.
        for (std::uint64_t done = 0; done + kRecordSize <= *runBytes;) {
            std::uint64_t n = std::min(kReadWindow, *runBytes - done) / kRecordSize * kRecordSize;
            window.assign(static_cast<std::size_t>(n), 0);
            std::uint64_t at = *runStart + done;
            if (at > static_cast<std::uint64_t>(INT64_MAX) || !reader->seek(static_cast<std::int64_t>(at), 0))
                break;
            reader->read(window.data(), static_cast<std::uint32_t>(n));
            for (std::uint64_t r = 0; r < n; r += kRecordSize) {
                NtfsEntryRecord e;
                std::memcpy(e.signatureBytes.data(), window.data() + r, 4);
                e.recordOffset = at + r;
                e.selfIndex = entryList.size();
                entryList.push_back(std::move(e));
            }
            done += n;
        }
    }
}

void ntfs::parseRecord(std::uint64_t recordOffset, std::uint64_t index)
{
    std::array<std::uint8_t, kRecordSize> record{};
    std::fill(record.begin(), record.end(), 0);
    if (recordOffset <= static_cast<std::uint64_t>(INT64_MAX) && reader->seek(static_cast<std::int64_t>(recordOffset), 0))
        reader->read(record.data(), static_cast<std::uint32_t>(kRecordSize));
    parseRecordBytes(record, index);
}

void ntfs::parseRecordBytes(std::span<std::uint8_t> record, std::uint64_t index)
{
    if (record.size() < kRecordSize)
        return;
    record = record.first(kRecordSize);
    applyFixups(record);
    NtfsEntryRecord& e = entryList[index];
    RecordHeader header = RecordHeader::parse(record);
    if (!header.signatureOk)
        return;
    e.sequence = header.sequenceNumber;
    e.recordFlags = header.flags;

    // The record is named by a Win32 or POSIX name when it has one; a DOS
    // 8.3 name only stands in when there is no other. Name and parent come
    // from the same $FILE_NAME, so a hard link keeps its own folder.
    std::optional<FileNameValue> chosen;
    for (const AttributeHeader& a : walkAttributes(record)) {
        if (a.type != kAttrFileName || a.nonResident != 0)
            continue;
        auto value = FileNameValue::parse(residentValue(record, a));
        if (!value)
            continue;
        if (value->flags & kFileNameHasIndex)
            e.typeMark = 'D';
        if (!chosen || (chosen->nameSpace == kNamespaceDos && value->nameSpace != kNamespaceDos))
            chosen = std::move(value);
    }
    // A file deleted with an attribute list may have had its name taken out
    // of the extension record that held it; the bytes are still there.
    if (!chosen && header.baseRecord != 0 && (header.flags & kRecordInUse) == 0)
        chosen = removedFileName(record);
    if (!chosen)
        return;
    // An extension record is part of its base record's file: its name (moved
    // out of a base record that has an attribute list) names the base.
    std::uint64_t target = index;
    if (header.baseRecord != 0 && searching_) {
        // A record found by a search holds its place by where it was found,
        // not by its MFT number: the base record's name waits until the
        // search is over and every record's number is known.
        e.typeMark = 0;
        ExtensionName pending{chosen->name, chosen->parentRecord(), chosen->allocatedSize,
                              (chosen->flags & kFileNameHasIndex) != 0};
        extensionNames_.emplace(header.baseRecord, std::move(pending));
        return;
    }
    if (header.baseRecord != 0) {
        target = header.baseRecord;
        if (target >= entryList.size() || target == index || entryList[target].name)
            return;
        // A freed extension names only the file it was made for: its base
        // record as it was then (same sequence), or freed since (one on).
        if ((header.flags & kRecordInUse) == 0 && target < index &&
            !sameOrFreedSince(header.baseSequence, entryList[target].sequence, entryList[target].isDeleted()))
            return;
        e.typeMark = 0;
        if (chosen->flags & kFileNameHasIndex)
            entryList[target].typeMark = 'D';
    }
    NtfsEntryRecord& named = entryList[target];
    named.name = chosen->name;
    // The base record's own flags once it was read; until then its
    // extension's, which it was freed (or kept) together with.
    if (target > index)
        named.recordFlags = header.flags;
    named.nameSize = chosen->allocatedSize;
    named.parentIndex = chosen->parentRecord();
    if (!searching_)
        linkRecord(target);
}

void ntfs::linkRecord(std::uint64_t index)
{
    NtfsEntryRecord& e = entryList[index];
    const std::uint64_t p = e.parentIndex;
    if (p >= index) {
        // The parent comes later in the table (or is the record itself): its
        // kind is not known yet.
        e.nextSibling = 0;
        if (p >= entryList.size()) {
            e.isOrphan = 1;
            return;
        }
        if (entryList[p].firstChild == 0 && p != index) {
            entryList[p].firstChild = static_cast<std::int64_t>(e.selfIndex);
            lastChild_[p] = e.selfIndex;
        }
        linkIntoParent(index);
        return;
    }
    NtfsEntryRecord& parent = entryList[p];
    if (!parent.isFolder()) {
        e.isOrphan = 1;
        return;
    }
    if (parent.firstChild == 0 && p != index && e.name) {
        parent.firstChild = static_cast<std::int64_t>(e.selfIndex);
        lastChild_[p] = e.selfIndex;
    }
    linkIntoParent(index);
}

void ntfs::linkIntoParent(std::uint64_t index)
{
    if (index == 0 || index >= entryList.size())
        return;
    if (lastChild_.size() < entryList.size())
        lastChild_.resize(entryList.size(), 0);
    NtfsEntryRecord& e = entryList[index];
    const std::uint64_t p = e.parentIndex;
    if (p >= entryList.size() || p == index)
        return; // a record is never its own child
    NtfsEntryRecord& parent = entryList[p];
    std::int64_t c = p == 0 ? 0 : parent.firstChild;
    if (c <= 0) {
        parent.firstChild = static_cast<std::int64_t>(index);
        lastChild_[p] = index;
        return;
    }
    if (static_cast<std::uint64_t>(c) >= entryList.size() || !entryList[static_cast<std::size_t>(c)].hasSignature())
        return;
    if (static_cast<std::uint64_t>(c) == index)
        return; // already first
    // Children are appended in table order; the chain's end is kept so a
    // folder of a hundred thousand files links in linear time.
    std::uint64_t last = lastChild_[p] ? lastChild_[p] : static_cast<std::uint64_t>(c);
    if (last == index)
        return;
    entryList[last].nextSibling = static_cast<std::int64_t>(index);
    lastChild_[p] = index;
}

void ntfs::parseAllRecords(JobContext& job)
{
    lastChild_.assign(entryList.size(), 0);
    if (mftReady && !stopRequested.load()) {
        const auto count = progressValue(entryList.size());
        job.reporter().setProgressRange(0, count);
        // Records that follow each other on the volume are read a window at a time.
        constexpr std::uint64_t kWindowRecords = kReadWindow / kRecordSize;
        std::vector<std::uint8_t> window;
        for (std::uint64_t i = 0; i < entryList.size();) {
            std::uint64_t n = 1;
            while (i + n < entryList.size() && n < kWindowRecords &&
                   entryList[i + n].recordOffset == entryList[i].recordOffset + n * kRecordSize)
                ++n;
            window.assign(static_cast<std::size_t>(n * kRecordSize), 0);
            if (entryList[i].recordOffset <= static_cast<std::uint64_t>(INT64_MAX) &&
                reader->seek(static_cast<std::int64_t>(entryList[i].recordOffset), 0))
                reader->read(window.data(), static_cast<std::uint32_t>(window.size()));
            bool stopped = false;
            for (std::uint64_t k = 0; k < n; ++k, ++i) {
                if (i % 256 == 0) {
                    job.reporter().setStatusText("parsing MFT entry " + std::to_string(i) + "...");
                    job.reporter().setProgressPos(progressValue(i));
                }
                if (job.stopSeen(stopRequested)) {
                    stopped = true;
                    break;
                }
                parseRecordBytes(std::span(window).subspan(static_cast<std::size_t>(k * kRecordSize), kRecordSize), i);
            }
            if (stopped)
                break;
        }
    }
    addRootAndOrphans();
}

void ntfs::addRootAndOrphans()
{
    NtfsEntryRecord orphan;
    orphan.signatureBytes = {'F', 'I', 'L', 'E'};
    orphan.name = kOrphanName;
    orphan.typeMark = 'D';
    entryList.push_back(orphan);
    orphanIndex = static_cast<std::int64_t>(entryList.size() - 1);
    lastChild_.resize(entryList.size(), 0);

    rootIndex = entryList.size();
    for (std::uint64_t i = 0; i < entryList.size(); ++i)
        if (entryList[i].name && *entryList[i].name == kRootName) {
            rootIndex = i;
            break;
        }
    if (rootIndex < entryList.size()) {
        NtfsEntryRecord& o = entryList[static_cast<std::size_t>(orphanIndex)];
        o.parentIndex = rootIndex;
        o.nextSibling = 0;
        o.selfIndex = static_cast<std::uint64_t>(orphanIndex);
        o.recordFlags = kRecordInUse;
        linkIntoParent(static_cast<std::uint64_t>(orphanIndex));
    }
    if (scanMode != 3)
        cutParentLoops();
    linkOrphans();
}

void ntfs::cutParentLoops()
{
    const std::size_t n = entryList.size();
    auto parentOf = [&](std::size_t i) {
        const NtfsEntryRecord& e = entryList[i];
        const std::uint64_t p = e.parentIndex;
        if (i == rootIndex || e.isOrphan || p >= n || p == i || !entryList[p].isFolder())
            return n;
        return static_cast<std::size_t>(p);
    };
    for (std::size_t loop : parentLoops(n, parentOf)) {
        NtfsEntryRecord& e = entryList[loop];
        unlinkFromParent(loop);
        e.isOrphan = 1;
        problems.add("Folder " + utf16ToUtf8(e.name.value_or(u"")) + " (record " + std::to_string(loop) +
                     ") is its own ancestor through damaged parent references: it is listed under " +
                     utf16ToUtf8(kOrphanName) + ".");
    }
}

void ntfs::unlinkFromParent(std::uint64_t index)
{
    NtfsEntryRecord& e = entryList[index];
    NtfsEntryRecord& parent = entryList[e.parentIndex];
    std::int64_t previous = 0;
    std::size_t steps = 0;
    for (std::int64_t c = parent.firstChild;
         c > 0 && static_cast<std::uint64_t>(c) < entryList.size() && steps++ < entryList.size();
         previous = c, c = entryList[static_cast<std::size_t>(c)].nextSibling) {
        if (static_cast<std::uint64_t>(c) != index)
            continue;
        if (previous > 0)
            entryList[static_cast<std::size_t>(previous)].nextSibling = e.nextSibling;
        else
            parent.firstChild = e.nextSibling > 0 ? e.nextSibling : 0;
        if (e.parentIndex < lastChild_.size() && lastChild_[e.parentIndex] == index)
            lastChild_[e.parentIndex] = static_cast<std::uint64_t>(previous);
        return;
    }
}

void ntfs::linkOrphans()
{
    if (scanMode == 3) {
        relinkDeep();
        return;
    }
    NtfsEntryRecord& o = entryList[static_cast<std::size_t>(orphanIndex)];
    for (std::uint64_t i = 0; i < entryList.size(); ++i) {
        NtfsEntryRecord& e = entryList[i];
        if (!e.isOrphan)
            continue;
        // Pushed to the front: the orphans read in reverse table order.
        e.nextSibling = o.firstChild > 0 ? o.firstChild : -1;
        e.parentIndex = static_cast<std::uint64_t>(orphanIndex);
        o.firstChild = static_cast<std::int64_t>(i);
    }
}

void ntfs::relinkDeep()
{
    // Records found by searching carry parent numbers that name no table
    // position: every folder goes under ORPHAN_ENTRY, and every other record
    // into the folder found most recently before it on the volume.
    constexpr std::uint64_t kMaxFolders = 100000;
    const auto orphan = static_cast<std::uint64_t>(orphanIndex);
    std::uint64_t current = orphan;
    std::uint64_t foldersHung = 0;
    bool firstFolder = true;
    auto pushFront = [&](std::uint64_t parent, std::uint64_t i) {
        NtfsEntryRecord& p = entryList[static_cast<std::size_t>(parent)];
        NtfsEntryRecord& e = entryList[static_cast<std::size_t>(i)];
        e.parentIndex = parent;
        e.nextSibling = p.firstChild > 0 ? p.firstChild : -1;
        p.firstChild = static_cast<std::int64_t>(i);
    };
    entryList[static_cast<std::size_t>(orphan)].firstChild = 0;
    for (std::uint64_t i = 1; i < entryList.size(); ++i) {
        if (i == orphan || i == rootIndex)
            continue;
        NtfsEntryRecord& e = entryList[static_cast<std::size_t>(i)];
        e.firstChild = 0;
        e.nextSibling = 0;
        e.parentIndex = 0;
        if (!e.hasSignature() || !e.name)
            continue;
        if (e.isFolder() && (firstFolder || foldersHung < kMaxFolders)) {
            // Files met before the first folder stay in ORPHAN_ENTRY's chain
            // behind it, rather than being cut off by an end mark.
            pushFront(orphan, i);
            current = i;
            if (!firstFolder)
                ++foldersHung;
            firstFolder = false;
        } else {
            pushFront(current, i);
        }
    }
}

std::vector<std::uint64_t> ntfs::topLevelEntries() const
{
    std::vector<std::uint64_t> top;
    // In deep mode everything hangs under ORPHAN_ENTRY, found root or not.
    if (scanMode == 3 && orphanIndex >= 0) {
        top.push_back(static_cast<std::uint64_t>(orphanIndex));
        return top;
    }
    if (rootIndex >= entryList.size()) {
        // A table put together by a search may lack the root's record;
        // what it found is still shown, under ORPHAN_ENTRY.
        if (!offsetByNumber_.empty() && orphanIndex >= 0)
            top.push_back(static_cast<std::uint64_t>(orphanIndex));
        return top;
    }
    bool orphanMet = false;
    std::vector<bool> seen(entryList.size(), false);
    // Record 0 ($MFT) can be nobody's child in the links, where 0 means none;
    // it still belongs at the top of the root folder.
    if (rootIndex != 0 && entryList[0].name && entryList[0].parentIndex == rootIndex) {
        top.push_back(0);
        seen[0] = true;
    }
    for (std::int64_t c = entryList[rootIndex].firstChild;
         c > 0 && static_cast<std::uint64_t>(c) < entryList.size() && !seen[static_cast<std::size_t>(c)];
         c = entryList[static_cast<std::size_t>(c)].nextSibling) {
        seen[static_cast<std::size_t>(c)] = true;
        top.push_back(static_cast<std::uint64_t>(c));
        orphanMet |= c == orphanIndex;
    }
    if (!orphanMet)
        top.push_back(static_cast<std::uint64_t>(orphanIndex));
    return top;
}

bool ntfs::runScan(JobContext& job)
{
    problems.clear();
    attachVolume();
    readBootSector();
    const bool bootIsNtfs = BootSector::parse(bootSector).signatureOk;
    if (scanMode == 3) {
        deepScan(job);
        // Neither a boot sector nor a single record: not an NTFS volume.
        if (!bootIsNtfs && foundRecords() == 0)
            return false;
    } else {
        job.reporter().setStatusText(" ParsingBasedOnMFT is going on....");
        const bool located = locateMft(job);
        if (!bootIsNtfs && !located) {
            if (foundRecords() == 0 && !stopRequested.load())
                return false;
            problems.add("There is no NTFS boot sector, and no record of the MFT itself was found: only the " +
                             std::to_string(foundRecords()) + " records met on the way are listed.",
                         FurtherMode::Deep);
        } else if (mftRuns.empty()) {
            problems.add("Neither the MFT's own record nor its copy in $MFTMirr gives the MFT's runs: no "
                         "record of the MFT could be read.",
                         FurtherMode::Deep);
        }
        readMftRecords(job);
    }
    parseAllRecords(job);
    return true;
}

void ntfs::runAdvancedScan(JobContext& job, std::size_t choice, unsigned sectorsPerCluster)
{
    stopRequested.store(false);
    // The records of the candidate search go; the table is the MFT's again.
    entryList.clear();
    offsetByNumber_.clear();
    numberOfPosition_.clear();
    mftRuns.clear();
    mftReady = false;
    useCandidate(choice);
    if (sectorsPerCluster > 0)
        bytesPerCluster = std::uint64_t{sectorsPerCluster} * 512;
    readMftRecords(job);
    parseAllRecords(job);
}

} // namespace qis
