#include "recovery/carving/validation/Validators.h"

#include "recovery/carving/validation/Crc32Ieee.h"

#include <string_view>

namespace qis::carve::validation {
namespace {

// RAR 1.5 to 4: blocks of HEAD_CRC, HEAD_TYPE, HEAD_FLAGS, HEAD_SIZE and,
// when the flags say so, ADD_SIZE bytes of data (a file's packed bytes,
// 64-bit for large files), up to the end-of-archive block.
Length rar4(Source& s)
{
    std::uint64_t p = 7;
    for (std::uint64_t blocks = 0; s.has(p, 7); ++blocks) {
        const std::uint64_t type = s.u8(p + 2), flags = s.le(p + 3, 2), size = s.le(p + 5, 2);
        if (size < 7 || type < 0x72 || type > 0x7B || !s.has(p, size))
            return std::nullopt;
        // The header's CRC (its low half) holds for every block but the
        // old marker, which is never repeated.
        if ((crc32Ieee(s, p + 2, size - 2) & 0xFFFF) != s.le(p, 2))
            return std::nullopt;
        std::uint64_t data = 0;
        if (flags & 0x8000) {
            if (size < 11)
                return std::nullopt;
            data = s.le(p + 7, 4);
            if (type == 0x74 && (flags & 0x100) && size >= 36)
                data |= s.le(p + 32, 4) << 32;
        }
        if (data > s.limit())
            return std::nullopt;
        p += size + data;
        if (type == 0x7B)
            return s.has(0, p) ? Length(p) : std::nullopt;
    }
    return std::nullopt;
}

// A RAR 5 variable-length integer: seven bits a byte, low first.
std::optional<std::uint64_t> vint(Source& s, std::uint64_t& p)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 10 && s.has(p, 1); ++i) {
        const std::uint8_t b = s.u8(p++);
        v |= std::uint64_t{b & 0x7Fu} << (7 * i);
        if ((b & 0x80) == 0)
            return v;
    }
    return std::nullopt;
}

// RAR 5: each header is its CRC-32, its size, type and flags as variable
// integers, and a data area when the flags say so, up to the end header.
Length rar5(Source& s)
{
    std::uint64_t p = 8;
    for (std::uint64_t blocks = 0; s.has(p, 7); ++blocks) {
        std::uint64_t q = p + 4;
        auto size = vint(s, q);
        const std::uint64_t body = q;
        if (!size || *size == 0 || *size > (1u << 21) || !s.has(body, *size) ||
            crc32Ieee(s, p + 4, body - (p + 4) + *size) != s.le(p, 4))
            return std::nullopt;
        auto type = vint(s, q), flags = vint(s, q);
        if (!type || !flags || *type == 0 || *type > 5)
            return std::nullopt;
        std::uint64_t data = 0;
        if (*flags & 1 && !vint(s, q))
            return std::nullopt; // the extra area's size, inside the header
        if (*flags & 2) {
            auto d = vint(s, q);
            if (!d || *d > s.limit())
                return std::nullopt;
            data = *d;
        }
        // Headers after an archive encryption header cannot be read.
        if (*type == 4)
            return std::nullopt;
        p = body + *size + data;
        if (*type == 5)
            return s.has(0, p) ? Length(p) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace

Length rar(Source& s)
{
    if (s.matches(0, std::string_view("Rar!\x1A\x07\x01\x00", 8)))
        return rar5(s);
    if (s.matches(0, std::string_view("Rar!\x1A\x07\x00", 7)))
        return rar4(s);
    return std::nullopt;
}

} // namespace qis::carve::validation
