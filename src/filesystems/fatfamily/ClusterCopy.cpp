#include "filesystems/fatfamily/ClusterCopy.h"

#include "images/VolumeBytes.h"

#include <algorithm>
#include <vector>

namespace qis {
namespace {

constexpr std::uint64_t kCopyPiece = 1u << 20;

} // namespace

ClusterSpan fileClusters(FatTable& fat, std::uint64_t heapOffset, std::uint64_t clusterBytes, bool oneRun,
                         bool deleted)
{
    return {heapOffset, clusterBytes, [&fat, oneRun, deleted](std::uint32_t from) {
                if (oneRun)
                    return from + 1;
                return deleted ? FatTable::kEnd : fat.next(from);
            }};
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

} // namespace qis
