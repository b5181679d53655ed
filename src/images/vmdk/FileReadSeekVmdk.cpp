#include "images/vmdk/FileReadSeekVmdk.h"

#include "images/ParentChain.h"

#include "util/Ascii.h"
#include "util/ByteReader.h"
#include "util/CheckedMath.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <zlib.h>

namespace qis {
namespace {

constexpr std::size_t kGrainTableCacheBytes = 16u << 20;

// Inflates one zlib stream into out; false when it is damaged or would
// inflate past out's size.
bool inflateGrain(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& out)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int status = inflate(&z, Z_FINISH);
    std::size_t produced = out.size() - z.avail_out;
    inflateEnd(&z);
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(produced), out.end(), 0);
    return status == Z_STREAM_END;
}

} // namespace

bool FileReadSeekVmdk::open(std::filesystem::path path)
{
    imageLength = fileLength(path);
    layers.clear();
    parent_.reset();
    auto disk = vmdk::openVmdkDisk(path);
    if (!disk) {
        lastError_ = disk.kind() == ParseFailure::Io ? EIO : 0;
        showMessage(disk.message());
        return false;
    }
    disk_ = std::move(disk).value();
    diskSectorCount = disk_.sectors;
    grainTables_.clear();
    grainTableBytes_ = 0;
    grainFile_ = nullptr;
    currentOffset = 0;
    if (!disk_.descriptor || disk_.descriptor->parentFileNameHint.empty())
        return true;
    auto parent = openParent(path, ImageFormat::Vmdk, *this, {{disk_.descriptor->parentFileNameHint}, {}, {}});
    if (!parent) {
        showMessage(parent.message());
        return false;
    }
    parent_ = std::move(parent).value();
    // A parent written to after the snapshot was taken has a new CID: what
    // the child leaves to it may have changed since, which is worth saying.
    const auto* below = dynamic_cast<const FileReadSeekVmdk*>(parent_.get());
    const std::string& expected = disk_.descriptor->parentCid;
    if (below && below->disk_.descriptor && !expected.empty() && toLowerAscii(expected) != "ffffffff" &&
        toLowerAscii(below->disk_.descriptor->cid) != toLowerAscii(expected))
        noteChangedParent(*this, "CID");
    return true;
}

const std::vector<std::uint32_t>& FileReadSeekVmdk::grainTable(const vmdk::DiskExtent& extent, std::uint64_t index,
                                                               std::uint32_t tableSector)
{
    const std::uint64_t key = (static_cast<std::uint64_t>(&extent - disk_.extents.data()) << 32) | index;
    auto it = grainTables_.find(key);
    if (it != grainTables_.end())
        return it->second;
    const std::uint32_t entries = extent.sparse->header.numGTEsPerGT;
    if (grainTableBytes_ + std::size_t{entries} * 4 > kGrainTableCacheBytes) {
        grainTables_.clear();
        grainTableBytes_ = 0;
    }
    std::vector<std::uint8_t> bytes(std::size_t{entries} * 4, 0);
    disk_.files[extent.file]->readAt(std::uint64_t{tableSector} * 512, bytes);
    ByteReader r(bytes);
    std::vector<std::uint32_t> table(entries);
    for (std::uint32_t i = 0; i < entries; ++i)
        table[i] = r.u32le(std::size_t{i} * 4);
    grainTableBytes_ += bytes.size();
    return grainTables_.emplace(key, std::move(table)).first->second;
}

FileReadSeekVmdk::Piece FileReadSeekVmdk::mapSparse(const vmdk::DiskExtent& extent, std::uint64_t s)
{
    const vmdk::VmdkLayout& layout = *extent.sparse;
    const std::uint64_t grainSize = layout.header.grainSize;
    const std::uint64_t perEntry = layout.sectorsPerDirectoryEntry;
    Piece piece;
    piece.sectors = grainSize - s % grainSize;
    const std::uint64_t g = s / perEntry;
    // Past the extent's own capacity: nothing is stored there.
    if (g >= layout.grainDirectory.size()) {
        piece.sectors = extent.sectors - s;
        return piece;
    }
    const std::uint32_t tableSector = layout.grainDirectory[g];
    if (tableSector == 0) {
        piece.kind = Piece::Kind::Unallocated;
        piece.sectors = perEntry - s % perEntry;
        return piece;
    }
    const std::uint32_t grain = grainTable(extent, g, tableSector)[static_cast<std::size_t>((s % perEntry) / grainSize)];
    // 0 is an unallocated grain (the parent's, in a snapshot), 1 a grain known to be zero.
    if (grain == 0) {
        piece.kind = Piece::Kind::Unallocated;
        return piece;
    }
    if (grain == 1)
        return piece;
    piece.file = disk_.files[extent.file].get();
    if (layout.compressed) {
        piece.kind = Piece::Kind::Compressed;
        piece.fileOffset = std::uint64_t{grain} * 512;
        piece.within = s % grainSize;
        piece.grainBytes = grainSize * 512;
    } else {
        piece.kind = Piece::Kind::Stored;
        piece.fileOffset = (std::uint64_t{grain} + s % grainSize) * 512;
    }
    return piece;
}

