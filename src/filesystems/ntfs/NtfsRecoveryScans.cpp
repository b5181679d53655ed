#include "filesystems/ntfs/Ntfs.h"

#include "filesystems/VolumeSweep.h"
#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qis {

using namespace ntfsdisk;

namespace {

constexpr std::uint64_t kSearchClusterBytes = 4096; // assumed until the MFT says otherwise
constexpr std::size_t kLookahead = kRecordSize;     // a record starting in a chunk's last sector
// Far more records than any real volume holds (a few hundred bytes each in
// memory); a crafted disk that repeats one record everywhere stops here.
constexpr std::size_t kMaxFoundRecords = 4u << 20;

// "FILE" at the position; the stricter searches also want the header's
// offsets inside the first sector, which random data rarely gives.
bool plausibleRecord(std::span<const std::uint8_t> at, bool strict)
{
    if (at.size() < 24 || std::memcmp(at.data(), "FILE", 4) != 0)
        return false;
    if (!strict)
        return true;
    ByteReader r(at);
    return r.u16le(4) < 512 && r.u16le(6) < 512 && r.u16le(20) < 512;
}

bool nameBegins(const NtfsEntryRecord& e, std::u16string_view prefix)
{
    return e.name && e.name->compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::uint64_t ntfs::searchSize() const
{
    return volumeSize;
}

std::optional<std::uint64_t> ntfs::recordOffsetOf(std::uint64_t number) const
{
    if (!offsetByNumber_.empty()) {
        auto it = offsetByNumber_.find(number);
        if (it == offsetByNumber_.end())
            return std::nullopt;
        return it->second;
    }
    if (number >= entryList.size())
        return std::nullopt;
    return entryList[static_cast<std::size_t>(number)].recordOffset;
}

void ntfs::beginSearch()
{
    searching_ = true;
    foundBySearch_ = true;
    mftReady = false;
    entryList.clear();
    offsetByNumber_.clear();
    numberOfPosition_.clear();
    // Position 0 means "no link" in the chains, so no found record may sit there.
    entryList.emplace_back();
    lastChild_.assign(1, 0);
    extensionNames_.clear();
}

void ntfs::applyExtensionNames()
{
    for (std::uint64_t i = 1; i < entryList.size(); ++i) {
        NtfsEntryRecord& e = entryList[static_cast<std::size_t>(i)];
        auto number = numberOfPosition_.find(i);
        if (e.name || number == numberOfPosition_.end())
            continue;
        auto pending = extensionNames_.find(number->second);
        if (pending == extensionNames_.end())
            continue;
        e.name = pending->second.name;
        e.parentIndex = pending->second.parent;
        e.nameSize = pending->second.nameSize;
        if (pending->second.folder)
            e.typeMark = 'D';
    }
    extensionNames_.clear();
}

void ntfs::dropUnnamedRecords()
{
    std::vector<NtfsEntryRecord> kept;
    std::unordered_map<std::uint64_t, std::uint64_t> numbers;
    kept.reserve(entryList.size());
    kept.push_back(std::move(entryList.front()));
    for (std::uint64_t i = 1; i < entryList.size(); ++i) {
        NtfsEntryRecord& e = entryList[static_cast<std::size_t>(i)];
        if (!e.name)
            continue;
        if (auto n = numberOfPosition_.find(i); n != numberOfPosition_.end())
            numbers.emplace(kept.size(), n->second);
        e.selfIndex = kept.size();
        kept.push_back(std::move(e));
    }
    entryList = std::move(kept);
    numberOfPosition_ = std::move(numbers);
}

void ntfs::endSearch()
{
    searching_ = false;
    lastChild_.assign(entryList.size(), 0);
}

std::uint64_t ntfs::appendFoundRecord(std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    std::array<std::uint8_t, kRecordSize> record{};
    if (bytes.size() >= kRecordSize) {
        std::copy_n(bytes.begin(), kRecordSize, record.begin());
    } else if (offset <= static_cast<std::uint64_t>(INT64_MAX) && reader->seek(static_cast<std::int64_t>(offset), 0)) {
        reader->read(record.data(), static_cast<std::uint32_t>(kRecordSize));
    }
    NtfsEntryRecord e;
    std::memcpy(e.signatureBytes.data(), record.data(), 4);
    e.recordOffset = offset;
    e.selfIndex = entryList.size();
    entryList.push_back(std::move(e));
    lastChild_.push_back(0);
    const std::uint64_t index = entryList.size() - 1;
    if (auto number = RecordHeader::parse(record).recordNumber) {
        offsetByNumber_.emplace(*number, offset);
        numberOfPosition_.emplace(index, *number);
    }
    parseRecordBytes(record, index);
    return index;
}

std::optional<std::uint64_t> ntfs::clusterSizeFor(const std::vector<DataRun>& runs, std::uint64_t mftStart)
{
    if (runs.empty() || runs.front().sparse || runs.front().lcn == 0)
        return std::nullopt;
    const std::uint64_t lcn = runs.front().lcn;
    for (std::uint64_t c = 512; c <= kMaxBytesPerCluster; c *= 2)
        if (auto at = checkedMul(lcn, c); at && *at == mftStart)
            return c;
    // A copy of the record (in $MFTMirr) lies elsewhere than the MFT it
    // describes: the size is the one at which its runs lead to the same record.
    for (std::uint64_t c = 512; c <= kMaxBytesPerCluster; c *= 2) {
        auto at = checkedMul(lcn, c);
        if (!at || *at >= searchSize())
            break;
        auto there = decodeRunList(*at, kAttrData);
        if (!there.empty() && there.front().lcn == lcn && there.front().length == runs.front().length)
            return c;
    }
    return std::nullopt;
}

std::vector<DataRun> ntfs::mftRunsFromFoundRecord(std::uint64_t index)
{
    const NtfsEntryRecord& found = entryList[static_cast<std::size_t>(index)];
    const std::uint64_t offset = found.recordOffset;
    const bool mirror = nameBegins(found, u"$MFTM");
    std::uint64_t number = mirror ? 1 : 0;
    if (auto n = numberOfPosition_.find(index); n != numberOfPosition_.end())
        number = n->second;
    const std::uint64_t mftStart = offset >= number * kRecordSize ? offset - number * kRecordSize : offset;
    std::vector<DataRun> runs = decodeRunList(offset, kAttrData);
    if (!mirror) {
        if (auto c = clusterSizeFor(runs, mftStart))
            bytesPerCluster = *c;
        return runs;
    }
    // $MFTMirr's runs lead to the mirror, whose first record is a copy of
    // $MFT; the cluster size is the one at which that copy's runs come back
    // to the MFT this $MFTMirr record was found in.
    if (runs.empty() || runs.front().sparse)
        return {};
    for (std::uint64_t c = 512; c <= kMaxBytesPerCluster; c *= 2) {
        auto at = checkedMul(runs.front().lcn, c);
        if (!at || *at >= searchSize())
            break;
        auto mft = decodeRunList(*at, kAttrData);
        if (mft.empty() || mft.front().sparse)
            continue;
        if (auto start = checkedMul(mft.front().lcn, c); start && *start == mftStart) {
            bytesPerCluster = c;
            return mft;
        }
    }
    return {};
}

void ntfs::linkFoundRecords()
{
    // Parent numbers become the positions of the records found with those
    // numbers; a parent that was not found makes an orphan.
    std::unordered_map<std::uint64_t, std::uint64_t> positionOfNumber;
    for (std::uint64_t i = 1; i < entryList.size(); ++i)
        if (auto n = numberOfPosition_.find(i); n != numberOfPosition_.end())
            positionOfNumber.emplace(n->second, i); // the first record found with a number is the one kept
    lastChild_.assign(entryList.size(), 0);
    for (std::uint64_t i = 1; i < entryList.size(); ++i) {
        NtfsEntryRecord& e = entryList[static_cast<std::size_t>(i)];
        if (!e.name)
            continue;
        auto parent = positionOfNumber.find(e.parentIndex);
        if (parent == positionOfNumber.end()) {
            e.parentIndex = entryList.size(); // nobody's: linkRecord makes it an orphan
        } else {
            e.parentIndex = parent->second;
        }
        linkRecord(i);
    }
}

bool ntfs::findFirstMftRecord(JobContext& job)
{
    bytesPerCluster = kSearchClusterBytes;
    job.reporter().setStatusText("boot sector corrupt.Scanning for first mft entry...");
    beginSearch();
    bool found = false;
    sweepVolume(*reader, searchSize(), kLookahead, [&](const SweepChunk& chunk) {
        if (job.stopSeen(stopRequested))
            return false;
        if (chunk.index % 100 == 0)
            job.reporter().setProgressPos(progressValue(chunk.index));
        for (std::size_t p = 0; p < chunk.length; p += 512) {
            auto at = chunk.bytes.subspan(p);
            if (!plausibleRecord(at, false))
                continue;
            if (entryList.size() >= kMaxFoundRecords)
                return false;
            std::uint64_t index = appendFoundRecord(chunk.start + p, at);
            if (checkMftName && nameBegins(entryList[static_cast<std::size_t>(index)], u"$MF")) {
                job.reporter().setStatusText("found mft entry.getting its run ...");
                auto runs = mftRunsFromFoundRecord(index);
                job.reporter().setStatusText("got run ...");
                if (!runs.empty()) {
                    mftRuns = std::move(runs);
                    found = true;
                    return false;
                }
            }
            p += 512; // a record fills two sectors
        }
        return true;
    });
    if (found) {
        mftReady = true;
        entryList.clear();
        offsetByNumber_.clear();
        numberOfPosition_.clear();
        endSearch();
        return true;
    }
    // No MFT: the tree is made of what was found, linked by the numbers the
    // records carry.
    applyExtensionNames();
    linkFoundRecords();
    endSearch();
    return false;
}

bool ntfs::deepScan(JobContext& job)
{
    BootSector b = BootSector::parse(bootSector);
    const bool bootKnown = b.signatureOk && b.bytesPerCluster() != 0;
    bytesPerCluster = bootKnown ? b.bytesPerCluster() : kSearchClusterBytes;
    bool clusterKnown = bootKnown;
    beginSearch();
    const std::uint64_t chunks = sweepChunkCount(searchSize());
    const auto progressEnd = progressValue(chunks);
    job.reporter().setProgressRange(0, progressEnd);
    char text[64];
    sweepVolume(*reader, searchSize(), kLookahead, [&](const SweepChunk& chunk) {
        if (job.stopSeen(stopRequested))
            return false;
        job.reporter().setProgressPos(progressValue(chunk.index));
        for (std::size_t p = 0; p < chunk.length; p += 512) {
            auto at = chunk.bytes.subspan(p);
            if (!plausibleRecord(at, true))
                continue;
            if (entryList.size() >= kMaxFoundRecords)
                return false;
            std::uint64_t index = appendFoundRecord(chunk.start + p, at);
            std::snprintf(text, sizeof text, "MFT ENTRY %llu Found.Parsing it ..",
                          static_cast<unsigned long long>(entryList.size() - 1));
            NtfsEntryRecord& e = entryList[static_cast<std::size_t>(index)];
            if (e.name) {
                e.isOrphan = 1;
                job.reporter().setStatusText(text);
                // Without a boot sector the MFT's own record tells the
                // cluster size that every file's runs count in.
                if (!clusterKnown && *e.name == u"$MFT") {
                    if (auto c = clusterSizeFor(decodeRunList(e.recordOffset, kAttrData),
                                                e.recordOffset)) {
                        bytesPerCluster = *c;
                        clusterKnown = true;
                    }
                }
            }
            p += 512;
        }
        return true;
    });
    // Records named only by their extension records are kept too; the
    // others (no $FILE_NAME anywhere) go.
    applyExtensionNames();
    dropUnnamedRecords();
    for (NtfsEntryRecord& e : entryList)
        e.isOrphan = e.name ? 1 : 0;
    job.reporter().setProgressPos(progressEnd);
    endSearch();
    return false;
}

std::size_t ntfs::findMftCandidates(std::size_t wanted, JobContext& job)
{
    BootSector b = BootSector::parse(bootSector);
    bytesPerCluster = b.signatureOk && b.bytesPerCluster() != 0 ? b.bytesPerCluster() : kSearchClusterBytes;
    volumeSize = listedVolumeSize();
    mftCandidates.clear();
    if (volumeSize == 0)
        return 0;
    beginSearch();
    const std::uint64_t chunks = sweepChunkCount(volumeSize);
    const auto progressEnd = progressValue(chunks);
    job.reporter().setProgressRange(0, progressEnd);
    std::string candidateText;
    char text[64];
    sweepVolume(*reader, volumeSize, kLookahead, [&](const SweepChunk& chunk) {
        if (!mftCandidates.empty() && mftCandidates.size() >= wanted)
            return false;
        if (job.stopSeen(stopRequested)) {
            stopRequested.store(false);
            return false;
        }
        job.reporter().setProgressPos(progressValue(chunk.index + 1));
        for (std::size_t p = 0; p < chunk.length; p += 512) {
            auto at = chunk.bytes.subspan(p);
            if (!plausibleRecord(at, true))
                continue;
            job.reporter().setStatusText(candidateText);
            if (entryList.size() >= kMaxFoundRecords)
                return false;
            std::uint64_t index = appendFoundRecord(chunk.start + p, at);
            // $Boot is record 7: the record found seven before it starts the
            // same MFT when it is $MFT (and not $MFTMirr).
            if (nameBegins(entryList[static_cast<std::size_t>(index)], u"$Boot") && index >= 8) {
                const NtfsEntryRecord& first = entryList[static_cast<std::size_t>(index - 7)];
                if (nameBegins(first, u"$MFT") && (first.name->size() < 5 || (*first.name)[4] != u'M')) {
                    mftCandidates.push_back(first);
                    std::snprintf(text, sizeof text, "MFT ENTRY %llu Found.Parsing it ...",
                                  static_cast<unsigned long long>(entryList.size() - 1));
                    candidateText = text;
                }
            }
            p += 512;
        }
        return true;
    });
    checkMftName = false;
    job.reporter().setProgressPos(progressEnd);
    endSearch();
    return mftCandidates.size();
}

bool ntfs::useCandidate(std::size_t choice)
{
    if (choice >= mftCandidates.size())
        return false;
    auto runs = decodeRunList(mftCandidates[choice].recordOffset, kAttrData);
    if (runs.empty())
        return false;
    mftRuns = std::move(runs);
    mftReady = true;
    return true;
}

} // namespace qis
