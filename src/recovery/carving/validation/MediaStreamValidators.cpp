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
    return crc == s.u8(q) ? std::optional<FlacFrame>(f) : std::nullopt;
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
    for (bool last = false; !last;) {
        if (!s.has(p, 4) || (s.u8(p) & 0x7F) == 127)
            return std::nullopt;
        last = s.u8(p) & 0x80;
        const std::uint64_t type = s.u8(p) & 0x7F, length = s.be(p + 1, 3);
        if (p == 4 && (type != 0 || length != 34))
            return std::nullopt; // STREAMINFO comes first
        if (type == 0 && s.has(p + 4, 34))
            total = std::uint64_t{s.u8(p + 4 + 13) & 0x0Fu} << 32 | s.be(p + 4 + 14, 4);
        p += 4 + length;
    }
    // Frames: each runs until the CRC-16 over it holds and the next frame's
    // header (or, once the stream's samples are all there, the end) follows.
    std::uint64_t samples = 0, frames = 0;
    for (auto frame = flacFrame(s, p); frame; ++frames) {
        samples += frame->samples;
        const bool final = total != 0 && samples >= total;
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
            if (final || (total == 0 && !flacFrame(s, q)))
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
