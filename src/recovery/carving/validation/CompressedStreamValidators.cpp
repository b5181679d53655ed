#include "recovery/carving/validation/Validators.h"

#include "recovery/carving/validation/Crc32Ieee.h"

#include <string_view>

namespace qis::carve::validation {
namespace {

constexpr std::string_view kXzMagic("\xFD" "7zXZ\0", 6);

// An XZ variable-length integer (seven bits a byte, low first); nullopt
// past nine bytes or the limit.
std::optional<std::uint64_t> xzNumber(Source& s, std::uint64_t& p)
{
    std::uint64_t v = 0;
    for (int i = 0; i < 9 && s.has(p, 1); ++i) {
        const std::uint8_t b = s.u8(p++);
        v |= std::uint64_t{b & 0x7Fu} << (7 * i);
        if ((b & 0x80) == 0)
            return v;
    }
    return std::nullopt;
}

// Where the XZ stream starting at `start` ends (after its footer), found
// from the footer back: the footer's backward size names the index, and
// the index's records add up to exactly the blocks between the header and it.
std::optional<std::uint64_t> xzStream(Source& s, std::uint64_t start)
{
    if (!s.matches(start, kXzMagic) || !s.has(start, 12) || s.u8(start + 6) != 0 || s.u8(start + 7) > 0x0F ||
        crc32Ieee(s, start + 6, 2) != s.le(start + 8, 4))
        return std::nullopt;
    for (std::uint64_t from = start + 12;;) {
        const auto yz = s.find("YZ", from);
        if (!yz)
            return std::nullopt;
        from = *yz + 1;
        if (*yz < start + 22 || (*yz - 10 - start) % 4 != 0)
            continue;
        const std::uint64_t footer = *yz - 10;
        if (s.le(footer + 8, 2) != s.le(start + 6, 2) || crc32Ieee(s, footer + 4, 6) != s.le(footer, 4))
            continue;
        const std::uint64_t indexSize = (s.le(footer + 4, 4) + 1) * 4;
        if (indexSize > footer - start - 12)
            continue;
        const std::uint64_t index = footer - indexSize;
        if (s.u8(index) != 0 || crc32Ieee(s, index, indexSize - 4) != s.le(footer - 4, 4))
            continue;
        std::uint64_t p = index + 1;
        auto records = xzNumber(s, p);
        std::uint64_t blocks = 0;
        for (std::uint64_t r = 0; records && r < *records && p < footer; ++r) {
            auto unpadded = xzNumber(s, p);
            if (!unpadded || !xzNumber(s, p) || *unpadded > s.limit())
                return std::nullopt;
            blocks += (*unpadded + 3) / 4 * 4;
        }
        if (records && start + 12 + blocks == index)
            return footer + 12;
    }
}

// A bzip2 stream's blocks start on any bit, so its end is found bit by bit:
// each block begins with the digits of pi and its CRC, the stream ends with
// those of sqrt(pi) and a CRC that combines the blocks' ones.
std::optional<std::uint64_t> bzip2Stream(Source& s, std::uint64_t start)
{
    static constexpr std::uint64_t kBlock = 0x314159265359, kEnd = 0x177245385090, kMask = 0xFFFFFFFFFFFF;
    if (!s.matches(start, "BZh") || !s.has(start, 14) || s.u8(start + 3) < '1' || s.u8(start + 3) > '9')
        return std::nullopt;
    if (s.be(start + 4, 4) != (kBlock >> 16) || s.be(start + 8, 2) != (kBlock & 0xFFFF))
        return std::nullopt;
    // A block holds at most 900 kB before compression; one that has not
    // ended well past what that could compress to is not bzip2.
    const std::uint64_t maxBlock = 2 * 100000 * std::uint64_t(s.u8(start + 3) - '0') + 4096;
    std::uint32_t combined = 0;
    std::uint64_t reg = kBlock; // the magic just read, then its CRC
    int crcBits = 32;
    bool ending = false;
    std::uint32_t crc = 0;
    std::uint64_t lastMagic = start + 10;
    for (std::uint64_t p = start + 10; s.has(p, 1); ++p) {
        if (crcBits == 0 && p - lastMagic > maxBlock)
            return std::nullopt;
        const std::uint8_t byte = s.u8(p);
        for (int bit = 7; bit >= 0; --bit) {
            const unsigned b = (byte >> bit) & 1;
            reg = (reg << 1 | b) & kMask;
            if (crcBits > 0) {
                crc = crc << 1 | b;
                if (--crcBits > 0)
                    continue;
                if (!ending) {
                    combined = (combined << 1 | combined >> 31) ^ crc;
                    continue;
                }
                if (crc == combined)
                    return p + 1;
                ending = false; // the end magic was in the data by chance
                continue;
            }
            if (reg == kBlock || reg == kEnd) {
                ending = reg == kEnd;
                crcBits = 32;
                crc = 0;
                lastMagic = p;
            }
        }
    }
    return std::nullopt;
}

// Streams written one after another (parallel compressors do this) are one
// file; zeros an XZ stream may be padded with count only before another.
template <typename Stream>
Length concatenated(Source& s, Stream stream, std::string_view magic, std::uint64_t padding)
{
    auto end = stream(s, 0);
    for (int streams = 0; end && streams < 4096; ++streams) {
        std::uint64_t next = *end;
        for (std::uint64_t zeros = 0; zeros < 65536 && s.has(next, padding) && padding > 0 && s.le(next, 4) == 0; zeros += 4)
            next += padding;
        if (!s.matches(next, magic))
            break;
        auto more = stream(s, next);
        if (!more)
            break;
        end = more;
    }
    return end;
}

} // namespace

Length xz(Source& s) { return concatenated(s, xzStream, kXzMagic, 4); }

Length bzip2(Source& s) { return concatenated(s, bzip2Stream, "BZh", 0); }

} // namespace qis::carve::validation
