// Reading a file's contents: resident values, run lists (sparse runs as
// holes), LZNT1-compressed units, and data spread over extension records.

#include "images/VolumeBytes.h"
#include "filesystems/ntfs/Lznt1.h"
#include "filesystems/ntfs/Ntfs.h"
#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <map>
#include <set>

namespace qis {

using namespace ntfsdisk;

namespace {

constexpr std::size_t kMaxListedRecords = 4096;
constexpr std::uint64_t kCopyWindow = 1u << 20;

struct Piece {
    std::uint64_t startingVcn = 0;
    std::vector<DataRun> runs;
};

// The unnamed $DATA attributes of one record, as pieces of the stream.
void collectPieces(std::span<const std::uint8_t> record, ntfs::DataStream& stream, std::map<std::uint64_t, Piece>& pieces,
                   bool headerFromHere)
{
    for (const AttributeHeader& a : walkAttributes(record)) {
        if (a.type != kAttrData || a.isNamed())
            continue;
        if (a.nonResident == 0) {
            if (!stream.found) {
                auto value = residentValue(record, a);
                stream.found = true;
                stream.resident = true;
                stream.value.assign(value.begin(), value.end());
                stream.dataSize = stream.initializedSize = value.size();
                stream.flags = a.flags;
            }
            continue;
        }
        // The piece that starts at VCN 0 carries the sizes of the whole stream.
        if (a.startingVcn == 0 && (headerFromHere || !stream.found)) {
            stream.found = true;
            stream.resident = false;
            stream.dataSize = a.dataSize;
            stream.initializedSize = std::min(a.initializedSize, a.dataSize);
            stream.compressionUnit = a.compressionUnit;
            stream.flags = a.flags;
        }
        if (!pieces.count(a.startingVcn))
            pieces[a.startingVcn] = Piece{a.startingVcn, decodeRunList(record, a)};
    }
}

} // namespace

std::optional<std::uint64_t> ntfs::recordNumber(std::uint64_t index) const
{
    if (index >= entryList.size() || static_cast<std::int64_t>(index) == orphanIndex)
        return std::nullopt;
    if (auto n = numberOfPosition_.find(index); n != numberOfPosition_.end())
        return n->second;
    if (!foundBySearch_)
        return index;
    return std::nullopt;
}

ntfs::DataStream ntfs::dataStream(std::uint64_t index)
{
    DataStream stream;
    if (index >= entryList.size())
        return stream;
    std::array<std::uint8_t, kRecordSize> record{};
    readRecordFixed(entryList[index].recordOffset, record);
    const RecordHeader base = RecordHeader::parse(record);
    if (!base.signatureOk)
        return stream;
    const bool baseFreed = (base.flags & kRecordInUse) == 0;
    const std::optional<std::uint64_t> baseNumber = recordNumber(index);

    std::map<std::uint64_t, Piece> pieces;
    std::vector<AttributeListEntry> listed;
    for (const AttributeHeader& a : walkAttributes(record)) {
        if (a.type != kAttrAttributeList)
            continue;
        // The list names the records holding each attribute; a long list is
        // itself non-resident. When a file is deleted its list may be cut
        // short without being written again, so for a freed record the
        // entries behind the list's end are read too, as far as they go on
        // in order; each still has to lead to a record of this file.
        std::vector<std::uint8_t> list;
        if (a.nonResident == 0) {
            auto value = residentValue(record, a);
            std::size_t length = value.size();
            if (baseFreed && a.valueOffset <= a.length)
                length = a.length - a.valueOffset;
            list.assign(record.begin() + static_cast<std::ptrdiff_t>(a.offset + a.valueOffset),
                        record.begin() + static_cast<std::ptrdiff_t>(a.offset + a.valueOffset + length));
        } else {
            for (const DataRun& run : ntfsdisk::decodeRunList(record, a)) {
                auto bytes = checkedMul(run.length, bytesPerCluster);
                auto at = checkedMul(run.lcn, bytesPerCluster);
                if (!bytes || !at || run.sparse || list.size() + *bytes > (1u << 20))
                    break;
                std::vector<std::uint8_t> part(static_cast<std::size_t>(*bytes));
                readVolumeBytes(*reader, *at, part);
                list.insert(list.end(), part.begin(), part.end());
            }
            if (!baseFreed)
                list.resize(std::min<std::size_t>(list.size(), a.dataSize));
        }
        listed = parseAttributeList(list, kMaxListedRecords, baseFreed);
        break;
    }

    collectPieces(record, stream, pieces, true);
    std::set<std::uint64_t> visited;
    if (baseNumber)
        visited.insert(*baseNumber);
    for (const AttributeListEntry& l : listed) {
        if (l.type != kAttrData || l.nameLength != 0 || !visited.insert(l.recordNumber).second)
            continue;
        auto at = recordOffsetOf(l.recordNumber);
        std::array<std::uint8_t, kRecordSize> extension{};
        if (at)
            readRecordFixed(*at, extension);
        const RecordHeader h = RecordHeader::parse(extension);
        // An extension record is this file's while it names this record as
        // its base and carries the sequence numbers the two had when it was
        // made; freed together with the base, both have moved on by one. A
        // record used again since belongs to another file.
        const bool freedToo = baseFreed && (h.flags & kRecordInUse) == 0;
        const bool ours = h.signatureOk && (!baseNumber || h.baseRecord == *baseNumber) &&
                          (l.sequence == 0 || sameOrFreedSince(l.sequence, h.sequenceNumber, freedToo)) &&
                          (h.baseSequence == 0 || sameOrFreedSince(h.baseSequence, base.sequenceNumber, baseFreed));
        if (!ours) {
            stream.missingPieces = true;
            continue;
        }
        collectPieces(extension, stream, pieces, false);
    }
    // Pieces follow each other by VCN; one that was not found leaves a gap
    // of zeros, so that the pieces after it stay where they belong.
    std::uint64_t vcn = 0;
    for (auto& [start, piece] : pieces) {
        if (start > vcn) {
            stream.runs.push_back({0, start - vcn, true});
            stream.missingPieces = true;
            vcn = start;
        }
        for (const DataRun& run : piece.runs) {
            stream.runs.push_back(run);
            vcn += run.length;
        }
    }
    return stream;
}

bool ntfs::saveEntry(std::uint64_t index, DataSink& out)
{
    if (index >= entryList.size() || entryList[index].isFolder())
        return true;
    DataStream stream = dataStream(index);
    if (!stream.found)
        return true;
    if (stream.resident)
        return out.write(stream.value);
    // Zeros stand in for pieces whose records were lost (see dataStream).
    bool complete = !stream.missingPieces;

    const std::uint64_t cluster = bytesPerCluster ? bytesPerCluster : 4096;
    std::uint64_t remaining = stream.dataSize;
    std::uint64_t initialized = stream.initializedSize;
    std::vector<std::uint8_t> buffer;

    // Clusters past the disk's end cannot be read: a damaged or crafted run
    // may claim terabytes there, which are left as one hole instead of being
    // tried, and written as zeros, a piece at a time.
    const std::uint64_t diskEnd = withinDisk(*reader, UINT64_MAX);
    auto pastDisk = [&](std::uint64_t lcn) {
        auto at = checkedMul(lcn, cluster);
        return !at || *at >= diskEnd;
    };
    // Sectors the reader cannot deliver are written as zeros, so the rest of
    // the file stays where it belongs; the sectors read around them are kept.
    // A deleted file's clusters that the bitmap now gives to another file
    // hold that file's data, not this one's: they are written as zeros.
    const bool deleted = entryList[index].isDeleted() && loadClusterBitmap();
    auto readClusters = [&](std::uint64_t lcn, std::uint64_t count, std::uint8_t* into) {
        auto at = checkedMul(lcn, cluster);
        std::span<std::uint8_t> bytes(into, static_cast<std::size_t>(count * cluster));
        if (!at) {
            std::fill(bytes.begin(), bytes.end(), 0);
            complete = false;
        } else if (!readVolumeBytes(*reader, *at, bytes)) {
            complete = false;
        }
        if (deleted && clusterBitmap_.anyInUse(lcn, count)) {
            complete = false;
            for (std::uint64_t c = 0; c < count; ++c)
                if (clusterBitmap_.anyInUse(lcn + c, 1))
                    std::fill_n(into + c * cluster, cluster, 0);
        }
    };

    if (stream.flags & 0x0001) {
        // Compressed: units of 2^compressionUnit clusters. A unit whose last
        // cluster is allocated is stored as it is; one with sparse clusters at
        // its end is LZNT1 data in its allocated clusters; all sparse is zeros.
        const unsigned shift = stream.compressionUnit & 31;
        const std::uint64_t unitClusters = shift <= 8 ? 1ull << shift : 16;
        const std::uint64_t unitBytes = unitClusters * cluster;
        if (unitBytes > (8u << 20))
            return false;
        std::vector<std::uint8_t> packed(static_cast<std::size_t>(unitBytes)), plain(static_cast<std::size_t>(unitBytes));
        std::vector<std::pair<std::uint64_t, bool>> clusters; // lcn, allocated
        auto flushUnit = [&]() -> bool {
            if (clusters.empty())
                return true;
            std::size_t allocated = 0;
            for (std::size_t i = 0; i < clusters.size(); ++i)
                if (clusters[i].second)
                    allocated = i + 1;
            std::uint64_t n = std::min<std::uint64_t>(unitBytes, remaining);
            bool ok = true;
            if (allocated == 0) {
                ok = out.skip(n);
            } else {
                for (std::size_t i = 0; i < allocated; ++i) {
                    std::uint8_t* into = packed.data() + i * cluster;
                    if (clusters[i].second)
                        readClusters(clusters[i].first, 1, into);
                    else
                        std::fill(into, into + cluster, 0);
                }
                if (allocated == clusters.size() && clusters.size() == unitClusters) {
                    ok = out.write({packed.data(), static_cast<std::size_t>(n)});
                } else {
                    std::fill(plain.begin(), plain.end(), 0);
                    auto result = ntfsdisk::lznt1Decompress({packed.data(), allocated * cluster}, plain);
                    complete &= !result.damaged();
                    ok = out.write({plain.data(), static_cast<std::size_t>(n)});
                }
            }
            remaining -= n;
            clusters.clear();
            return ok;
        };
        for (const DataRun& run : stream.runs) {
            for (std::uint64_t c = 0; c < run.length && remaining > 0;) {
                // Whole units with nothing stored in them (sparse, or past the
                // disk) read as zeros: one hole for all of them.
                const bool empty = run.sparse || pastDisk(run.lcn + c);
                if (empty && clusters.empty() && run.length - c >= unitClusters) {
                    const std::uint64_t units = (run.length - c) / unitClusters;
                    const std::uint64_t n = std::min(checkedMul(units, unitBytes).value_or(UINT64_MAX), remaining);
                    if (!out.skip(n))
                        return false;
                    complete &= run.sparse;
                    remaining -= n;
                    c += units * unitClusters;
                    continue;
                }
                clusters.emplace_back(run.sparse ? 0 : run.lcn + c, !run.sparse);
                ++c;
                if (clusters.size() == unitClusters && !flushUnit())
                    return false;
            }
            if (remaining == 0)
                break;
        }
        if (remaining > 0 && !flushUnit())
            return false;
        // Runs that end before the data size (a damaged list) leave zeros.
        if (remaining > 0) {
            complete = false;
            if (!out.skip(remaining))
                return false;
        }
        return complete;
    }

    // Uncompressed (encrypted data is written as it is stored), a window of
    // whole clusters at a time.
    const std::uint64_t window = std::max<std::uint64_t>(kCopyWindow / cluster, 1) * cluster;
    std::uint64_t position = 0;
    for (const DataRun& run : stream.runs) {
        if (remaining == 0)
            break;
        const std::uint64_t runBytes = std::min(checkedMul(run.length, cluster).value_or(UINT64_MAX), remaining);
        if (run.sparse || position >= initialized) {
            if (!out.skip(runBytes))
                return false;
        } else {
            const std::uint64_t onDisk = pastDisk(run.lcn) ? 0 : std::min(runBytes, diskEnd - run.lcn * cluster);
            if (onDisk < runBytes)
                complete = false;
            for (std::uint64_t done = 0; done < onDisk;) {
                std::uint64_t n = std::min(window, onDisk - done);
                std::uint64_t clusters = ceilDiv(n, cluster);
                buffer.resize(static_cast<std::size_t>(clusters * cluster));
                readClusters(run.lcn + done / cluster, clusters, buffer.data());
                // Past the initialized size the file reads as zeros.
                std::uint64_t valid = position + done < initialized ? std::min(n, initialized - position - done) : 0;
                std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(valid), buffer.end(), 0);
                if (!out.write({buffer.data(), static_cast<std::size_t>(n)}))
                    return false;
                done += n;
            }
            if (onDisk < runBytes && !out.skip(runBytes - onDisk))
                return false;
        }
        position += runBytes;
        remaining -= runBytes;
    }
    // Runs that end before the data size (a damaged list) leave zeros.
    if (remaining > 0) {
        complete = false;
        if (!out.skip(remaining))
            return false;
    }
    return complete;
}

} // namespace qis
