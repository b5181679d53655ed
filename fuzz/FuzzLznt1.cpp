// LZNT1 decoding of arbitrary bytes as one compression unit, into a 64 KiB
// output (a unit of 16 clusters of 4096 bytes) and into a tiny one. Each
// output is its own heap block of exactly its size, so a write past it is
// caught. Decoding into less room must give the same bytes as far as that
// room goes: the output size may only decide where decoding stops.

#include "filesystems/ntfs/Lznt1.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);
    std::vector<std::uint8_t> unit(16 * qis::ntfsdisk::lznt1ChunkSize);
    std::vector<std::uint8_t> tiny(7);
    const auto whole = qis::ntfsdisk::lznt1Decompress(input, unit);
    const auto part = qis::ntfsdisk::lznt1Decompress(input, tiny);
    if (whole.produced > unit.size() || part.produced > tiny.size())
        std::abort();
    if (part.produced != std::min(tiny.size(), whole.produced))
        std::abort();
    if (!std::equal(tiny.begin(), tiny.begin() + static_cast<std::ptrdiff_t>(part.produced), unit.begin()))
        std::abort();
    return 0;
}
