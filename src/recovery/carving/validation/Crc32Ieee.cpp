#include "recovery/carving/validation/Crc32Ieee.h"

#include <array>

namespace qis::carve::validation {
namespace {

constexpr std::array<std::uint32_t, 256> makeTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr auto kTable = makeTable();

} // namespace

std::uint32_t crc32Step(std::uint32_t crc, std::uint8_t byte) { return kTable[(crc ^ byte) & 0xFF] ^ (crc >> 8); }

std::uint32_t crc32Ieee(Source& s, std::uint64_t at, std::uint64_t n)
{
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::uint64_t i = 0; i < n && s.has(at + i, 1); ++i)
        c = crc32Step(c, s.u8(at + i));
    return c ^ 0xFFFFFFFFu;
}

} // namespace qis::carve::validation
