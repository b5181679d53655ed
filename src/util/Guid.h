#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace qis {

// A GUID as stored on disk: Data1..Data3 little-endian, Data4 as bytes.
using Guid = std::array<std::uint8_t, 16>;

// Builds the on-disk bytes of the GUID written as {d1-d2-d3-d4hi-d4lo}.
constexpr Guid makeGuid(std::uint32_t d1, std::uint16_t d2, std::uint16_t d3, std::uint16_t d4, std::uint64_t d5)
{
    Guid g{};
    for (int i = 0; i < 4; ++i)
        g[i] = static_cast<std::uint8_t>(d1 >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        g[4 + i] = static_cast<std::uint8_t>(d2 >> (8 * i));
        g[6 + i] = static_cast<std::uint8_t>(d3 >> (8 * i));
    }
    g[8] = static_cast<std::uint8_t>(d4 >> 8);
    g[9] = static_cast<std::uint8_t>(d4);
    for (int i = 0; i < 6; ++i)
        g[10 + i] = static_cast<std::uint8_t>(d5 >> (8 * (5 - i)));
    return g;
}

inline bool guidEquals(std::span<const std::uint8_t> bytes, const Guid& g)
{
    if (bytes.size() < g.size())
        return false;
    for (std::size_t i = 0; i < g.size(); ++i)
        if (bytes[i] != g[i])
            return false;
    return true;
}

} // namespace qis
