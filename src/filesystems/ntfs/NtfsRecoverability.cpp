// How much of a deleted file is still on the volume: its runs against the
// cluster bitmap ($Bitmap) as it is now.

#include "images/VolumeBytes.h"
#include "filesystems/ntfs/Ntfs.h"
#include "util/CheckedMath.h"

#include <algorithm>

namespace qis {

using namespace ntfsdisk;

namespace {

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
    clusterBitmap_ = AllocationBitmap(bitmapBytes_, AllocationBitmap::BitOrder::LowBitFirst,
                                      [this](std::uint64_t at, std::span<std::uint8_t> out) { readBitmapBytes(at, out); });
    bitmapState_ = BitmapState::Read;
    return true;
}

void ntfs::readBitmapBytes(std::uint64_t begin, std::span<std::uint8_t> bytes)
{
    const std::uint64_t cluster = bytesPerCluster ? bytesPerCluster : 4096;
    // Through the runs to the bytes asked for.
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
                                bytes.subspan(static_cast<std::size_t>(from - begin),
                                              static_cast<std::size_t>(to - from)));
        }
        if (runEnd >= begin + bytes.size())
            break;
        vcn += run.length;
    }
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
            if (mapped > volumeClusters || clusterBitmap_.anyInUse(run.lcn, n))
                return Recoverability::PartlyOverwritten;
        }
        vcn += n;
    }
    // Runs that end before the data size leave zeros in the saved file.
    return vcn < needed ? Recoverability::PartlyOverwritten : Recoverability::Whole;
}

} // namespace qis
