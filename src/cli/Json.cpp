#include "cli/Json.h"

#include <cstdio>

namespace qis::cli {

void appendJsonString(std::string& out, std::string_view text)
{
    out += '"';
    std::size_t plain = 0; // start of the run of characters that need no escape
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char u = static_cast<unsigned char>(text[i]);
        if (u >= 0x20 && u != '"' && u != '\\')
            continue;
        out.append(text, plain, i - plain);
        plain = i + 1;
        switch (u) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        }
        }
    }
    out.append(text, plain, text.size() - plain);
    out += '"';
}

std::string jsonString(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    appendJsonString(out, text);
    return out;
}

} // namespace qis::cli
