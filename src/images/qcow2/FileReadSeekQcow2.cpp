#include "images/qcow2/FileReadSeekQcow2.h"

#include "images/ParentChain.h"

#include "images/ImageFormat.h"
#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace qis {
namespace {

// L2 tables kept at once, in bytes: a sequential read loads each table once.
constexpr std::uint64_t kL2CacheBytes = 16ull << 20;
// Clusters allocationRun looks at per call; a shorter run is still an answer.
constexpr std::uint64_t kMaxRunClusters = 65536;

void zero(std::span<std::uint8_t> out) { std::fill(out.begin(), out.end(), std::uint8_t{0}); }

} // namespace

bool FileReadSeekQcow2::open(std::filesystem::path path)
{
    layout_ = {};
    backing_.reset();
    backingBytes_ = 0;
    l2Cache_.clear();
    inflatedOffset_ = 0;
    diskSectorCount = 0;
    unreadableBytes = 0;
    damage.clear();
    layers.clear();
    imageLength = fileLength(path);
    if (!file_.open(path)) {
        showMessage("Cannot open " + path.string() + ": " + openFailureReason(path, file_.lastError()));
        return false;
    }
    auto layout = qcow2::readQcow2Layout(file_);
    if (!layout) {
        showMessage(layout.message());
        return false;
    }
    layout_ = std::move(layout).value();
    diskSectorCount = layout_.diskBytes / kSectorSize;
    unreadableBytes = layout_.unreadableBytes;
    damage = layout_.damage;
    maxCachedTables_ = static_cast<std::size_t>(std::max<std::uint64_t>(8, kL2CacheBytes / layout_.clusterSize));
    if (layout_.backingName.empty())
        return true;
    auto backing = openParent(path, ImageFormat::Qcow2, *this, {{layout_.backingName}, {}, {}});
    if (!backing) {
        showMessage(backing.message());
        return false;
    }
    backing_ = std::move(backing).value();
    backingBytes_ = backing_->diskSectorCount * kSectorSize;
    return true;
}

const std::vector<std::uint64_t>* FileReadSeekQcow2::l2Table(std::uint64_t offset)
{
    if (auto it = l2Cache_.find(offset); it != l2Cache_.end())
        return &it->second;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(layout_.clusterSize));
    int error = 0;
    if (file_.readAt(offset, bytes, error) != bytes.size()) {
        lastError_ = error;
        return nullptr;
    }
    if (l2Cache_.size() >= maxCachedTables_)
        l2Cache_.clear();
    ByteReader r(bytes);
    std::vector<std::uint64_t> table(static_cast<std::size_t>(layout_.l2Entries));
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = r.u64be(i * 8);
    return &l2Cache_.emplace(offset, std::move(table)).first->second;
}

std::optional<qcow2::ClusterEntry> FileReadSeekQcow2::mapCluster(std::uint64_t cluster)
{
    const std::uint64_t l1Index = cluster / layout_.l2Entries;
    if (l1Index >= layout_.l1Needed)
        return qcow2::ClusterEntry{}; // past a short L1 table: nothing allocated
    if (l1Index >= layout_.l1.size())
        return std::nullopt;
    const std::uint64_t l1Entry = layout_.l1[l1Index];
    if ((l1Entry & qcow2::kOffsetMask) == 0)
        return qcow2::ClusterEntry{};
    if (!layout_.l2Readable(l1Entry, file_.size()))
        return std::nullopt;
    const auto* table = l2Table(l1Entry & qcow2::kOffsetMask);
    if (!table)
        return std::nullopt;
    auto entry = qcow2::decodeL2Entry((*table)[cluster % layout_.l2Entries], layout_.header.clusterBits,
                                      layout_.header.version);
    // A stored cluster always starts on a cluster boundary.
    if (entry.kind == qcow2::ClusterKind::Stored && entry.hostOffset % layout_.clusterSize != 0)
        return std::nullopt;
    if (entry.kind == qcow2::ClusterKind::Compressed && entry.hostOffset == 0)
        return std::nullopt;
    return entry;
}

const std::vector<std::uint8_t>* FileReadSeekQcow2::inflated(const qcow2::ClusterEntry& entry)
{
    if (inflatedOffset_ != 0 && inflatedOffset_ == entry.hostOffset)
        return &inflated_;
    inflatedOffset_ = 0;
    // Compressed data may end before its last sector does, at the end of the file.
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(entry.compressedBytes));
    int error = 0;
    packed.resize(file_.readAt(entry.hostOffset, packed, error));
    if (packed.empty()) {
        lastError_ = error;
        return nullptr;
    }
    inflated_.resize(static_cast<std::size_t>(layout_.clusterSize));
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) // raw deflate, no zlib header
        return nullptr;
    z.next_in = packed.data();
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = inflated_.data();
    z.avail_out = static_cast<uInt>(inflated_.size());
    const int status = inflate(&z, Z_FINISH);
    const bool whole = (status == Z_STREAM_END || status == Z_BUF_ERROR) && z.avail_out == 0;
    inflateEnd(&z);
    if (!whole)
        return nullptr;
    inflatedOffset_ = entry.hostOffset;
    return &inflated_;
}

