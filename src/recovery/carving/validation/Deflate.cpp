#include "recovery/carving/validation/Deflate.h"

#include <zlib.h>

#include <array>

namespace qis::carve::validation {

namespace {

// Past this much output a stream is taken for a decompression bomb, not a
// file: ZIP entries and GZIP sizes of the common kind stay below it.
constexpr std::uint64_t kMostInflated = 4ull << 30;

// Inflates the raw deflate stream at `at` through zlib, keeping only the
// checksums of what it makes when asked. nullopt for anything that is not
// a valid stream ending within the source.
std::optional<DeflateOutput> inflateFrom(Source& s, std::uint64_t at, bool sums)
{
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return std::nullopt;
    struct Ender {
        z_stream& z;
        ~Ender() { inflateEnd(&z); }
    } ender{z};
    std::array<Bytef, 32768> out;
    uLong crc = crc32(0L, Z_NULL, 0), adler = adler32(0L, Z_NULL, 0);
    std::uint64_t produced = 0;
    for (std::uint64_t pos = at;;) {
        const std::span<const std::uint8_t> in = s.run(pos);
        if (in.empty())
            return std::nullopt; // the stream goes on past the source
        z.next_in = const_cast<Bytef*>(in.data());
        z.avail_in = static_cast<uInt>(in.size());
        for (;;) {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            const int r = inflate(&z, Z_NO_FLUSH);
            const std::size_t made = out.size() - z.avail_out;
            if (sums && made > 0) {
                crc = crc32(crc, out.data(), static_cast<uInt>(made));
                adler = adler32(adler, out.data(), static_cast<uInt>(made));
            }
            produced += made;
            if (r == Z_STREAM_END) {
                // zlib takes no byte past the one holding the stream's last bit.
                const std::uint64_t end = pos + (in.size() - z.avail_in);
                return DeflateOutput{{end, produced}, static_cast<std::uint32_t>(crc), static_cast<std::uint32_t>(adler)};
            }
            if ((r != Z_OK && r != Z_BUF_ERROR) || produced > kMostInflated)
                return std::nullopt;
            if (z.avail_in == 0 && z.avail_out != 0)
                break; // all of this run taken: the next
            if (r == Z_BUF_ERROR)
                return std::nullopt; // no progress with input and room: cannot happen, but never loop
        }
        pos += in.size();
    }
}

} // namespace

std::optional<DeflateExtent> walkDeflate(Source& s, std::uint64_t at)
{
    auto stream = inflateFrom(s, at, false);
    if (!stream)
        return std::nullopt;
    return stream->extent;
}

std::optional<DeflateOutput> inflateChecked(Source& s, std::uint64_t at) { return inflateFrom(s, at, true); }

} // namespace qis::carve::validation
