#include "recovery/report/ReportText.h"

#include <cstdint>

namespace qis::report {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The next code point of `text` from `at` (moved past it); a malformed
// sequence yields U+FFFD for its first byte only.
char32_t nextCodePoint(std::string_view text, std::size_t& at)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) {
        ++at;
        return lead;
    }
    std::size_t length = 0;
    char32_t cp = 0, least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, cp = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, cp = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, cp = lead & 0x07, least = 0x10000;
    } else {
        ++at;
        return kReplacement;
    }
    if (text.size() - at < length) {
        ++at;
        return kReplacement;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return kReplacement;
        }
        cp = (cp << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    if (cp < least || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
        ++at;
        return kReplacement;
    }
    at += length;
    return cp;
}

void appendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string wellFormedUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();)
        appendUtf8(out, nextCodePoint(text, at));
    return out;
}

std::string xmlText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const char32_t cp = nextCodePoint(text, at);
        switch (cp) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: appendUtf8(out, cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF ? kReplacement : cp);
        }
    }
    return out;
}

std::string isoTime(const UnixTime& time)
{
    std::string text = formatIsoUtc(time.seconds);
    if (text.empty() || time.nanoseconds <= 0 || time.nanoseconds > 999999999)
        return text;
    std::string fraction = std::to_string(1000000000 + time.nanoseconds).substr(1);
    while (fraction.back() == '0')
        fraction.pop_back();
    text.insert(text.size() - 1, "." + fraction);
    return text;
}

} // namespace qis::report
