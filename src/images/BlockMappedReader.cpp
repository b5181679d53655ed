#include "images/BlockMappedReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace qis {

std::optional<std::uint64_t> BlockMappedReader::sectorOf(std::int64_t offset) const
{
    std::int64_t p;
    if (__builtin_add_overflow(baseOffset, offset, &p) || p < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(p) / kSectorSize;
}

bool BlockMappedReader::seek(std::int64_t offset, std::int32_t)
{
    currentOffset = offset;
    auto sector = sectorOf(offset);
    if (!sector)
        return false;
    auto run = mapSector(*sector);
    if (!run)
        return false;
    blockPresent = sourceOf(*run) != Source::Zeros;
    return true;
}

std::uint64_t BlockMappedReader::sameSourceBytes(std::uint64_t sector, std::uint64_t limit, Source source)
{
    std::uint64_t length = 0;
    while (length < limit) {
        auto next = mapSector(sector + length / kSectorSize);
        if (!next || sourceOf(*next) != source)
            break;
        length += std::max<std::uint64_t>(next->sectors, 1) * kSectorSize;
    }
    return std::min(length, limit);
}

std::uint64_t BlockMappedReader::allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated)
{
    allocated = true;
    auto sector = sectorOf(offset);
    if (!sector || maxBytes == 0)
        return maxBytes; // outside the disk: left to read, which reports it
    auto first = mapSector(*sector);
    if (!first)
        return maxBytes;
    const Source source = sourceOf(*first);
    // Measured from the sector start, so a run ends on a sector boundary.
    const std::uint64_t within = static_cast<std::uint64_t>(baseOffset + offset) % kSectorSize;
    const std::uint64_t length = sameSourceBytes(*sector, std::min(maxBytes, UINT64_MAX - within) + within, source) - within;
    if (source == Source::Parent)
        return parent_->allocationRun(static_cast<std::int64_t>(*sector * kSectorSize + within), length, allocated);
    allocated = source == Source::Image;
    return length;
}

bool BlockMappedReader::readParent(std::uint64_t sector, std::uint8_t* out, std::uint64_t bytes)
{
    const std::uint64_t limit = parent_->diskSectorCount;
    const std::uint64_t inside = sector >= limit ? 0 : std::min(bytes, (limit - sector) * kSectorSize);
    bool ok = true;
    if (inside > 0)
        ok = parent_->readAt(sector * kSectorSize, {out, static_cast<std::size_t>(inside)});
    std::memset(out + inside, 0, static_cast<std::size_t>(bytes - inside));
    return ok;
}

bool BlockMappedReader::readSectors(std::uint64_t sector, std::uint8_t* out, std::uint64_t bytes, int& error)
{
    bool ok = true;
    // Present runs that follow each other in the file are gathered into one read.
    std::uint64_t pendingFile = 0, pendingBytes = 0;
    std::uint8_t* pendingOut = nullptr;
    auto flush = [&] {
        if (pendingBytes == 0)
            return;
        int failure = 0;
        std::size_t got = file_.readAt(pendingFile, {pendingOut, static_cast<std::size_t>(pendingBytes)}, failure);
        if (got < pendingBytes) {
            std::memset(pendingOut + got, 0, static_cast<std::size_t>(pendingBytes - got));
            bool eof = failure == 0 && pendingFile + got >= file_.size();
            bool paddable = padShortFinalSector_ && eof && pendingBytes - got < kSectorSize;
            if (!paddable) {
                ok = false;
                error = failure;
            }
        }
        pendingBytes = 0;
    };
    // Runs the parent holds, gathered the same way.
    std::uint64_t parentSector = 0, parentBytes = 0;
    std::uint8_t* parentOut = nullptr;
    auto flushParent = [&] {
        if (parentBytes == 0)
            return;
        if (!readParent(parentSector, parentOut, parentBytes)) {
            ok = false;
            error = EIO;
        }
        parentBytes = 0;
    };

    while (bytes > 0) {
        auto run = mapSector(sector);
        if (!run) {
            flush();
            flushParent();
            std::memset(out, 0, static_cast<std::size_t>(bytes));
            return false;
        }
        std::uint64_t take = std::min<std::uint64_t>(std::max<std::uint64_t>(run->sectors, 1) * kSectorSize, bytes);
        const Source source = sourceOf(*run);
        if (source != Source::Parent)
            flushParent();
        if (source == Source::Image) {
            if (pendingBytes > 0 && pendingFile + pendingBytes != run->fileOffset)
                flush();
            if (pendingBytes == 0) {
                pendingFile = run->fileOffset;
                pendingOut = out;
            }
            pendingBytes += take;
        } else if (source == Source::Parent) {
            flush();
            if (parentBytes > 0 && (parentSector * kSectorSize + parentBytes != sector * kSectorSize))
                flushParent();
            if (parentBytes == 0) {
                parentSector = sector;
                parentOut = out;
            }
            parentBytes += take;
        } else {
            flush();
            std::memset(out, 0, static_cast<std::size_t>(take));
        }
        out += take;
        bytes -= take;
        sector += (take + kSectorSize - 1) / kSectorSize;
    }
    flush();
    flushParent();
    return ok;
}

