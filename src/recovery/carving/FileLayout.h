#pragma once

#include "images/readWriteInterface.h"

#include <cstdint>
#include <span>
#include <vector>

namespace qis::carve {

// One stretch of a carved file's bytes on the scanned range.
struct CarvedPiece {
    std::uint64_t offset = 0; // byte offset in the scanned range
    std::uint64_t length = 0;
};

// Where a carved file's bytes lie, in the file's order: one piece for a file
// stored in one run, more for one whose data is interrupted (the indirect
// blocks of ext2/ext3, a fragment gap).
using FileLayout = std::vector<CarvedPiece>;

// The sum of the pieces' lengths.
[[nodiscard]] std::uint64_t layoutLength(const FileLayout& layout);

// The same layout cut to its first `length` bytes.
[[nodiscard]] FileLayout layoutPrefix(const FileLayout& layout, std::uint64_t length);

// Reads the file's bytes [from, from + out.size()) through the layout; bytes
// past the layout's end and bytes that could not be read are zeros, and then
// the answer is false.
bool readThroughLayout(readWriteInterface& reader, const FileLayout& layout, std::uint64_t from,
                       std::span<std::uint8_t> out);

} // namespace qis::carve
