#include "cli/ListedName.h"

#include <cstdint>

namespace qis::cli {
namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::string listedName(std::string_view name)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(name.size());
    auto escape = [&out](std::uint8_t b) {
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
    };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(name[i]);
        const bool c1 = b == 0xC2 && i + 1 < name.size() && static_cast<std::uint8_t>(name[i + 1]) >= 0x80 &&
                        static_cast<std::uint8_t>(name[i + 1]) <= 0x9F;
        if (c1) {
            escape(b);
            escape(static_cast<std::uint8_t>(name[++i]));
        } else if (b < 0x20 || b == 0x7F || b == '/') {
            escape(b);
        } else if (b == '\\') {
            out += "\\\\";
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

std::string listedJoinedPath(std::string_view path)
{
    std::string out;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string_view::npos)
            slash = path.size();
        if (start > 0)
            out += '/';
        out += listedName(path.substr(start, slash - start));
        start = slash + 1;
    }
    return out;
}

std::vector<std::string> listedPathParts(std::string_view path)
{
    std::vector<std::string> parts;
    std::string part;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '/') {
            if (!part.empty())
                parts.push_back(std::move(part));
            part.clear();
        } else if (c == '\\' && i + 1 < path.size() && path[i + 1] == '\\') {
            part += '\\';
            ++i;
        } else if (c == '\\' && i + 3 < path.size() && path[i + 1] == 'x' && hexValue(path[i + 2]) >= 0 &&
                   hexValue(path[i + 3]) >= 0) {
            part += static_cast<char>(hexValue(path[i + 2]) * 16 + hexValue(path[i + 3]));
            i += 3;
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(std::move(part));
    return parts;
}

} // namespace qis::cli
