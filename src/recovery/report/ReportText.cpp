#include "recovery/report/ReportText.h"

#include "util/Utf.h"

#include <cstdint>

namespace qis::report {

std::string xmlText(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const char32_t cp = nextUtf8CodePoint(text, at);
        switch (cp) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: appendUtf8(out, cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF ? kUtf8Replacement : cp);
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
