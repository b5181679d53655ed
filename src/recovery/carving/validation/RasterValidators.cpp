#include "recovery/carving/validation/Validators.h"

#include <algorithm>
#include <string_view>

namespace qis::carve::validation {
namespace {

bool isSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// A PNM header number: skips white space and comments before it, nullopt
// when digits do not follow or there are too many of them.
std::optional<std::uint64_t> pnmNumber(Source& s, std::uint64_t& p)
{
    for (int skipped = 0; s.has(p, 1) && skipped < 4096; ++skipped) {
        if (s.u8(p) == '#') {
            auto eol = s.findByte('\n', p);
            if (!eol || *eol - p > 4096)
                return std::nullopt;
            p = *eol;
        } else if (!isSpace(s.u8(p))) {
            break;
        }
        ++p;
    }
    std::uint64_t v = 0;
    int digits = 0;
    for (; s.has(p, 1) && s.u8(p) >= '0' && s.u8(p) <= '9'; ++p)
        if (++digits > 9)
            return std::nullopt;
        else
            v = v * 10 + (s.u8(p) - '0');
    return digits > 0 ? std::optional<std::uint64_t>(v) : std::nullopt;
}

// The XCF version: 0 for the first ("file"), else the number after 'v'.
std::optional<int> xcfVersion(Source& s)
{
    if (s.matches(9, "file"))
        return 0;
    if (s.u8(9) != 'v')
        return std::nullopt;
    int version = 0;
    for (int i = 10; i < 13; ++i) {
        if (s.u8(i) < '0' || s.u8(i) > '9')
            return std::nullopt;
        version = version * 10 + (s.u8(i) - '0');
    }
    return version;
}

// Walks an XCF's structures for the furthest byte any of them holds.
class XcfWalk {
public:
    XcfWalk(Source& s, int pointerBytes) : s_(s), pointer_(pointerBytes) {}

    std::uint64_t end = 0;
    int compression = 0;

