#include "recovery/carving/validation/Validators.h"

#include <algorithm>
#include <string_view>

namespace qis::carve::validation {
namespace {

// FLAC's CRCs: CRC-8 (x^8+x^2+x+1) over a frame header, CRC-16
// (x^16+x^15+x^2+1) over the whole frame, both most significant bit first.
std::uint8_t crc8Step(std::uint8_t c, std::uint8_t byte)
{
    c ^= byte;
    for (int k = 0; k < 8; ++k)
        c = static_cast<std::uint8_t>((c & 0x80) ? (c << 1) ^ 0x07 : c << 1);
    return c;
}
std::uint16_t crc16Step(std::uint16_t c, std::uint8_t byte)
{
    c ^= static_cast<std::uint16_t>(byte << 8);
    for (int k = 0; k < 8; ++k)
        c = static_cast<std::uint16_t>((c & 0x8000) ? (c << 1) ^ 0x8005 : c << 1);
    return c;
}

struct FlacFrame {
    std::uint64_t samples = 0;
    unsigned channels = 0, sampleBits = 0; // their codes in the header
    std::uint64_t headerBytes = 0;
};

// A FLAC frame header at `p` whose CRC-8 holds: how many samples the frame holds.
std::optional<FlacFrame> flacFrame(Source& s, std::uint64_t p)
{
    if (!s.has(p, 6) || s.u8(p) != 0xFF || (s.u8(p + 1) & 0xFE) != 0xF8)
        return std::nullopt;
    const unsigned sizeCode = s.u8(p + 2) >> 4, rateCode = s.u8(p + 2) & 15, channels = s.u8(p + 3) >> 4;
    const unsigned sampleBits = (s.u8(p + 3) >> 1) & 7;
    if (sizeCode == 0 || rateCode == 15 || channels > 10 || sampleBits == 3 || (s.u8(p + 3) & 1))
        return std::nullopt;
    std::uint64_t q = p + 4;
    // The frame or sample number, coded as UTF-8 is (up to seven bytes).
    const std::uint8_t lead = s.u8(q++);
    int more = 0;
    while (more < 7 && (lead << more) & 0x80)
        ++more;
    if (more == 1 || (more == 7 && lead != 0xFE))
        return std::nullopt;
    for (int i = 1; i < more; ++i)
        if (!s.has(q, 1) || (s.u8(q++) & 0xC0) != 0x80)
            return std::nullopt;
    FlacFrame f;
    if (sizeCode == 1)
        f.samples = 192;
    else if (sizeCode <= 5)
        f.samples = 576u << (sizeCode - 2);
    else if (sizeCode >= 8)
        f.samples = 256u << (sizeCode - 8);
    else {
        const int bytes = sizeCode == 6 ? 1 : 2;
        if (!s.has(q, bytes))
            return std::nullopt;
        f.samples = s.be(q, bytes) + 1;
        q += bytes;
    }
    q += rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0;
    if (!s.has(q, 1))
        return std::nullopt;
    std::uint8_t crc = 0;
    for (std::uint64_t i = p; i < q; ++i)
        crc = crc8Step(crc, s.u8(i));
    f.channels = channels;
    f.sampleBits = sampleBits;
    f.headerBytes = q + 1 - p;
    return crc == s.u8(q) ? std::optional<FlacFrame>(f) : std::nullopt;
}

// The frame's bits, most significant first; reading past the limit or a
// field no encoder writes leaves `ok` false.
struct FlacBits {
    Source& s;
    std::uint64_t bit;
    bool ok = true;
    std::uint64_t read(unsigned n)
    {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < n && ok; ++i, ++bit) {
            ok = s.has(bit / 8, 1);
            v = v << 1 | (ok ? (s.u8(bit / 8) >> (7 - bit % 8)) & 1u : 0u);
        }
        return v;
    }
    void skip(std::uint64_t n)
    {
        bit += n;
        ok = ok && s.has(0, (bit + 7) / 8);
    }
    void unary()
    {
        for (std::uint64_t zeros = 0; ok && read(1) == 0;)
            ok = ++zeros < (1u << 20);
    }
    // Rice-coded residuals in partitions of the block.
    void residual(std::uint64_t samples, std::uint64_t order)
    {
        const std::uint64_t method = read(2), partitions = std::uint64_t{1} << read(4);
        ok = ok && method <= 1 && samples % partitions == 0 && samples / partitions >= order;
        const unsigned paramBits = method ? 5 : 4, escape = method ? 31 : 15;
        for (std::uint64_t i = 0; i < partitions && ok; ++i) {
            const std::uint64_t n = samples / partitions - (i == 0 ? order : 0), k = read(paramBits);
            if (k == escape) {
                skip(n * read(5));
                continue;
            }
            for (std::uint64_t j = 0; j < n && ok; ++j) {
                unary();
                skip(k);
            }
        }
    }
    void subframe(std::uint64_t samples, std::uint64_t bits)
    {
        const std::uint64_t zero = read(1), type = read(6);
        if (read(1)) { // wasted bits per sample, in unary
            std::uint64_t wasted = 1;
            while (ok && read(1) == 0)
                ok = ++wasted < bits;
            bits -= wasted;
        }
        ok = ok && zero == 0;
        if (type == 0) {
            skip(bits);
        } else if (type == 1) {
            skip(bits * samples);
        } else if (type >= 8 && type <= 12) {
            skip(bits * (type - 8));
            residual(samples, type - 8);
        } else if (type >= 32) {
            // Warm-up samples, then the coefficients' precision, shift and values.
            const std::uint64_t order = (type & 31) + 1;
            skip(bits * order);
            const std::uint64_t precision = read(4) + 1;
            ok = ok && precision != 16;
            skip(5 + precision * order);
            residual(samples, order);
        } else {
            ok = false;
        }
    }
};

// Where the FLAC frame at `p` ends, from its subframes: the last frame has
// no next header to end it, and a CRC-16 that holds by chance inside it
// must not end it early.
std::optional<std::uint64_t> flacFrameEnd(Source& s, std::uint64_t p, const FlacFrame& f, unsigned streamBits)
{
    static constexpr unsigned kBits[] = {0, 8, 12, 0, 16, 20, 24, 32};
    const unsigned bits = f.sampleBits == 0 ? streamBits : kBits[f.sampleBits];
    const unsigned channels = f.channels <= 7 ? f.channels + 1 : 2;
    if (bits == 0)
        return std::nullopt;
    FlacBits in{s, (p + f.headerBytes) * 8};
    for (unsigned c = 0; c < channels && in.ok; ++c) {
        // The side channel of a stereo pair carries one bit more.
        const bool side = (f.channels == 8 && c == 1) || (f.channels == 9 && c == 0) || (f.channels == 10 && c == 1);
        in.subframe(f.samples, bits + (side ? 1 : 0));
    }
    const std::uint64_t end = (in.bit + 7) / 8 + 2;
    if (!in.ok || !s.has(0, end))
        return std::nullopt;
    std::uint16_t crc = 0;
    for (std::uint64_t i = p; i < end; ++i)
        crc = crc16Step(crc, s.u8(i));
    return crc == 0 ? std::optional<std::uint64_t>(end) : std::nullopt;
}

// An EBML element's ID (its length marker kept) or size (marker removed;
// all ones is "unknown", returned as UINT64_MAX).
std::optional<std::uint64_t> ebmlNumber(Source& s, std::uint64_t& p, bool id)
{
    if (!s.has(p, 1))
        return std::nullopt;
    const std::uint8_t first = s.u8(p);
    int length = 1;
    while (length <= 8 && !(first & (0x100 >> length)))
        ++length;
    if (length > (id ? 4 : 8) || !s.has(p, length))
        return std::nullopt;
    std::uint64_t v = id ? first : first & (0xFFu >> length);
    bool allOnes = v == (0xFFu >> length);
    for (int i = 1; i < length; ++i) {
        v = v << 8 | s.u8(p + i);
        allOnes &= s.u8(p + i) == 0xFF;
    }
    p += length;
    return !id && allOnes ? UINT64_MAX : v;
}

constexpr std::uint64_t kCluster = 0x1F43B675;
bool segmentChild(std::uint64_t id)
{
    static constexpr std::uint64_t kIds[] = {0x114D9B74, 0x1549A966, 0x1654AE6B, kCluster, 0x1C53BB6B,
                                             0x1941A469, 0x1043A770, 0x1254C367, 0xEC,     0xBF};
    return std::find(std::begin(kIds), std::end(kIds), id) != std::end(kIds);
}
bool clusterChild(std::uint64_t id)
{
    static constexpr std::uint64_t kIds[] = {0xE7, 0x5854, 0xA7, 0xAB, 0xA3, 0xA0, 0xAF, 0xEC, 0xBF};
    return std::find(std::begin(kIds), std::end(kIds), id) != std::end(kIds);
}

// Elements one after another from `p` while `belongs` takes their IDs;
// where the first one that does not starts. A cluster of unknown size (a
// live recording's) is walked the same way, one level down.
std::optional<std::uint64_t> ebmlRun(Source& s, std::uint64_t p, bool (*belongs)(std::uint64_t), bool& sawCluster)
{
    while (s.has(p, 2)) {
        std::uint64_t q = p;
        auto id = ebmlNumber(s, q, true);
        if (!id || !belongs(*id))
            break;
        auto size = ebmlNumber(s, q, false);
        if (!size)
            return std::nullopt;
        sawCluster |= *id == kCluster;
        if (*size == UINT64_MAX) {
            if (*id != kCluster || belongs != segmentChild)
                return std::nullopt;
            auto end = ebmlRun(s, q, clusterChild, sawCluster);
            if (!end)
                return std::nullopt;
            p = *end;
            continue;
        }
        if (!s.has(q, *size))
            return std::nullopt;
        p = q + *size;
    }
    return p;
}

} // namespace

