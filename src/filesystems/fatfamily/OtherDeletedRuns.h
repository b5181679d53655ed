#pragma once

#include "filesystems/fatfamily/ClusterCopy.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qis {

// Where a volume's deleted files began and how many clusters each took. A
// guess at a deleted file's clusters (its first, then the free ones after
// it) runs into the clusters of another file deleted later: that file was
// written in the gap the guessed one left, and its clusters read in the
// middle break the guessed file. Passing over them is the likeliest other
// reading.
class OtherDeletedRuns {
public:
    // One deleted file: `count` clusters from `first`, as if in a row.
    void add(std::uint64_t first, std::uint64_t count);
    // Orders what was added; call once after the last add.
    void finish();

    // The clusters to pass over in reading `reading` (1, 2, …) of a guess
    // that starts at `first` and reaches `last`: reading 1 passes over every
    // other deleted file that begins inside the guess, each later one over
    // one of them alone. nullopt past the last reading there is.
    [[nodiscard]] std::optional<std::vector<ClusterRun>> passOver(std::uint64_t first, std::uint64_t last,
                                                                  std::size_t reading) const;

private:
    std::vector<ClusterRun> runs_; // by first cluster
};

// The last cluster a guess from `first` for `count` clusters reads.
std::uint64_t lastGuessedCluster(const FreeClusters& free, std::uint64_t first, std::uint64_t count);

} // namespace qis