bool FileReadSeekQcow2::readVirtual(std::uint64_t position, std::span<std::uint8_t> out)
{
    bool ok = true;
    const std::uint64_t clusterSize = layout_.clusterSize;
    while (!out.empty()) {
        if (position >= layout_.diskBytes) {
            zero(out);
            return false;
        }
        const std::uint64_t within = position % clusterSize;
        const auto take = static_cast<std::size_t>(
            std::min({clusterSize - within, static_cast<std::uint64_t>(out.size()), layout_.diskBytes - position}));
        std::span<std::uint8_t> part = out.first(take);
        auto entry = mapCluster(position / clusterSize);
        if (!entry) {
            zero(part);
            ok = false;
        } else if (entry->kind == qcow2::ClusterKind::Stored) {
            int error = 0;
            const std::size_t got = file_.readAt(entry->hostOffset + within, part, error);
            if (got < take) {
                zero(part.subspan(got));
                lastError_ = error;
                ok = false;
            }
        } else if (entry->kind == qcow2::ClusterKind::Compressed) {
            if (const auto* cluster = inflated(*entry)) {
                std::memcpy(part.data(), cluster->data() + within, take);
            } else {
                zero(part);
                ok = false;
            }
        } else if (entry->kind == qcow2::ClusterKind::Unallocated && backing_ && position < backingBytes_) {
            // A backing image smaller than this one reads as zeros past its end.
            const auto below = static_cast<std::size_t>(std::min<std::uint64_t>(take, backingBytes_ - position));
            ok = backing_->readAt(position, part.first(below)) && ok;
            zero(part.subspan(below));
        } else {
            zero(part);
        }
        position += take;
        out = out.subspan(take);
    }
    return ok;
}

bool FileReadSeekQcow2::read(void* buffer, std::uint32_t length)
{
    std::span<std::uint8_t> out(static_cast<std::uint8_t*>(buffer), length);
    std::int64_t position;
    bool ok;
    if (__builtin_add_overflow(baseOffset, currentOffset, &position) || position < 0) {
        zero(out);
        ok = length == 0;
    } else {
        ok = readVirtual(static_cast<std::uint64_t>(position) / kSectorSize * kSectorSize, out);
    }
    // A trailing partial sector is delivered but does not advance the position.
    currentOffset += static_cast<std::int64_t>(length / kSectorSize * kSectorSize);
    return ok;
}

bool FileReadSeekQcow2::readAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    std::int64_t position;
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        __builtin_add_overflow(baseOffset, static_cast<std::int64_t>(offset), &position) || position < 0) {
        zero(out);
        return out.empty();
    }
    return readVirtual(static_cast<std::uint64_t>(position), out);
}

bool FileReadSeekQcow2::allocatedAt(std::uint64_t position)
{
    auto entry = mapCluster(position / layout_.clusterSize);
    if (!entry)
        return true; // left to read, which reports it
    switch (entry->kind) {
    case qcow2::ClusterKind::Zero:
        return false;
    case qcow2::ClusterKind::Unallocated: {
        if (!backing_ || position >= backingBytes_)
            return false;
        bool below = true;
        backing_->allocationRun(static_cast<std::int64_t>(position), kSectorSize, below);
        return below;
    }
    default:
        return true;
    }
}

std::uint64_t FileReadSeekQcow2::allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated)
{
    allocated = true;
    std::int64_t signedPosition;
    if (maxBytes == 0 || __builtin_add_overflow(baseOffset, offset, &signedPosition) || signedPosition < 0)
        return maxBytes;
    const auto position = static_cast<std::uint64_t>(signedPosition);
    if (position >= layout_.diskBytes)
        return maxBytes; // outside the disk: left to read, which reports it
    allocated = allocatedAt(position);
    // Clusters are whole sectors, so a run from a cluster's start ends on a sector boundary.
    std::uint64_t length = layout_.clusterSize - position % layout_.clusterSize;
    for (std::uint64_t n = 0; length < maxBytes && position + length < layout_.diskBytes && n < kMaxRunClusters; ++n) {
        if (allocatedAt(position + length) != allocated)
            break;
        length += layout_.clusterSize;
    }
    return std::min(length, maxBytes);
}

std::optional<SectorRun> FileReadSeekQcow2::mapSector(std::uint64_t sector)
{
    if (layout_.clusterSize == 0 || sector >= layout_.diskBytes / kSectorSize)
        return std::nullopt;
    const std::uint64_t position = sector * kSectorSize;
    const std::uint64_t within = position % layout_.clusterSize;
    SectorRun run;
    run.sectors = (layout_.clusterSize - within) / kSectorSize;
    auto entry = mapCluster(position / layout_.clusterSize);
    // Only a stored cluster lies in the file as it is; every other kind is
    // served by readVirtual.
    run.present = entry && entry->kind == qcow2::ClusterKind::Stored;
    run.fileOffset = run.present ? entry->hostOffset + within : 0;
    return run;
}

} // namespace qis