std::optional<FileReadSeekVmdk::Piece> FileReadSeekVmdk::mapSector(std::uint64_t sector)
{
    if (sector >= disk_.sectors)
        return std::nullopt;
    auto after = std::upper_bound(disk_.extents.begin(), disk_.extents.end(), sector,
                                  [](std::uint64_t s, const vmdk::DiskExtent& e) { return s < e.firstSector; });
    if (after == disk_.extents.begin())
        return Piece{};
    const vmdk::DiskExtent& extent = *(after - 1);
    const std::uint64_t s = sector - extent.firstSector;
    if (s >= extent.sectors) // an extent of size 0 left out
        return Piece{};
    Piece piece;
    switch (extent.kind) {
    case vmdk::ExtentKind::Sparse:
        piece = mapSparse(extent, s);
        break;
    case vmdk::ExtentKind::Flat: {
        piece.kind = Piece::Kind::Stored;
        piece.file = disk_.files[extent.file].get();
        auto at = checkedAdd(extent.flatStart, s * 512);
        if (!at) // beyond any file: read as the end of it
            at = UINT64_MAX - 511;
        piece.fileOffset = *at;
        piece.sectors = extent.sectors - s;
        break;
    }
    default:
        piece.sectors = extent.sectors - s;
        break;
    }
    piece.sectors = std::clamp<std::uint64_t>(piece.sectors, 1, extent.sectors - s);
    return piece;
}

const std::vector<std::uint8_t>* FileReadSeekVmdk::inflatedGrain(const Piece& piece)
{
    if (grainFile_ == piece.file && grainAt_ == piece.fileOffset && grain_.size() == piece.grainBytes)
        return grainOk_ ? &grain_ : nullptr;
    grainFile_ = piece.file;
    grainAt_ = piece.fileOffset;
    grain_.assign(static_cast<std::size_t>(piece.grainBytes), 0);
    grainOk_ = false;
    std::array<std::uint8_t, vmdk::kGrainMarkerBytes> marker{};
    int error = 0;
    if (piece.file->readAt(piece.fileOffset, marker, error) != marker.size()) {
        lastError_ = error != 0 ? error : lastError_;
        return nullptr;
    }
    // The stored size is bounded by what a grain deflates to at worst and by the file.
    const std::uint64_t size = ByteReader(marker).u32le(8);
    const std::uint64_t dataAt = piece.fileOffset + marker.size();
    if (size == 0 || size > compressBound(static_cast<uLong>(piece.grainBytes)) || dataAt > piece.file->size() ||
        size > piece.file->size() - dataAt)
        return nullptr;
    std::vector<std::uint8_t> stored(static_cast<std::size_t>(size));
    if (piece.file->readAt(dataAt, stored, error) != stored.size()) {
        lastError_ = error != 0 ? error : lastError_;
        return nullptr;
    }
    grainOk_ = inflateGrain(stored, grain_);
    return grainOk_ ? &grain_ : nullptr;
}

bool FileReadSeekVmdk::readSectors(std::uint64_t sector, std::uint8_t* out, std::uint64_t bytes)
{
    bool ok = true;
    // Stored runs that follow each other in one file are gathered into one read.
    const ImageFile* pendingFile = nullptr;
    std::uint64_t pendingAt = 0, pendingBytes = 0;
    std::uint8_t* pendingOut = nullptr;
    auto flush = [&] {
        if (pendingBytes == 0)
            return;
        int failure = 0;
        std::size_t got = pendingFile->readAt(pendingAt, {pendingOut, static_cast<std::size_t>(pendingBytes)}, failure);
        if (got < pendingBytes) {
            std::memset(pendingOut + got, 0, static_cast<std::size_t>(pendingBytes - got));
            ok = false;
            if (failure != 0)
                lastError_ = failure;
        }
        pendingBytes = 0;
    };
    while (bytes > 0) {
        auto piece = mapSector(sector);
        if (!piece) {
            flush();
            std::memset(out, 0, static_cast<std::size_t>(bytes));
            return false;
        }
        const std::uint64_t take = std::min<std::uint64_t>(piece->sectors * kSectorSize, bytes);
        if (piece->kind == Piece::Kind::Stored) {
            if (pendingBytes > 0 && (pendingFile != piece->file || pendingAt + pendingBytes != piece->fileOffset))
                flush();
            if (pendingBytes == 0) {
                pendingFile = piece->file;
                pendingAt = piece->fileOffset;
                pendingOut = out;
            }
            pendingBytes += take;
        } else {
            flush();
            std::span<std::uint8_t> part(out, static_cast<std::size_t>(take));
            if (piece->kind == Piece::Kind::Compressed) {
                if (const auto* grain = inflatedGrain(*piece)) {
                    std::memcpy(part.data(), grain->data() + piece->within * kSectorSize, part.size());
                } else {
                    std::fill(part.begin(), part.end(), 0);
                    ok = false;
                }
            } else if (piece->kind == Piece::Kind::Unallocated && parent_) {
                // A parent smaller than its snapshot reads as zeros past its end.
                parent_->readAt(sector * kSectorSize, part);
            } else {
                std::fill(part.begin(), part.end(), 0);
            }
        }
        out += take;
        bytes -= take;
        sector += (take + kSectorSize - 1) / kSectorSize;
    }
    flush();
    return ok;
}