    // A property list, up to its end property; nullopt when damaged.
    bool properties(std::uint64_t& p, bool image)
    {
        for (int n = 0; n < 65536 && s_.has(p, 8); ++n) {
            const std::uint64_t type = s_.be(p, 4), length = s_.be(p + 4, 4);
            if (!s_.has(p + 8, length))
                return false;
            if (image && type == 17 && length >= 1)
                compression = s_.u8(p + 8);
            p += 8 + length;
            if (type == 0)
                return note(p);
        }
        return false;
    }
    std::optional<std::uint64_t> pointer(std::uint64_t& p)
    {
        if (!s_.has(p, pointer_))
            return std::nullopt;
        const std::uint64_t v = pointer_ == 8 ? std::uint64_t{s_.be(p, 4)} << 32 | s_.be(p + 4, 4) : s_.be(p, 4);
        p += pointer_;
        if (v != 0 && !s_.has(v, 1))
            return std::nullopt;
        return v;
    }
    // A layer or channel: its size, name, properties, then its pixels'
    // hierarchy (and, for a layer, its mask channel).
    bool drawable(std::uint64_t at, bool layer, int depth)
    {
        std::uint64_t p = at + (layer ? 12 : 8);
        if (depth > 2 || !s_.has(p, 4))
            return false;
        const std::uint64_t name = s_.be(p, 4);
        p += 4 + name;
        if (name > 65536 || !properties(p, false))
            return false;
        auto hierarchyAt = pointer(p);
        if (!hierarchyAt || !note(p) || (*hierarchyAt != 0 && !hierarchy(*hierarchyAt)))
            return false;
        if (!layer)
            return true;
        auto mask = pointer(p);
        return mask && note(p) && (*mask == 0 || drawable(*mask, false, depth + 1));
    }

private:
    bool note(std::uint64_t p)
    {
        end = std::max(end, p);
        return s_.has(0, p);
    }
    bool hierarchy(std::uint64_t at)
    {
        std::uint64_t p = at + 12;
        if (!s_.has(at, 12))
            return false;
        const std::uint64_t bpp = s_.be(at + 8, 4);
        if (bpp == 0 || bpp > 64)
            return false;
        for (int levels = 0; levels < 32; ++levels) {
            auto level = pointer(p);
            if (!level || !note(p))
                return false;
            if (*level == 0)
                return true;
            if (!this->level(*level, bpp))
                return false;
        }
        return false;
    }
    // A level's tiles end where the next begins; the last one ends where
    // its own bytes do (raw, or as many as its RLE takes to fill the tile).
    bool level(std::uint64_t at, std::uint64_t bpp)
    {
        if (!s_.has(at, 8))
            return false;
        const std::uint64_t width = s_.be(at, 4), height = s_.be(at + 4, 4);
        const std::uint64_t tiles = ((width + 63) / 64) * ((height + 63) / 64);
        if (width > (1u << 20) || height > (1u << 20) || tiles > (1u << 20))
            return false;
        std::uint64_t p = at + 8, last = 0;
        for (std::uint64_t i = 0; i <= tiles; ++i) {
            auto tile = pointer(p);
            if (!tile || !note(p))
                return false;
            if (*tile == 0)
                break;
            last = *tile;
        }
        if (last == 0)
            return true;
        // The last tile: the bottom-right one, as small as the image edge.
        const std::uint64_t w = width % 64 ? width % 64 : 64, h = height % 64 ? height % 64 : 64;
        if (compression == 0)
            return note(last + w * h * bpp);
        if (compression != 1)
            return true; // zlib: its end is not known from here
        std::uint64_t q = last;
        for (std::uint64_t plane = 0; plane < bpp; ++plane)
            for (std::uint64_t filled = 0; filled < w * h;) {
                if (!s_.has(q, 1))
                    return false;
                const std::uint8_t op = s_.u8(q++);
                std::uint64_t count;
                bool literal;
                if (op == 127 || op == 128) {
                    if (!s_.has(q, 2))
                        return false;
                    count = s_.be(q, 2);
                    q += 2;
                    literal = op == 128;
                } else {
                    literal = op > 128;
                    count = literal ? 256u - op : op + 1u;
                }
                q += literal ? count : 1;
                filled += count;
            }
        return note(q);
    }

    Source& s_;
    int pointer_;
};

} // namespace

Length ico(Source& s)
{
    if (!s.has(0, 6) || s.le(0, 2) != 0 || (s.le(2, 2) != 1 && s.le(2, 2) != 2))
        return std::nullopt;
    const std::uint64_t count = s.le(4, 2);
    if (count == 0 || !s.has(6, count * 16))
        return std::nullopt;
    std::uint64_t end = 6 + count * 16;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t e = 6 + i * 16, size = s.le(e + 8, 4), offset = s.le(e + 12, 4);
        // Each picture is a PNG or a bitmap without its file header.
        if (s.u8(e + 3) != 0 || offset < 6 + count * 16 || size < 40 || !s.has(offset, size) ||
            !(s.le(offset, 4) == 40 || s.matches(offset, "\x89PNG")))
            return std::nullopt;
        end = std::max(end, offset + size);
    }
    return end;
}

