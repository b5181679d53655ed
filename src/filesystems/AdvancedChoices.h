#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qis {

// What the advanced mode's searches found, as the advanced-input page
// offers it: the candidates, the cluster sizes and (exFAT) the heap
// positions, each list in the order shown, the first one selected.
struct AdvancedChoices {
    struct Choice {
        std::string text;          // "MFT_ENTRY:0", "8", "HEAP_OFFSET_ENTRY:1" …
        std::uint64_t value = 0;   // a byte offset from the volume start, or the cluster-size value
    };
    std::string candidateLabel;    // "TFS :", "Total fat16 Entries Found:" or "Total fat64 Entries Found:"
    std::vector<Choice> candidates;
    // Sectors per cluster; for exFAT the shift (2^value sectors per cluster).
    std::vector<Choice> clusterSizes;
    bool clusterSizeIsShift = false;
    std::vector<Choice> heaps;     // exFAT only
    std::string message;           // the message box at the end of the search
    std::string finalStatus;

    // Bytes per cluster for a cluster-size value.
    [[nodiscard]] std::uint64_t clusterBytes(std::uint64_t value) const
    {
        return clusterSizeIsShift ? (value < 17 ? std::uint64_t{512} << value : 0) : value * 512;
    }
};

} // namespace qis