Length flac(Source& s)
{
    if (!s.matches(0, "fLaC"))
        return std::nullopt;
    std::uint64_t p = 4, total = 0;
    unsigned streamBits = 0;
    for (bool last = false; !last;) {
        if (!s.has(p, 4) || (s.u8(p) & 0x7F) == 127)
            return std::nullopt;
        last = s.u8(p) & 0x80;
        const std::uint64_t type = s.u8(p) & 0x7F, length = s.be(p + 1, 3);
        if (p == 4 && (type != 0 || length != 34))
            return std::nullopt; // STREAMINFO comes first
        if (type == 0 && s.has(p + 4, 34)) {
            total = std::uint64_t{s.u8(p + 4 + 13) & 0x0Fu} << 32 | s.be(p + 4 + 14, 4);
            streamBits = ((s.u8(p + 4 + 12) & 1u) << 4 | s.u8(p + 4 + 13) >> 4) + 1;
        }
        p += 4 + length;
    }
    // Frames: each runs until the CRC-16 over it holds and the next frame's
    // header follows; the one that completes the stream's samples is read
    // through to its end.
    std::uint64_t samples = 0, frames = 0;
    for (auto frame = flacFrame(s, p); frame; ++frames) {
        samples += frame->samples;
        if (total != 0 && samples >= total)
            return flacFrameEnd(s, p, *frame, streamBits);
        std::uint16_t crc = 0;
        std::uint64_t q = p;
        std::optional<FlacFrame> next;
        for (int header = 0; header < 4; ++header)
            crc = crc16Step(crc, s.u8(q++));
        for (;;) {
            // No frame is anywhere near this long: not FLAC, or cut short.
            if (!s.has(q, 1) || q - p > (1u << 24))
                return std::nullopt;
            crc = crc16Step(crc, s.u8(q++));
            if (crc != 0)
                continue;
            if (total == 0 && !flacFrame(s, q))
                return q;
            if ((next = flacFrame(s, q)))
                break;
        }
        p = q;
        frame = next;
    }
    return std::nullopt;
}

