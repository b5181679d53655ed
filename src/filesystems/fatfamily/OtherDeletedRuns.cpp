#include "filesystems/fatfamily/OtherDeletedRuns.h"

#include <algorithm>

namespace qis {
namespace {

// Each reading reads the file again; a file that ran into more deleted
// files than this is tried with all of them passed over and these alone.
constexpr std::size_t kMaxSingleReadings = 4;

} // namespace

void OtherDeletedRuns::add(std::uint64_t first, std::uint64_t count)
{
    if (count > 0)
        runs_.push_back({first, count, false});
}

void OtherDeletedRuns::finish()
{
    std::sort(runs_.begin(), runs_.end(), [](const ClusterRun& a, const ClusterRun& b) {
        return a.first != b.first ? a.first < b.first : a.count > b.count;
    });
    // Two entries of one first cluster (a file deleted twice over, or a
    // long name's short twin) are one run: the longer.
    runs_.erase(std::unique(runs_.begin(), runs_.end(),
                            [](const ClusterRun& a, const ClusterRun& b) { return a.first == b.first; }),
                runs_.end());
}

std::optional<std::vector<ClusterRun>> OtherDeletedRuns::passOver(std::uint64_t first, std::uint64_t last,
                                                                  std::size_t reading) const
{
    if (reading == 0 || last <= first)
        return std::nullopt;
    auto begin = std::upper_bound(runs_.begin(), runs_.end(), first,
                                  [](std::uint64_t c, const ClusterRun& r) { return c < r.first; });
    auto end = std::upper_bound(begin, runs_.end(), last,
                                [](std::uint64_t c, const ClusterRun& r) { return c < r.first; });
    const auto inside = static_cast<std::size_t>(end - begin);
    if (inside == 0)
        return std::nullopt;
    if (reading == 1)
        return std::vector<ClusterRun>(begin, end);
    const std::size_t single = reading - 2;
    if (inside == 1 || single >= std::min(inside, kMaxSingleReadings))
        return std::nullopt;
    return std::vector<ClusterRun>{*(begin + static_cast<std::ptrdiff_t>(single))};
}

std::uint64_t lastGuessedCluster(const FreeClusters& free, std::uint64_t first, std::uint64_t count)
{
    DeletedClusters runs(free, DeletedClusters::Layout::Guessed, first, count);
    std::uint64_t last = first;
    while (auto run = runs.next())
        last = run->first + run->count - 1;
    return last;
}

} // namespace qis