std::optional<std::uint64_t> FileReadSeekVmdk::sectorOf(std::int64_t offset) const
{
    std::int64_t p;
    if (__builtin_add_overflow(baseOffset, offset, &p) || p < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(p) / kSectorSize;
}

bool FileReadSeekVmdk::seek(std::int64_t offset, std::int32_t)
{
    currentOffset = offset;
    auto sector = sectorOf(offset);
    if (!sector)
        return false;
    auto piece = mapSector(*sector);
    if (!piece)
        return false;
    blockPresent = piece->kind == Piece::Kind::Stored || piece->kind == Piece::Kind::Compressed;
    return true;
}

bool FileReadSeekVmdk::read(void* buffer, std::uint32_t length)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    bool ok = false;
    if (auto sector = sectorOf(currentOffset))
        ok = readSectors(*sector, out, length);
    else
        std::memset(out, 0, length);
    // A trailing partial sector is delivered but does not advance the position.
    currentOffset += static_cast<std::int64_t>(length / kSectorSize * kSectorSize);
    if (auto next = sectorOf(currentOffset))
        if (auto piece = mapSector(*next))
            blockPresent = piece->kind == Piece::Kind::Stored || piece->kind == Piece::Kind::Compressed;
    return ok || length == 0;
}

bool FileReadSeekVmdk::readAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    auto sector = offset > static_cast<std::uint64_t>(INT64_MAX) ? std::nullopt
                                                                  : sectorOf(static_cast<std::int64_t>(offset));
    if (!sector) {
        std::fill(out.begin(), out.end(), 0);
        return out.empty();
    }
    const std::uint64_t lead = static_cast<std::uint64_t>(baseOffset + static_cast<std::int64_t>(offset)) % kSectorSize;
    if (lead == 0)
        return readSectors(*sector, out.data(), out.size());
    // Starting inside a sector: that sector is read whole.
    std::vector<std::uint8_t> whole(lead + out.size());
    const bool ok = readSectors(*sector, whole.data(), whole.size());
    std::memcpy(out.data(), whole.data() + lead, out.size());
    return ok;
}

std::uint64_t FileReadSeekVmdk::allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated)
{
    allocated = true;
    auto sector = sectorOf(offset);
    if (!sector || maxBytes == 0)
        return maxBytes; // outside the disk: left to read, which reports it
    // What a snapshot leaves unallocated may hold its parent's data.
    auto holds = [this](const Piece& p) {
        return p.kind == Piece::Kind::Stored || p.kind == Piece::Kind::Compressed ||
               (p.kind == Piece::Kind::Unallocated && parent_);
    };
    auto first = mapSector(*sector);
    if (!first)
        return maxBytes;
    allocated = holds(*first);
    const std::uint64_t within = static_cast<std::uint64_t>(baseOffset + offset) % kSectorSize;
    std::uint64_t length = first->sectors * kSectorSize - within;
    while (length < maxBytes) {
        auto next = mapSector(*sector + (length + within) / kSectorSize);
        if (!next || holds(*next) != allocated)
            break;
        length += next->sectors * kSectorSize;
    }
    return std::min(length, maxBytes);
}

int FileReadSeekVmdk::storedAt(std::uint64_t offset, std::uint64_t length, std::uint64_t& fileOffset,
                               std::uint64_t& run)
{
    if (offset > static_cast<std::uint64_t>(INT64_MAX) || length == 0)
        return -1;
    auto sector = sectorOf(static_cast<std::int64_t>(offset));
    if (!sector)
        return -1;
    auto first = mapSector(*sector);
    if (!first || first->kind != Piece::Kind::Stored)
        return -1;
    const std::uint64_t within = static_cast<std::uint64_t>(baseOffset + static_cast<std::int64_t>(offset)) % kSectorSize;
    fileOffset = first->fileOffset + within;
    run = first->sectors * kSectorSize - within;
    while (run < length) {
        auto next = mapSector(*sector + (run + within) / kSectorSize);
        if (!next || next->kind != Piece::Kind::Stored || next->file != first->file ||
            next->fileOffset != fileOffset + run)
            break;
        run += next->sectors * kSectorSize;
    }
    run = std::min(run, length);
    return first->file->descriptor();
}

} // namespace qis
