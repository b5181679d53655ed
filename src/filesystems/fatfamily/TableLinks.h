#pragma once

#include <cstdint>

namespace qis {

// The FAT family's entry tables link records by index; this one means none.
inline constexpr std::uint32_t kNoRecord = UINT32_MAX;

} // namespace qis
