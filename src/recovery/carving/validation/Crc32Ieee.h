#pragma once

#include "recovery/carving/validation/ValidationSource.h"

#include <cstdint>

namespace qis::carve::validation {

// The CRC-32 of `n` bytes at `at` (the polynomial ZIP, XZ and RAR use):
// archive headers carry it, and a header whose CRC holds is one the
// archiver wrote, not bytes that happen to look like one.
std::uint32_t crc32Ieee(Source& s, std::uint64_t at, std::uint64_t n);

// One step of the same CRC-32 over bytes as they come (an inflated stream):
// start from 0xFFFFFFFF and invert at the end.
std::uint32_t crc32Step(std::uint32_t crc, std::uint8_t byte);

} // namespace qis::carve::validation
