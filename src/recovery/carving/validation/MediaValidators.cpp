#include "recovery/carving/validation/Validators.h"

#include <string_view>

namespace qis::carve::validation {
namespace {

// One MPEG audio frame's length from its header, 0 when it is none.
std::uint64_t mpegAudioFrame(std::uint32_t h)
{
    static constexpr std::uint16_t kBitrates[2][3][16] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
    static constexpr std::uint32_t kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000},
                                                   {44100, 48000, 32000}};
    if ((h >> 21) != 0x7FF)
        return 0;
    const unsigned version = (h >> 19) & 3, layer = (h >> 17) & 3, bitrate = (h >> 12) & 15, rate = (h >> 10) & 3;
    const unsigned padding = (h >> 9) & 1;
    if (version == 1 || layer == 0 || bitrate == 0 || bitrate == 15 || rate == 3)
        return 0;
    const bool mpeg1 = version == 3;
    const unsigned layerIndex = 3 - layer; // 0 layer I, 1 layer II, 2 layer III
    const std::uint64_t kbps = kBitrates[mpeg1 ? 0 : 1][layerIndex][bitrate];
    const std::uint64_t hz = kRates[version][rate];
    if (layerIndex == 0)
        return (12 * kbps * 1000 / hz + padding) * 4;
    const std::uint64_t factor = layerIndex == 2 && !mpeg1 ? 72 : 144;
    return factor * kbps * 1000 / hz + padding;
}

} // namespace

Length riff(Source& s)
{
    if (!s.matches(0, "RIFF") || !s.has(0, 12))
        return std::nullopt;
    std::uint64_t size = s.le(4, 4) + 8;
    size += size & 1;
    return size > 12 && s.has(0, size) ? Length(size) : std::nullopt;
}

Length isoBoxes(Source& s)
{
    static constexpr std::string_view kTopLevel[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta",
                                                      "pdin", "moof", "mfra", "styp", "sidx", "ssix", "prft", "udta",
                                                      "pnot", "junk", "emsg", "PICT"};
    if (!s.matches(4, "ftyp"))
        return std::nullopt;
    std::uint64_t p = 0;
    bool movie = false;
    while (s.has(p, 8)) {
        std::uint64_t size = s.be(p, 4);
        bool known = false;
        for (std::string_view type : kTopLevel)
            known |= s.matches(p + 4, type);
        if (!known)
            break;
        // A movie has its movie box; a still picture (HEIF, AVIF) its meta box.
        movie |= s.matches(p + 4, "moov") || s.matches(p + 4, "meta");
        if (size == 1) {
            if (!s.has(p, 16))
                return std::nullopt;
            size = std::uint64_t{s.be(p + 8, 4)} << 32 | s.be(p + 12, 4);
        }
        if (size < 8 || !s.has(p, size))
            return std::nullopt;
        p += size;
    }
    return movie && p > 0 ? Length(p) : std::nullopt;
}

Length mp3(Source& s)
{
    if (!s.matches(0, "ID3") || !s.has(0, 10) || s.u8(3) < 2 || s.u8(3) > 4)
        return std::nullopt;
    std::uint64_t tag = 0;
    for (int i = 6; i < 10; ++i) {
        if (s.u8(i) & 0x80)
            return std::nullopt;
        tag = tag << 7 | s.u8(i);
    }
    std::uint64_t p = 10 + tag + ((s.u8(5) & 0x10) ? 10 : 0);
    // Some writers pad the tag with zeros past its stated size.
    while (s.has(p, 1) && s.u8(p) == 0)
        ++p;
    std::uint64_t frames = 0;
    while (s.has(p, 4)) {
        const std::uint64_t length = mpegAudioFrame(s.be(p, 4));
        if (length < 4 || !s.has(p, length))
            break;
        p += length;
        ++frames;
    }
    if (frames < 2)
        return std::nullopt;
    if (s.matches(p, "TAG") && s.has(p, 128))
        p += 128;
    return p;
}

Length ogg(Source& s)
{
    std::uint64_t p = 0;
    while (s.matches(p, "OggS") && s.has(p, 27) && s.u8(p + 4) == 0) {
        const std::uint8_t type = s.u8(p + 5);
        const std::uint8_t segments = s.u8(p + 26);
        if (!s.has(p, 27 + std::uint64_t{segments}))
            return std::nullopt;
        std::uint64_t body = 0;
        for (unsigned i = 0; i < segments; ++i)
            body += s.u8(p + 27 + i);
        p += 27 + segments + body;
        if (!s.has(0, p))
            return std::nullopt;
        if (type & 0x04)
            return p; // the last page of the stream
    }
    return std::nullopt;
}

Length mpegProgram(Source& s)
{
    std::uint64_t p = 0;
    std::uint64_t packs = 0;
    while (s.has(p, 6) && s.matches(p, std::string_view("\0\0\1", 3))) {
        const std::uint8_t code = s.u8(p + 3);
        if (code == 0xB9)
            return p + 4;
        if (code == 0xBA) {
            const std::uint8_t b = s.u8(p + 4);
            if ((b & 0xC0) == 0x40) {
                if (!s.has(p, 14))
                    return std::nullopt;
                p += 14 + (s.u8(p + 13) & 7);
            } else if ((b & 0xF0) == 0x20) {
                p += 12;
            } else {
                return std::nullopt;
            }
            ++packs;
        } else if (code >= 0xBB) {
            p += 6 + std::uint64_t{s.be(p + 4, 2)};
        } else {
            break;
        }
    }
    // A stream cut short of its end code ends where its packs stop.
    return packs >= 2 && s.has(0, p) ? Length(p) : std::nullopt;
}

} // namespace qis::carve::validation