bool BlockMappedReader::readAt(std::uint64_t offset, std::span<std::uint8_t> out)
{
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) {
        std::fill(out.begin(), out.end(), 0);
        return out.empty();
    }
    auto sector = sectorOf(static_cast<std::int64_t>(offset));
    if (!sector) {
        std::fill(out.begin(), out.end(), 0);
        return out.empty();
    }
    int error = 0; // not kept: other threads may be reading too
    const std::uint64_t lead = static_cast<std::uint64_t>(baseOffset + static_cast<std::int64_t>(offset)) % kSectorSize;
    if (lead == 0)
        return readSectors(*sector, out.data(), out.size(), error);
    // Starting inside a sector: that sector is read whole.
    std::vector<std::uint8_t> whole(lead + out.size());
    const bool ok = readSectors(*sector, whole.data(), whole.size(), error);
    std::memcpy(out.data(), whole.data() + lead, out.size());
    return ok;
}

int BlockMappedReader::storedAt(std::uint64_t offset, std::uint64_t length, std::uint64_t& fileOffset,
                                std::uint64_t& run)
{
    if (offset > static_cast<std::uint64_t>(INT64_MAX) || length == 0 || !file_.isOpen())
        return -1;
    auto sector = sectorOf(static_cast<std::int64_t>(offset));
    if (!sector)
        return -1;
    auto first = mapSector(*sector);
    if (!first)
        return -1;
    const std::uint64_t within = static_cast<std::uint64_t>(baseOffset + static_cast<std::int64_t>(offset)) % kSectorSize;
    if (sourceOf(*first) == Source::Parent) {
        const std::uint64_t n = sameSourceBytes(*sector, std::min(length, UINT64_MAX - within) + within,
                                                Source::Parent) - within;
        return parent_->storedAt(*sector * kSectorSize + within, n, fileOffset, run);
    }
    if (!first->present)
        return -1;
    fileOffset = first->fileOffset + within;
    run = std::max<std::uint64_t>(first->sectors, 1) * kSectorSize - within;
    // Runs that follow each other in the file too make one.
    while (run < length) {
        auto next = mapSector(*sector + (run + within) / kSectorSize);
        if (!next || !next->present || next->fileOffset != fileOffset + run)
            break;
        run += std::max<std::uint64_t>(next->sectors, 1) * kSectorSize;
    }
    run = std::min(run, length);
    return file_.descriptor();
}

bool BlockMappedReader::read(void* buffer, std::uint32_t length)
{
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint64_t whole = length / kSectorSize;

    auto sector = sectorOf(currentOffset);
    bool ok = true;
    if (!sector) {
        std::memset(out, 0, length);
        ok = length == 0;
    } else {
        int error = 0;
        ok = readSectors(*sector, out, static_cast<std::uint64_t>(length), error);
        if (!ok)
            lastError_ = error;
    }
    // A trailing partial sector is delivered but does not advance the position.
    currentOffset += static_cast<std::int64_t>(whole * kSectorSize);
    // Leave the reader where the sector loop would: translated at the next sector.
    if (auto next = sectorOf(currentOffset))
        if (auto run = mapSector(*next))
            blockPresent = sourceOf(*run) != Source::Zeros;
    return ok;
}

} // namespace qis
