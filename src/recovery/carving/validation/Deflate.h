#pragma once

#include "recovery/carving/validation/Crc32Ieee.h"
#include "recovery/carving/validation/ValidationSource.h"

#include <cstdint>
#include <optional>

namespace qis::carve::validation {

// Where a deflate stream ends and what it makes.
struct DeflateExtent {
    std::uint64_t end = 0;      // the offset just past the stream's last byte
    std::uint64_t inflated = 0; // how many bytes it inflates to
};

// Walks the deflate stream (RFC 1951) that starts at `at` without keeping
// what it inflates: enough to know where it ends and how long its output
// is. nullopt for anything that is not a valid stream within the source.
std::optional<DeflateExtent> walkDeflate(Source& s, std::uint64_t at);

// The same, inflating the stream for real (a 32 KiB window) to give the
// checksums of what it makes: the CRC-32 a ZIP entry records, the Adler-32
// that ends a zlib stream (a PDF's deflated streams).
struct DeflateOutput {
    DeflateExtent extent;
    std::uint32_t crc = 0;
    std::uint32_t adler = 0;
};
std::optional<DeflateOutput> inflateChecked(Source& s, std::uint64_t at);

} // namespace qis::carve::validation
