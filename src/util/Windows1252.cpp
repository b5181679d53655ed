#include "util/Windows1252.h"

#include <array>

namespace qis {
namespace {

// 0x80 … 0x9F; the rest of the page is ISO 8859-1.
constexpr std::array<char16_t, 32> kHighControls = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178',
};

} // namespace

char16_t windows1252ToUtf16(std::uint8_t byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return kHighControls[byte - 0x80];
    return static_cast<char16_t>(byte);
}

std::u16string windows1252ToUtf16(std::span<const std::uint8_t> bytes)
{
    std::u16string text;
    text.reserve(bytes.size());
    for (std::uint8_t b : bytes)
        text.push_back(windows1252ToUtf16(b));
    return text;
}

} // namespace qis
