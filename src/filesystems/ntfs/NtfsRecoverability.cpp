// How much of a deleted file is still on the volume: its runs against the
// cluster bitmap ($Bitmap) as it is now.

#include "images/VolumeBytes.h"
#include "filesystems/ntfs/Ntfs.h"
#include "util/CheckedMath.h"

#include <algorithm>

namespace qis {

using namespace ntfsdisk;

namespace {

// The bitmap is read a piece at a time, each piece once: a listing asks
// about clusters all over the volume, and a large volume's bitmap runs to
// tens of MiB.
constexpr std::uint64_t kBitmapPiece = 64u << 10;
constexpr std::uint64_t kBitmapRecord = 6;

} // namespace

bool ntfs::loadClusterBitmap()
{
    if (bitmapState_ != BitmapState::NotRead)
        return bitmapState_ == BitmapState::Read;
    bitmapState_ = BitmapState::Missing;
    auto at = recordOffsetOf(kBitmapRecord);
    if (!at)
        return false;
    std::array<std::uint8_t, kRecordSize> record{};
    readRecordFixed(*at, record);
    if (!RecordHeader::parse(record).signatureOk)
        return false;
    bool named = false;
    std::optional<AttributeHeader> data;
    for (const AttributeHeader& a : walkAttributes(record)) {
        if (a.type == kAttrFileName && a.nonResident == 0)
            if (auto fn = FileNameValue::parse(residentValue(record, a)))
                named |= fn->name == u"$Bitmap";
        if (a.type == kAttrData && a.nonResident != 0 && !a.isNamed() && a.startingVcn == 0 && !data)
            data = a;
    }
    if (!named || !data)
        return false;
    bitmapRuns_ = ntfsdisk::decodeRunList(record, *data);
    bitmapBytes_ = data->dataSize;
    bitmapState_ = BitmapState::Read;
    return true;
}

const std::vector<std::uint8_t>& ntfs::bitmapPiece(std::uint64_t piece)
{
    auto [it, added] = bitmapPieces_.try_emplace(piece);
    if (!added)
        return it->second;
    const std::uint64_t cluster = bytesPerCluster ? bytesPerCluster : 4096;
    const std::uint64_t begin = piece * kBitmapPiece;
    std::vector<std::uint8_t>& bytes = it->second;
    bytes.assign(static_cast<std::size_t>(std::min(kBitmapPiece, bitmapBytes_ - begin)), 0xFF);
    // Through the runs to the piece's bytes; what cannot be read counts as
    // in use, so a cluster is called free only when the bitmap says so.
    std::uint64_t vcn = 0;
    for (const DataRun& run : bitmapRuns_) {
        auto runStart = checkedMul(vcn, cluster);
        auto runBytes = checkedMul(run.length, cluster);
        if (!runStart || !runBytes)
            break;
        const std::uint64_t runEnd = *runStart + *runBytes;
        const std::uint64_t from = std::max(begin, *runStart);
        const std::uint64_t to = std::min<std::uint64_t>(begin + bytes.size(), runEnd);
        if (from < to && !run.sparse) {
            auto runDisk = checkedMul(run.lcn, cluster);
            auto disk = runDisk ? checkedAdd(*runDisk, from - *runStart) : std::nullopt;
            if (disk)
                readVolumeBytes(*reader, *disk,
                                std::span(bytes).subspan(static_cast<std::size_t>(from - begin),
                                                         static_cast<std::size_t>(to - from)));
        }
        if (runEnd >= begin + bytes.size())
            break;
        vcn += run.length;
    }
    return bytes;
}

bool ntfs::anyClusterInUse(std::uint64_t lcn, std::uint64_t count)
{
    // Clusters past the bitmap are no file's to have.
    auto last = checkedAdd(lcn, count);
    if (!last || ceilDiv(*last, 8) > bitmapBytes_)
        return true;
    while (count > 0) {
        const std::uint64_t byte = lcn / 8;
        const std::vector<std::uint8_t>& piece = bitmapPiece(byte / kBitmapPiece);
        std::uint64_t at = byte % kBitmapPiece;
        // Whole bytes at a time where the range covers them.
        if (lcn % 8 == 0 && count >= 8) {
            while (count >= 8 && at < piece.size()) {
                if (piece[static_cast<std::size_t>(at)] != 0)
                    return true;
                ++at;
                lcn += 8;
                count -= 8;
            }
            continue;
        }
        if (at >= piece.size())
            return true;
        if (piece[static_cast<std::size_t>(at)] & (1u << (lcn % 8)))
            return true;
        ++lcn;
        --count;
    }
    return false;
}

Recoverability ntfs::recoverability(std::uint64_t index)
{
    if (index >= entryList.size() || static_cast<std::int64_t>(index) == orphanIndex)
        return Recoverability::Live;
    const NtfsEntryRecord& e = entryList[index];
    if (!e.isDeleted())
        return Recoverability::Live;
    // A folder comes back as its name and times, which its record holds;
    // its files are judged one by one.
    if (e.isFolder())
        return Recoverability::Whole;
    if (auto known = recoverabilityOf_.find(index); known != recoverabilityOf_.end())
        return known->second;
    const Recoverability r = judgeRecoverability(index);
    recoverabilityOf_.emplace(index, r);
    return r;
}

Recoverability ntfs::judgeRecoverability(std::uint64_t index)
{
    DataStream stream = dataStream(index);
    if (!stream.found)
        return Recoverability::None;
    if (stream.resident)
        return Recoverability::Whole;
    if (stream.missingPieces)
        return Recoverability::PartlyOverwritten;
    if (!loadClusterBitmap())
        return Recoverability::Unknown;
    const std::uint64_t cluster = bytesPerCluster ? bytesPerCluster : 4096;
    // Only the clusters that hold the data size matter: a save reads no more.
    const std::uint64_t needed = ceilDiv(stream.dataSize, cluster);
    // No file maps more clusters than the volume has; a run list that
    // claims to is damaged, and checking it would only take time.
    const std::uint64_t volumeClusters = checkedMul(bitmapBytes_, 8).value_or(UINT64_MAX);
    std::uint64_t vcn = 0, mapped = 0;
    for (const DataRun& run : stream.runs) {
        if (vcn >= needed)
            break;
        const std::uint64_t n = std::min(run.length, needed - vcn);
        if (!run.sparse) {
            mapped += n;
            if (mapped > volumeClusters || anyClusterInUse(run.lcn, n))
                return Recoverability::PartlyOverwritten;
        }
        vcn += n;
    }
    // Runs that end before the data size leave zeros in the saved file.
    return vcn < needed ? Recoverability::PartlyOverwritten : Recoverability::Whole;
}

} // namespace qis