Length psd(Source& s)
{
    if (!s.matches(0, "8BPS") || !s.has(0, 30) || s.le(6, 4) != 0 || s.le(10, 2) != 0)
        return std::nullopt;
    const std::uint64_t version = s.be(4, 2), channels = s.be(12, 2), height = s.be(14, 4), width = s.be(18, 4);
    const std::uint64_t depth = s.be(22, 2);
    if ((version != 1 && version != 2) || channels == 0 || channels > 56 || height == 0 || width == 0 ||
        height > (1u << 20) || width > (1u << 20) || (depth != 1 && depth != 8 && depth != 16 && depth != 32))
        return std::nullopt;
    // Colour mode data, image resources, then layer and mask information
    // (its length eight bytes wide in the large format).
    std::uint64_t p = 26;
    for (int section = 0; section < 3; ++section) {
        const int bytes = section == 2 && version == 2 ? 8 : 4;
        if (!s.has(p, bytes))
            return std::nullopt;
        const std::uint64_t length = bytes == 8 ? std::uint64_t{s.be(p, 4)} << 32 | s.be(p + 4, 4) : s.be(p, 4);
        if (length > s.limit())
            return std::nullopt;
        p += bytes + length;
    }
    if (!s.has(p, 2))
        return std::nullopt;
    const std::uint64_t compression = s.be(p, 2), rows = height * channels;
    p += 2;
    if (compression == 0) {
        p += (width * depth + 7) / 8 * rows;
    } else if (compression == 1) {
        // Every row's packed length, then the rows.
        const int bytes = version == 2 ? 4 : 2;
        if (!s.has(p, rows * bytes))
            return std::nullopt;
        std::uint64_t data = 0;
        for (std::uint64_t r = 0; r < rows; ++r)
            data += s.be(p + r * bytes, bytes);
        p += rows * bytes + data;
    } else {
        return std::nullopt;
    }
    return s.has(0, p) ? Length(p) : std::nullopt;
}

Length xcf(Source& s)
{
    if (!s.matches(0, "gimp xcf ") || !s.has(0, 26) || s.u8(13) != 0)
        return std::nullopt;
    auto version = xcfVersion(s);
    if (!version)
        return std::nullopt;
    // Pointers grew to 64 bits in version 11; version 4 added the precision.
    XcfWalk walk(s, *version >= 11 ? 8 : 4);
    std::uint64_t p = 14 + 12 + (*version >= 4 ? 4 : 0);
    if (!walk.properties(p, true))
        return std::nullopt;
    // Layer pointers to a zero, then channel pointers to a zero.
    for (int list = 0; list < 2; ++list)
        for (int n = 0;; ++n) {
            auto at = walk.pointer(p);
            if (!at || n > 65536)
                return std::nullopt;
            walk.end = std::max(walk.end, p);
            if (*at == 0)
                break;
            std::uint64_t q = *at;
            if (!walk.drawable(q, list == 0, 0))
                return std::nullopt;
        }
    return s.has(0, walk.end) ? Length(walk.end) : std::nullopt;
}

Length pnm(Source& s)
{
    if (!s.has(0, 3) || s.u8(0) != 'P' || s.u8(1) < '1' || s.u8(1) > '6' || !isSpace(s.u8(2)))
        return std::nullopt;
    const int kind = s.u8(1) - '0';
    const bool bitmap = kind == 1 || kind == 4;
    std::uint64_t p = 2;
    auto width = pnmNumber(s, p), height = pnmNumber(s, p);
    auto maxValue = bitmap ? std::optional<std::uint64_t>(1) : pnmNumber(s, p);
    if (!width || !height || !maxValue || *width == 0 || *height == 0 || *width > (1u << 24) ||
        *height > (1u << 24) || *maxValue == 0 || *maxValue > 65535 ||
        !s.has(p, 1) || !isSpace(s.u8(p)))
        return std::nullopt;
    const std::uint64_t channels = kind == 3 || kind == 6 ? 3 : 1;
    if (kind >= 4) {
        ++p; // the single white space before the raster
        const std::uint64_t row = kind == 4 ? (*width + 7) / 8 : *width * channels * (*maxValue < 256 ? 1 : 2);
        p += row * *height;
        return s.has(0, p) ? Length(p) : std::nullopt;
    }
    // Plain (text) forms: as many numbers as the picture has samples.
    const std::uint64_t samples = *width * *height * channels;
    for (std::uint64_t i = 0; i < samples; ++i) {
        if (kind == 1) { // bits may stand without space between them
            while (s.has(p, 1) && isSpace(s.u8(p)))
                ++p;
            if (!s.has(p, 1) || (s.u8(p) != '0' && s.u8(p) != '1'))
                return std::nullopt;
            ++p;
            continue;
        }
        auto v = pnmNumber(s, p);
        if (!v || *v > *maxValue)
            return std::nullopt;
    }
    if (s.has(p, 1) && isSpace(s.u8(p)))
        ++p; // the line's end
    return p;
}

} // namespace qis::carve::validation
