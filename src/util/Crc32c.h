#pragma once

#include <cstdint>
#include <span>

namespace qis {

// CRC-32C (Castagnoli), as VHDX headers and region tables use it.
std::uint32_t crc32c(std::span<const std::uint8_t> data, std::uint32_t seed = 0);

} // namespace qis
