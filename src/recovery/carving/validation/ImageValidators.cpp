#include "recovery/carving/validation/Validators.h"

#include "recovery/carving/validation/MultiPicture.h"

#include <algorithm>
#include <string_view>

namespace qis::carve::validation {
namespace {

// GIF data sub-blocks, from a length byte to the zero that ends them.
bool skipSubBlocks(Source& s, std::uint64_t& p)
{
    while (s.has(p, 1)) {
        const std::uint8_t n = s.u8(p);
        p += 1 + std::uint64_t{n};
        if (n == 0)
            return true;
    }
    return false;
}

} // namespace

Length jpeg(Source& s)
{
    if (!s.matches(0, "\xFF\xD8"))
        return std::nullopt;
    std::uint64_t p = 2;
    bool scanned = false;
    std::optional<std::uint64_t> multiPicture; // the MP header of an APP2 "MPF" segment
    while (s.has(p, 2)) {
        if (s.u8(p) != 0xFF)
            return std::nullopt;
        while (s.has(p, 1) && s.u8(p) == 0xFF)
            ++p;
        if (!s.has(p, 1))
            return std::nullopt;
        const std::uint8_t marker = s.u8(p++);
        if (marker == 0xD9) {
            if (!scanned)
                return std::nullopt;
            auto listed = multiPicture ? multiPictureEnd(s, *multiPicture) : std::nullopt;
            return std::max(p, listed.value_or(0));
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (marker == 0x00 || marker == 0xD8 || !s.has(p, 2))
            return std::nullopt;
        const std::uint32_t length = s.be(p, 2);
        if (length < 2)
            return std::nullopt;
        if (marker == 0xE2 && !multiPicture && s.matches(p + 2, std::string_view("MPF\0", 4)))
            multiPicture = p + 6;
        p += length;
        if (marker != 0xDA)
            continue;
        // Entropy-coded data: it ends at the first marker that is neither a
        // stuffed zero nor a restart.
        scanned = true;
        for (;; ++p) {
            auto mark = s.findByte(0xFF, p);
            if (!mark || !s.has(*mark, 2))
                return std::nullopt;
            p = *mark;
            const std::uint8_t next = s.u8(p + 1);
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                ++p;
            else if (next != 0xFF)
                break;
        }
    }
    return std::nullopt;
}

Length png(Source& s)
{
    if (!s.matches(0, "\x89PNG\r\n\x1A\n") || !s.matches(12, "IHDR"))
        return std::nullopt;
    std::uint64_t p = 8;
    while (s.has(p, 12)) {
        const std::uint32_t length = s.be(p, 4);
        if (length > 0x7FFFFFFF)
            return std::nullopt;
        for (int i = 4; i < 8; ++i) {
            const std::uint8_t c = s.u8(p + i);
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
                return std::nullopt;
        }
        const bool end = s.matches(p + 4, "IEND");
        p += 12 + std::uint64_t{length};
        if (end)
            return s.has(0, p) ? Length(p) : std::nullopt;
    }
    return std::nullopt;
}

Length gif(Source& s)
{
    if (!s.matches(0, "GIF87a") && !s.matches(0, "GIF89a"))
        return std::nullopt;
    if (!s.has(0, 13))
        return std::nullopt;
    const std::uint8_t flags = s.u8(10);
    std::uint64_t p = 13 + ((flags & 0x80) ? 3ull << ((flags & 7) + 1) : 0);
    bool image = false;
    while (s.has(p, 1)) {
        const std::uint8_t block = s.u8(p);
        if (block == 0x3B)
            return image ? Length(p + 1) : std::nullopt;
        if (block == 0x21) {
            p += 2;
        } else if (block == 0x2C) {
            if (!s.has(p, 10))
                return std::nullopt;
            const std::uint8_t local = s.u8(p + 9);
            p += 10 + ((local & 0x80) ? 3ull << ((local & 7) + 1) : 0) + 1;
            image = true;
        } else {
            return std::nullopt;
        }
        if (!skipSubBlocks(s, p))
            return std::nullopt;
    }
    return std::nullopt;
}

Length bmp(Source& s)
{
    if (!s.matches(0, "BM") || !s.has(0, 26))
        return std::nullopt;
    const std::uint64_t size = s.le(2, 4);
    const std::uint64_t dataOffset = s.le(10, 4);
    const std::uint64_t header = s.le(14, 4);
    const bool knownHeader = header == 12 || header == 40 || header == 52 || header == 56 || header == 64 ||
                             header == 108 || header == 124;
    if (!knownHeader || s.le(6, 4) != 0 || size < 26 || dataOffset >= size || !s.has(0, size))
        return std::nullopt;
    return size;
}

} // namespace qis::carve::validation
