#pragma once

#include "recovery/carving/validation/ValidationSource.h"

#include <cstdint>

namespace qis::carve::validation {

// The CRC-32 of `n` bytes at `at` (the polynomial ZIP, XZ and RAR use):
// archive headers carry it, and a header whose CRC holds is one the
// archiver wrote, not bytes that happen to look like one. `before` is the
// CRC-32 of bytes that come first, to go on from.
std::uint32_t crc32Ieee(Source& s, std::uint64_t at, std::uint64_t n, std::uint32_t before = 0);

// The CRC-32 of two runs of bytes one after the other, from each run's own
// CRC-32 and the second's length.
std::uint32_t crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength);

} // namespace qis::carve::validation
