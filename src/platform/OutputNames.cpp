#include "platform/OutputNames.h"

#include "util/Utf.h"

#include <cstdio>

namespace qis {
namespace {

constexpr std::size_t kMaxComponentBytes = 255;

std::string escaped(unsigned char c)
{
    char text[4];
    std::snprintf(text, sizeof text, "%%%02X", c);
    return text;
}

// FNV-1a: a short, stable tag for names that had to be cut.
std::uint32_t nameHash(const std::string& s)
{
    std::uint32_t h = 2166136261u;
    for (unsigned char c : s)
        h = (h ^ c) * 16777619u;
    return h;
}

} // namespace

std::string outputComponent(std::u16string_view name)
{
    std::string utf8 = utf16ToUtf8(name);
    if (utf8.empty())
        return "%unnamed%";
    if (utf8 == ".")
        return "%2E";
    if (utf8 == "..")
        return "%2E%2E";
    std::string out;
    for (unsigned char c : utf8) {
        if (c == '/' || c == '\\' || c == '%' || c < 0x20 || c == 0x7F)
            out += escaped(c);
        else
            out += static_cast<char>(c);
    }
    if (out.back() == '.')
        out.replace(out.size() - 1, 1, "%2E");
    if (out.size() > kMaxComponentBytes) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "~%08X", nameHash(out));
        std::size_t keep = kMaxComponentBytes - 9;
        // Cut on a character boundary, not inside a UTF-8 sequence or an escape.
        while (keep > 0 && (static_cast<unsigned char>(out[keep]) & 0xC0) == 0x80)
            --keep;
        for (std::size_t back = 1; back <= 2 && keep >= back; ++back)
            if (out[keep - back] == '%')
                keep -= back;
        out = out.substr(0, keep) + tag;
    }
    return out;
}

std::string numberedName(const std::string& name, unsigned n)
{
    std::size_t dot = name.rfind('.');
    std::string suffix = " (" + std::to_string(n) + ")";
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

} // namespace qis
