#pragma once

#include "util/ByteRun.h"

#include <cstdint>
#include <vector>

namespace qis {

// The free space of a volume as byte runs from its first byte, gathered
// from a walk over its allocation map in volume order. The list is
// bounded: a volume whose free space is split into more pieces than
// kMaxRuns (a crafted bitmap of alternating bits, or a very full and very
// fragmented disk) has the narrowest stretches of used space between free
// pieces taken into the runs, so a little used space is scanned rather
// than the list growing to gigabytes.
class FreeSpaceRuns {
public:
    static constexpr std::size_t kMaxRuns = std::size_t{1} << 20;

    // `volumeBytes` bounds every run: space past the volume is no one's
    // (0: the volume's size is not known, and the map alone bounds them).
    explicit FreeSpaceRuns(std::uint64_t volumeBytes) : volumeBytes_(volumeBytes ? volumeBytes : UINT64_MAX) {}

    // Free bytes [start, start + length). Calls come in rising order.
    void add(std::uint64_t start, std::uint64_t length);
    // `count` free units of `unitBytes` from unit `first`, unit 0 lying
    // `origin` bytes into the volume (a FAT's cluster 2 at the data region).
    void addUnits(std::uint64_t origin, std::uint64_t first, std::uint64_t count, std::uint64_t unitBytes);

    [[nodiscard]] std::vector<ByteRun> take() { return std::move(runs_); }

private:
    void bridgeNarrowGaps();

    std::uint64_t volumeBytes_;
    std::vector<ByteRun> runs_;
    std::uint64_t bridge_ = 0; // used space up to this long between free runs is taken in
};

} // namespace qis
