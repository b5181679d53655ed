#include "recovery/carving/validation/Validators.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace qis::carve::validation {
namespace {

// Camera raw files are TIFF underneath; what a file is shows in its header
// (Canon's "CR", Olympus' and Panasonic's own magic numbers), in a DNG
// version tag, or in the maker's name.
std::u16string rawKind(Source& s, bool dng, std::uint64_t makeAt, std::uint64_t makeBytes)
{
    if (s.matches(8, "CR"))
        return u"cr2";
    if (s.matches(2, "RO") || s.matches(2, "RS"))
        return u"orf";
    if (s.matches(2, std::string_view("U\0", 2)))
        return u"rw2";
    if (dng)
        return u"dng";
    if (makeBytes >= 17 && s.matches(makeAt, "NIKON CORPORATION"))
        return u"nef";
    if (makeBytes >= 4 && s.matches(makeAt, "SONY"))
        return u"arw";
    return {};
}

} // namespace

Length tiff(Source& s, std::u16string& kind)
{
    const bool little = s.matches(0, "II");
    if (!s.has(0, 8) || (!little && !s.matches(0, "MM")))
        return std::nullopt;
    auto num = [&](std::uint64_t at, int bytes) -> std::uint64_t { return little ? s.le(at, bytes) : s.be(at, bytes); };
    const std::uint64_t magic = num(2, 2);
    if (magic != 42 && !(little && (magic == 0x4F52 || magic == 0x5352 || magic == 0x55)))
        return std::nullopt;
    static constexpr std::uint64_t kTypeBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    std::uint64_t end = 8;
    bool dng = false;
    std::uint64_t makeAt = 0, makeBytes = 0;
    // Every directory: the chain from the header, and those its entries
    // point to (sub-images where raw files keep their sensor data, the EXIF
    // and GPS directories); each read once, at most 256 of them.
    std::vector<std::uint64_t> pending{num(4, 4)}, seen;
    while (!pending.empty() && seen.size() < 256) {
        const std::uint64_t ifd = pending.back();
        pending.pop_back();
        if (ifd == 0 || std::find(seen.begin(), seen.end(), ifd) != seen.end())
            continue;
        seen.push_back(ifd);
        if (ifd < 8 || !s.has(ifd, 2))
            return std::nullopt;
        const std::uint64_t count = num(ifd, 2);
        if (count == 0 || !s.has(ifd + 2, count * 12 + 4))
            return std::nullopt;
        end = std::max(end, ifd + 2 + count * 12 + 4);
        // Strips, tiles and the thumbnail: offsets and byte counts come in
        // pairs of tags.
        std::vector<std::uint64_t> offsets, sizes;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t e = ifd + 2 + i * 12;
            const std::uint64_t tag = num(e, 2), type = num(e + 2, 2), n = num(e + 4, 4);
            if (type == 0 || type > 13 || n > (1u << 24))
                return std::nullopt;
            const std::uint64_t width = kTypeBytes[type], bytes = width * n;
            const std::uint64_t where = bytes > 4 ? num(e + 8, 4) : e + 8;
            if (bytes > 4)
                end = std::max(end, where + bytes);
            auto values = [&](std::vector<std::uint64_t>& into, std::uint64_t most) {
                // Bounded, however many entries repeat a tag.
                for (std::uint64_t k = 0; k < std::min(n, most) && into.size() < (1u << 20) && s.has(where + k * width, width); ++k)
                    into.push_back(num(where + k * width, static_cast<int>(width)));
            };
            const bool pointers = width == 2 || width == 4;
            if (tag == 273 || tag == 324 || tag == 279 || tag == 325 || tag == 513 || tag == 514) {
                // More strips than any image has are damage, not a picture.
                if (!pointers || n > (1u << 20))
                    return std::nullopt;
                values((tag == 273 || tag == 324 || tag == 513) ? offsets : sizes, n);
            } else if ((tag == 330 || tag == 34665 || tag == 34853 || tag == 40965) && pointers) {
                if (pending.size() < 1024)
                    values(pending, 64);
            } else if (tag == 50706) {
                dng = true;
            } else if (tag == 271 && type == 2) {
                makeAt = where;
                makeBytes = bytes;
            }
        }
        if (offsets.size() != sizes.size())
            return std::nullopt;
        for (std::size_t k = 0; k < offsets.size(); ++k)
            end = std::max(end, offsets[k] + sizes[k]);
        pending.push_back(num(ifd + 2 + count * 12, 4));
    }
    if (!s.has(0, end))
        return std::nullopt;
    kind = rawKind(s, dng, makeAt, makeBytes);
    return end;
}

} // namespace qis::carve::validation
