#include "recovery/carving/ScanRanges.h"

#include "images/VolumeBytes.h"

#include <algorithm>
#include <cstring>

namespace qis {
namespace {

constexpr std::uint64_t kSector = kSectorSize;
// The most asked of the container at once: a block table walk over a
// terabyte of holes is then many short answers rather than one long one.
constexpr std::uint64_t kMaxQuery = 1ull << 30;

} // namespace

ScanRanges::ScanRanges(readWriteInterface& reader, std::uint64_t size, const std::optional<std::vector<ByteRun>>& runs)
    : reader_(reader), size_(size)
{
    if (!runs) {
        if (size > 0)
            runs_.push_back({0, size});
        return;
    }
    for (const ByteRun& r : *runs) {
        if (r.start >= size || r.length == 0)
            continue;
        const std::uint64_t start = r.start / kSector * kSector;
        const std::uint64_t end = std::min(size, r.start + std::min(r.length, size - r.start));
        const std::uint64_t widened = std::min(size, (end + kSector - 1) / kSector * kSector);
        runs_.push_back({start, widened - start});
    }
    std::sort(runs_.begin(), runs_.end(), [](const ByteRun& a, const ByteRun& b) { return a.start < b.start; });
    std::size_t kept = 0;
    for (std::size_t i = 1; i < runs_.size(); ++i) {
        if (runs_[i].start <= runs_[kept].end())
            runs_[kept].length = std::max(runs_[kept].end(), runs_[i].end()) - runs_[kept].start;
        else
            runs_[++kept] = runs_[i];
    }
    runs_.resize(runs_.empty() ? 0 : kept + 1);
}

std::size_t ScanRanges::runAt(std::uint64_t pos) const
{
    auto it = std::partition_point(runs_.begin(), runs_.end(), [&](const ByteRun& r) { return r.end() <= pos; });
    return static_cast<std::size_t>(it - runs_.begin());
}

std::optional<ScanRanges::Stretch> ScanRanges::next(std::uint64_t pos)
{
    for (;;) {
        const std::size_t i = runAt(pos);
        if (i >= runs_.size())
            return std::nullopt;
        const std::uint64_t start = std::max(pos, runs_[i].start);
        const std::uint64_t end = runs_[i].end();
        bool allocated = true;
        std::uint64_t n = start <= static_cast<std::uint64_t>(INT64_MAX)
                              ? reader_.allocationRun(static_cast<std::int64_t>(start),
                                                      std::min(end - start, kMaxQuery), allocated)
                              : end - start;
        if (n == 0) {
            // A reader that cannot answer: read it, which reports what fails.
            allocated = true;
            n = end - start;
        }
        n = std::min(n, end - start);
        if (allocated) {
            const std::uint64_t stop = std::min(end, (start + n + kSector - 1) / kSector * kSector);
            return Stretch{start / kSector * kSector, stop};
        }
        pos = start + n;
    }
}

std::uint64_t ScanRanges::holeAt(std::uint64_t pos)
{
    const std::size_t i = runAt(pos);
    if (i >= runs_.size() || runs_[i].start > pos || pos > static_cast<std::uint64_t>(INT64_MAX))
        return 0;
    bool allocated = true;
    const std::uint64_t n =
        reader_.allocationRun(static_cast<std::int64_t>(pos), std::min(runs_[i].end() - pos, kMaxQuery), allocated);
    return allocated ? 0 : n;
}

void ScanRanges::read(std::uint64_t offset, std::span<std::uint8_t> out)
{
    std::size_t done = 0;
    while (done < out.size()) {
        const std::uint64_t at = offset + done;
        bool allocated = true;
        std::uint64_t n = out.size() - done;
        if (at <= static_cast<std::uint64_t>(INT64_MAX))
            n = reader_.allocationRun(static_cast<std::int64_t>(at), n, allocated);
        n = std::clamp<std::uint64_t>(n, 1, out.size() - done);
        auto piece = out.subspan(done, static_cast<std::size_t>(n));
        if (allocated)
            readVolumeBytes(reader_, at, piece); // sectors it cannot read come as zeros
        else
            std::fill(piece.begin(), piece.end(), std::uint8_t{0});
        done += static_cast<std::size_t>(n);
    }
}

} // namespace qis
