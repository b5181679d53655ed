#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qis {

// Windows-1252, the code page short names and unmarked 8-bit names are read
// in; the five unassigned bytes map to the C1 controls of the same value.
char16_t windows1252ToUtf16(std::uint8_t byte);
std::u16string windows1252ToUtf16(std::span<const std::uint8_t> bytes);

} // namespace qis
