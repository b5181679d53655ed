#pragma once

#include <cstdint>
#include <vector>

namespace qis::test {

// The numbered fixtures: sector k holds the 64-bit little-endian k, 64 times.
inline std::vector<std::uint8_t> numberedSector(std::uint64_t k)
{
    std::vector<std::uint8_t> s(512);
    for (int i = 0; i < 512; ++i)
        s[i] = static_cast<std::uint8_t>(k >> (8 * (i % 8)));
    return s;
}

inline std::vector<std::uint8_t> zeroSector() { return std::vector<std::uint8_t>(512, 0); }

inline std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& v, std::size_t at, std::size_t n)
{
    return {v.begin() + static_cast<std::ptrdiff_t>(at), v.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

} // namespace qis::test
