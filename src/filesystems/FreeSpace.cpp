#include "filesystems/FreeSpace.h"

#include "util/CheckedMath.h"

#include <algorithm>

namespace qis {

void FreeSpaceRuns::add(std::uint64_t start, std::uint64_t length)
{
    if (start >= volumeBytes_ || length == 0)
        return;
    length = std::min(length, volumeBytes_ - start);
    if (!runs_.empty() && start >= runs_.back().start && start - std::min(start, runs_.back().end()) <= bridge_) {
        ByteRun& last = runs_.back();
        last.length = std::max(last.end(), start + length) - last.start;
        return;
    }
    runs_.push_back({start, length});
    if (runs_.size() > kMaxRuns)
        bridgeNarrowGaps();
}

void FreeSpaceRuns::addUnits(std::uint64_t origin, std::uint64_t first, std::uint64_t count, std::uint64_t unitBytes)
{
    auto offset = checkedMul(first, unitBytes);
    auto start = offset ? checkedAdd(origin, *offset) : std::nullopt;
    if (!start)
        return;
    // A run that would pass the end of the address space is cut at the
    // volume's end by add() anyway.
    add(*start, checkedMul(count, unitBytes).value_or(UINT64_MAX));
}

void FreeSpaceRuns::bridgeNarrowGaps()
{
    // Doubling the widest gap taken in until half the room is free again:
    // each pass is one walk over the list, and there are at most 64.
    while (runs_.size() > kMaxRuns / 2) {
        bridge_ = bridge_ == 0 ? 4096 : (bridge_ > UINT64_MAX / 2 ? UINT64_MAX : bridge_ * 2);
        std::size_t kept = 0;
        for (std::size_t i = 1; i < runs_.size(); ++i) {
            ByteRun& last = runs_[kept];
            const ByteRun& next = runs_[i];
            if (next.start - std::min(next.start, last.end()) <= bridge_)
                last.length = std::max(last.end(), next.end()) - last.start;
            else
                runs_[++kept] = runs_[i];
        }
        runs_.resize(kept + 1);
    }
}

} // namespace qis
