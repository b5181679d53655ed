#pragma once

#include "recovery/carving/validation/ValidationSource.h"

#include <cstdint>

namespace qis::carve::validation {

// A text file has no length field and no end marker: it ends with its last
// text byte, the block slack after it being zeros on a fresh file system or
// whatever binary the block held before. The run is never longer than this,
// so a disk full of text cannot keep the carver on one file.
inline constexpr std::uint64_t kMaxTextRun = 64ull << 20;

// Where the run of UTF-8 text that begins at `from` ends: at the first byte
// that is neither a printable character, a well-formed multi-byte sequence,
// nor one of the layout controls text files hold (tab, line feed, form feed,
// carriage return, and the escape of terminal colours). A multi-byte
// sequence cut off by that byte is not part of the run.
std::uint64_t textRunEnd(Source& s, std::uint64_t from);

} // namespace qis::carve::validation
