#pragma once

#include "filesystems/VolumeScan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qis {

// A scan with an advanced mode: its options, the user's picks among what
// its searches offered, and those searches' results.
class ScanWithCandidates : public VolumeScan {
public:
    explicit ScanWithCandidates(const ScanOptions& options) : options_(options) {}
    [[nodiscard]] bool findsCandidates() const override { return true; }
    void choose(std::size_t candidate, unsigned clusterSize, std::size_t heap) override
    {
        options_.candidate = candidate;
        options_.clusterSize = clusterSize;
        options_.heap = heap;
    }

protected:
    ScanOptions options_;
    std::optional<AdvancedChoices> choices_;
};

// What the advanced-mode searches have in common.
namespace candidates {

// How many candidates a search looks for.
std::size_t wanted(const ScanOptions& options);

// A message with up to two counts in it.
std::string formatted(const char* format, std::size_t a, std::size_t b = 0);

// "FAT_ENTRY:0", "FAT_ENTRY:1" … for the positions found.
std::vector<AdvancedChoices::Choice> numbered(const char* format, const std::vector<std::uint64_t>& positions);

std::vector<AdvancedChoices::Choice> sizeChoices(const std::vector<unsigned>& values);

// The cluster-size value the options pick: the first offered unless one was given.
unsigned chosenClusterSize(const AdvancedChoices& choices, const ScanOptions& options);

} // namespace candidates
} // namespace qis
