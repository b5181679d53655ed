#include "recovery/carving/validation/MultiPicture.h"

#include <algorithm>
#include <string_view>

namespace qis::carve::validation {

std::optional<std::uint64_t> multiPictureEnd(Source& s, std::uint64_t header)
{
    const bool little = s.matches(header, std::string_view("II\x2A\0", 4));
    if (!little && !s.matches(header, std::string_view("MM\0\x2A", 4)))
        return std::nullopt;
    auto num = [&](std::uint64_t at, int bytes) -> std::uint64_t { return little ? s.le(at, bytes) : s.be(at, bytes); };
    const std::uint64_t ifd = header + num(header + 4, 4);
    if (!s.has(ifd, 2))
        return std::nullopt;
    const std::uint64_t count = num(ifd, 2);
    if (!s.has(ifd + 2, count * 12))
        return std::nullopt;
    std::optional<std::uint64_t> end;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t e = ifd + 2 + i * 12;
        // MPEntry (0xB002): 16 bytes per image, UNDEFINED (7).
        if (num(e, 2) != 0xB002 || num(e + 2, 2) != 7)
            continue;
        const std::uint64_t bytes = num(e + 4, 4);
        const std::uint64_t entries = header + num(e + 8, 4);
        // The first entry is the primary image itself (offset 0); the
        // others hold individual image size, then data offset.
        for (std::uint64_t k = 1; k < std::min<std::uint64_t>(bytes / 16, 256); ++k) {
            const std::uint64_t entry = entries + k * 16;
            if (!s.has(entry, 16))
                break;
            const std::uint64_t size = num(entry + 4, 4), offset = num(entry + 8, 4);
            const std::uint64_t image = header + offset;
            if (offset == 0 || size < 4 || !s.has(image, size) || !s.matches(image, "\xFF\xD8") ||
                !s.matches(image + size - 2, "\xFF\xD9"))
                continue;
            end = std::max(end.value_or(0), image + size);
        }
    }
    return end;
}

} // namespace qis::carve::validation
