#pragma once

#include "images/readWriteInterface.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace qis {

// The recovery searches read a whole volume in pieces of this size.
inline constexpr std::uint64_t kSweepChunkBytes = 10485760;

struct SweepChunk {
    std::uint64_t index = 0; // chunk number, from 0
    std::uint64_t start = 0; // volume offset of bytes[0]
    // The chunk followed by up to `lookahead` bytes of the next one (less at
    // the volume's end), so that a structure starting in this chunk can be
    // read whole from here.
    std::span<const std::uint8_t> bytes;
    // How many of the bytes belong to this chunk: positions 0 … length − 1
    // are this chunk's to test.
    std::size_t length = 0;
};

// The bytes of a volume whose size the volume list gives as a MiB figure
// ("8192", or "8192   MB"); 0 when it is no number.
std::uint64_t volumeBytesFromSizeText(const std::string& sizeText);

// The most bytes a volume listed with this MiB figure can hold: the list
// rounds sizes down, and a volume cut at its figure would lose the files in
// its last part MiB (partitions laid out by cylinders end anywhere). 0 when
// the figure is no number or 0.
std::uint64_t volumeReachFromSizeText(const std::string& sizeText);

// How far `position` is through `total`, in thousandths (the searches'
// progress range).
[[nodiscard]] inline std::int32_t permille(std::uint64_t position, std::uint64_t total)
{
    if (total == 0)
        return 0;
    return static_cast<std::int32_t>(std::min<std::uint64_t>(1000, position / (total / 1000 + 1)));
}

// The number of chunks a volume of this size has.
[[nodiscard]] inline std::uint64_t sweepChunkCount(std::uint64_t volumeSize)
{
    return (volumeSize + kSweepChunkBytes - 1) / kSweepChunkBytes;
}

// Reads the volume [0, volumeSize) chunk by chunk and hands each to visit,
// which returns false to end the sweep. Nothing past volumeSize, or past the
// end of the disk, is read.
// Chunks the image stores as unallocated (all zeros) are not read and not
// visited: no signature the searches look for is all zeros.
void sweepVolume(readWriteInterface& reader, std::uint64_t volumeSize, std::size_t lookahead,
                 const std::function<bool(const SweepChunk&)>& visit);

} // namespace qis
