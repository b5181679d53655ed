#include "recovery/carving/validation/Crc32Ieee.h"

#include <zlib.h>

#include <algorithm>

namespace qis::carve::validation {

std::uint32_t crc32Ieee(Source& s, std::uint64_t at, std::uint64_t n, std::uint32_t before)
{
    uLong c = before;
    for (std::span<const std::uint8_t> bytes; n > 0 && !(bytes = s.run(at)).empty();) {
        const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes.size()));
        c = crc32(c, bytes.data(), static_cast<uInt>(k));
        at += k;
        n -= k;
    }
    return static_cast<std::uint32_t>(c);
}

std::uint32_t crc32Combine(std::uint32_t first, std::uint32_t second, std::uint64_t secondLength)
{
    return static_cast<std::uint32_t>(crc32_combine64(first, second, static_cast<z_off64_t>(secondLength)));
}

} // namespace qis::carve::validation
