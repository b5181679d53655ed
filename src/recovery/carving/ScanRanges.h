#pragma once

#include "images/readWriteInterface.h"
#include "util/ByteRun.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qis {

// Where a carving scan looks for files: the runs it was given (all of the
// range when none), less what the container never allocated. Those blocks
// read as zeros and no file starts in zeros, so they are passed over
// without being read; the container is asked as the scan goes, never for
// the whole disk at once.
class ScanRanges {
public:
    struct Stretch {
        std::uint64_t start = 0, end = 0;
    };

    // `runs` are byte runs from the reader's base offset, in any order;
    // they are cut to [0, size) and widened to whole sectors.
    ScanRanges(readWriteInterface& reader, std::uint64_t size, const std::optional<std::vector<ByteRun>>& runs);

    // The first stretch to scan that ends after `pos` (starting at `pos`
    // when `pos` lies in one); nullopt when none is left.
    std::optional<Stretch> next(std::uint64_t pos);
    // How many bytes from `pos` on lie in a run but in no block the
    // container allocated (0 when `pos` is in an allocated block or in no run).
    std::uint64_t holeAt(std::uint64_t pos);
    // Fills `out` with the bytes from `offset`: holes as zeros without
    // reading them, the rest through the reader.
    void read(std::uint64_t offset, std::span<std::uint8_t> out);

private:
    // The run holding `pos`, or the first after it; runs_.size() when none.
    [[nodiscard]] std::size_t runAt(std::uint64_t pos) const;

    readWriteInterface& reader_;
    std::uint64_t size_;
    std::vector<ByteRun> runs_; // sorted, merged, in [0, size)
};

} // namespace qis