Length matroska(Source& s, std::u16string& kind)
{
    std::uint64_t p = 0;
    auto id = ebmlNumber(s, p, true);
    auto size = ebmlNumber(s, p, false);
    if (!id || *id != 0x1A45DFA3 || !size || *size > 4096 || !s.has(p, *size))
        return std::nullopt;
    // The header's DocType says which of the two it is.
    const std::uint64_t headerEnd = p + *size;
    bool known = false;
    while (p < headerEnd) {
        auto child = ebmlNumber(s, p, true);
        auto length = ebmlNumber(s, p, false);
        if (!child || !length || *length > headerEnd - p)
            return std::nullopt;
        if (*child == 0x4282) {
            known = (*length >= 8 && s.matches(p, "matroska")) || (*length >= 4 && s.matches(p, "webm"));
            kind = s.matches(p, "webm") ? u"webm" : u"";
        }
        p += *length;
    }
    auto segment = ebmlNumber(s, p, true);
    auto segmentSize = ebmlNumber(s, p, false);
    if (!known || !segment || *segment != 0x18538067 || !segmentSize)
        return std::nullopt;
    if (*segmentSize != UINT64_MAX)
        return s.has(p, *segmentSize) ? Length(p + *segmentSize) : std::nullopt;
    // A segment of unknown size ends where its children stop.
    bool sawCluster = false;
    auto end = ebmlRun(s, p, segmentChild, sawCluster);
    return end && sawCluster ? end : std::nullopt;
}

Length mpegTransport(Source& s)
{
    // 188-byte packets, or 192 with a time code before each (Blu-ray, AVCHD).
    std::uint64_t stride = 0, sync = 0;
    if (s.has(0, 189) && s.u8(0) == 0x47 && s.u8(188) == 0x47)
        stride = 188;
    else if (s.has(0, 197) && s.u8(4) == 0x47 && s.u8(196) == 0x47)
        stride = 192, sync = 4;
    else
        return std::nullopt;
    std::uint64_t p = 0;
    while (s.has(p, stride) && s.u8(p + sync) == 0x47)
        p += stride;
    return p;
}

} // namespace qis::carve::validation
