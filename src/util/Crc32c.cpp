#include "util/Crc32c.h"

#include <array>

namespace qis {
namespace {

constexpr std::array<std::uint32_t, 256> makeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto kTable = makeTable();

} // namespace

std::uint32_t crc32c(std::span<const std::uint8_t> data, std::uint32_t seed)
{
    std::uint32_t c = ~seed;
    for (std::uint8_t b : data)
        c = kTable[(c ^ b) & 0xFF] ^ (c >> 8);
    return ~c;
}

} // namespace qis
