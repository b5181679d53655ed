#include "filesystems/fatfamily/ClusterCopy.h"

#include "images/VolumeBytes.h"

#include <algorithm>
#include <vector>

namespace qis {
namespace {

constexpr std::uint64_t kCopyPiece = 1u << 20;

} // namespace

ClusterSpan fileClusters(FatTable& fat, std::uint64_t heapOffset, std::uint64_t clusterBytes, bool oneRun)
{
    return {heapOffset, clusterBytes, [&fat, oneRun](std::uint32_t from) { return oneRun ? from + 1 : fat.next(from); }};
}

CopyResult copyClusters(readWriteInterface& reader, const FatTable& fat, const ClusterSpan& span, std::uint32_t first,
                        std::uint64_t bytes, DataSink& out)
{
    CopyResult result;
    if (span.clusterBytes == 0)
        return result;
    ChainGuard guard;
    std::vector<std::uint8_t> piece;
    std::uint32_t c = first;
    std::uint64_t remaining = bytes;
    while (remaining > 0 && fat.isCluster(c) && guard.firstVisit(c)) {
        std::uint32_t runStart = c;
        std::uint64_t runBytes = span.clusterBytes;
        std::uint32_t next = span.advance(c);
        while (runBytes < remaining && runBytes < kCopyPiece && next == c + 1 && fat.isCluster(next)) {
            if (!guard.firstVisit(next)) {
                next = FatTable::kEnd;
                break;
            }
            c = next;
            runBytes += span.clusterBytes;
            next = span.advance(c);
        }
        std::uint64_t n = std::min(runBytes, remaining);
        piece.resize(static_cast<std::size_t>(n));
        std::uint64_t at = span.heapOffset + (std::uint64_t{runStart} - 2) * span.clusterBytes;
        result.readable = readVolumeBytes(reader, at, piece) && result.readable;
        if (!out.write(piece)) {
            result.readable = false;
            return result;
        }
        result.written += n;
        remaining -= n;
        c = next;
    }
    return result;
}

DeletedClusters::DeletedClusters(const FreeClusters& free, Layout layout, std::uint64_t first, std::uint64_t count,
                                 std::span<const ClusterRun> passOver)
    : free_(free), layout_(layout), first_(first), at_(first), left_(count),
      end_(count > UINT64_MAX - first ? UINT64_MAX : first + count), passOver_(passOver)
{
}

std::optional<ClusterRun> DeletedClusters::next()
{
    const std::uint64_t limit = free_.limit();
    if (left_ == 0 || at_ >= limit)
        return std::nullopt;
    ClusterRun run{at_, 0, false};
    if (layout_ == Layout::OneRun) {
        // Every cluster of the run is the file's: a stretch of free ones, or
        // of ones in use now (lost).
        run.lost = !free_.isFree(at_);
        run.count = std::min(run.lost ? free_.nextFree(at_) : free_.nextUsed(at_), end_) - at_;
    } else if (at_ == first_ && !free_.isFree(at_)) {
        run.lost = true;
        run.count = 1;
    } else {
        // The next free cluster outside the runs passed over (never the
        // file's own first); those runs lie ahead in order, so each is
        // dropped once behind.
        run.first = free_.nextFree(at_);
        auto ends = [](const ClusterRun& r) { return r.count > UINT64_MAX - r.first ? UINT64_MAX : r.first + r.count; };
        while (!passOver_.empty() && run.first < limit && run.first != first_) {
            const ClusterRun& skip = passOver_.front();
            if (ends(skip) <= run.first) {
                passOver_ = passOver_.subspan(1);
            } else if (skip.first <= run.first) {
                run.first = free_.nextFree(ends(skip));
                passOver_ = passOver_.subspan(1);
            } else {
                break;
            }
        }
        if (run.first >= limit)
            return std::nullopt;
        run.count = free_.nextUsed(run.first) - run.first;
        for (const ClusterRun& skip : passOver_)
            if (skip.first > run.first) {
                run.count = std::min(run.count, skip.first - run.first);
                break;
            }
    }
    run.count = std::min(run.count, left_);
    left_ -= run.count;
    at_ = run.first + run.count;
    return run;
}

Recoverability DeletedClusters::judge(const FreeClusters& free, Layout layout, std::uint64_t first, std::uint64_t count)
{
    if (layout == Layout::OneRun)
        return free.allFree(first, count) ? Recoverability::Whole : Recoverability::PartlyOverwritten;
    if (count == 0)
        return Recoverability::Guessed;
    return free.isFree(first) && free.freeAtLeast(first, count) ? Recoverability::Guessed
                                                                : Recoverability::PartlyOverwritten;
}

CopyResult copyRuns(readWriteInterface& reader, std::uint64_t heapOffset, std::uint64_t clusterBytes,
                    DeletedClusters& runs, std::uint64_t bytes, DataSink& out)
{
    CopyResult result;
    if (clusterBytes == 0)
        return result;
    std::vector<std::uint8_t> piece;
    std::uint64_t remaining = bytes;
    while (remaining > 0) {
        auto run = runs.next();
        if (!run)
            break;
        // A run's length in bytes cannot overflow: it lies inside the volume.
        std::uint64_t runBytes = std::min(run->count * clusterBytes, remaining);
        if (run->lost) {
            result.readable = false;
            if (!out.skip(runBytes))
                return result;
            result.written += runBytes;
            remaining -= runBytes;
            continue;
        }
        std::uint64_t at = heapOffset + (run->first - 2) * clusterBytes;
        for (std::uint64_t done = 0; done < runBytes;) {
            std::uint64_t n = std::min(kCopyPiece, runBytes - done);
            piece.resize(static_cast<std::size_t>(n));
            result.readable = readVolumeBytes(reader, at + done, piece) && result.readable;
            if (!out.write(piece)) {
                result.readable = false;
                return result;
            }
            done += n;
            result.written += n;
        }
        remaining -= runBytes;
    }
    return result;
}

} // namespace qis
