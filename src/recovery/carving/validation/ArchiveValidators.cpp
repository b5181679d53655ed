#include "recovery/carving/validation/Validators.h"

#include "recovery/carving/validation/Deflate.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace qis::carve::validation {
namespace {

// What an archive's entries say it is: an office document, an e-book, an
// Android or Java archive, or none of those (empty).
std::u16string zipKind(Source& s, std::uint64_t directory, std::uint64_t entries)
{
    static constexpr std::pair<std::string_view, std::u16string_view> kByEntry[] = {
        {"word/", u"docx"}, {"xl/", u"xlsx"}, {"ppt/", u"pptx"}};
    static constexpr std::pair<std::string_view, std::u16string_view> kByMimetype[] = {
        {"application/vnd.oasis.opendocument.text", u"odt"},
        {"application/vnd.oasis.opendocument.spreadsheet", u"ods"},
        {"application/vnd.oasis.opendocument.presentation", u"odp"},
        {"application/vnd.oasis.opendocument.graphics", u"odg"},
        {"application/epub+zip", u"epub"}};
    // OpenDocument and EPUB packages store their type, uncompressed, as the
    // first entry.
    if (s.matches(30, "mimetype"))
        for (const auto& [type, ext] : kByMimetype)
            if (s.matches(38, type))
                return std::u16string(ext);
    // An Android package is a signed Java archive too, so the manifest alone
    // does not tell them apart: the whole directory is read first.
    bool manifest = false, androidManifest = false, dex = false;
    std::uint64_t p = directory;
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(entries, 4096) && s.has(p, 46) && s.matches(p, "PK\x01\x02"); ++i) {
        const std::uint64_t name = s.le(p + 28, 2), extra = s.le(p + 30, 2), comment = s.le(p + 32, 2);
        for (const auto& [prefix, ext] : kByEntry)
            if (name >= prefix.size() && s.matches(p + 46, prefix))
                return std::u16string(ext);
        auto is = [&](std::string_view entry) { return name == entry.size() && s.matches(p + 46, entry); };
        manifest = manifest || is("META-INF/MANIFEST.MF");
        androidManifest = androidManifest || is("AndroidManifest.xml");
        dex = dex || is("classes.dex");
        p += 46 + name + extra + comment;
    }
    if (androidManifest && dex)
        return u"apk";
    return manifest ? u"jar" : u"";
}

// Where the central directory of an archive too large for the end record's
// 32-bit fields ends and starts: the ZIP64 end record, which the locator
// just before the end record points at, holds the 64-bit values.
std::optional<std::pair<std::uint64_t, std::uint64_t>> zip64Directory(Source& s, std::uint64_t end)
{
    if (end < 20 || !s.matches(end - 20, "PK\x06\x07"))
        return std::nullopt;
    const std::uint64_t record = s.le(end - 20 + 8, 8);
    if (record > end - 20 || !s.has(record, 56) || !s.matches(record, "PK\x06\x06"))
        return std::nullopt;
    const std::uint64_t size = s.le(record + 40, 8), offset = s.le(record + 48, 8);
    if (offset > record || size != record - offset)
        return std::nullopt;
    return std::pair{offset, s.le(record + 32, 8)};
}

// Whether the end record at `end` closes this very archive with foreign
// bytes inside it (a fragmented one): the directory right before it lists
// first the entry the archive begins with, by its offset 0, name, CRC-32
// and size. Then no end record further on can close the archive in one
// run, and the search for one stops instead of reading up to the limit.
// An archive stored inside this one has its own first entry, which may
// share the name but not also the CRC-32 and size.
bool closesThisArchiveCut(Source& s, std::uint64_t end, std::uint64_t size)
{
    if (size < 46 || size > end || (s.le(6, 2) & 0x08) != 0) // sizes in a descriptor after the data: unknown here
        return false;
    const std::uint64_t d = end - size, name = s.le(26, 2);
    if (!s.matches(d, "PK\x01\x02") || s.le(d + 42, 4) != 0 || s.le(d + 28, 2) != name || name == 0 ||
        s.le(d + 16, 4) != s.le(14, 4) || s.le(d + 20, 4) != s.le(18, 4))
        return false;
    for (std::uint64_t k = 0; k < name; ++k)
        if (s.u8(d + 46 + k) != s.u8(30 + k))
            return false;
    return true;
}

} // namespace

Length zip(Source& s, std::u16string& kind)
{
    if (!s.matches(0, "PK\x03\x04"))
        return std::nullopt;
    // The end record says where its central directory is; the one whose
    // directory ends right before it closes this archive.
    for (std::uint64_t from = 4;;) {
        auto end = s.find("PK\x05\x06", from);
        if (!end || !s.has(*end, 22))
            return std::nullopt;
        const std::uint64_t size = s.le(*end + 12, 4), offset = s.le(*end + 16, 4);
        std::optional<std::pair<std::uint64_t, std::uint64_t>> directory;
        if (offset + size == *end)
            directory = std::pair{offset, s.le(*end + 10, 2)};
        else if (offset == 0xFFFFFFFF || size == 0xFFFFFFFF || s.le(*end + 10, 2) == 0xFFFF)
            directory = zip64Directory(s, *end);
        if (directory) {
            const std::uint64_t length = *end + 22 + s.le(*end + 20, 2);
            if (!s.has(0, length))
                return std::nullopt;
            kind = zipKind(s, directory->first, directory->second);
            return length;
        }
        if (closesThisArchiveCut(s, *end, size))
            return std::nullopt;
        from = *end + 1;
    }
}

Length sevenZip(Source& s)
{
    if (!s.matches(0, "7z\xBC\xAF\x27\x1C") || !s.has(0, 32))
        return std::nullopt;
    const std::uint64_t offset = s.le(12, 8), size = s.le(20, 8);
    if (offset > s.limit() || size > s.limit() || size == 0)
        return std::nullopt;
    const std::uint64_t length = 32 + offset + size;
    return s.has(0, length) ? Length(length) : std::nullopt;
}

Length gzip(Source& s)
{
    if (!s.matches(0, "\x1F\x8B\x08") || !s.has(0, 10))
        return std::nullopt;
    const std::uint8_t flags = s.u8(3);
    if (flags & 0xE0)
        return std::nullopt;
    std::uint64_t p = 10;
    if (flags & 0x04) { // extra field
        if (!s.has(p, 2))
            return std::nullopt;
        p += 2 + s.le(p, 2);
    }
    for (std::uint8_t text : {std::uint8_t{0x08}, std::uint8_t{0x10}}) // name, comment
        if (flags & text) {
            auto zero = s.findByte(0, p);
            if (!zero)
                return std::nullopt;
            p = *zero + 1;
        }
    if (flags & 0x02)
        p += 2; // header CRC
    auto stream = walkDeflate(s, p);
    // The trailer's length (modulo 2^32) must be what the stream made.
    if (!stream || !s.has(stream->end, 8) || s.le(stream->end + 4, 4) != (stream->inflated & 0xFFFFFFFF))
        return std::nullopt;
    return stream->end + 8;
}

Length sqlite(Source& s)
{
    if (!s.matches(0, std::string_view("SQLite format 3\0", 16)) || !s.has(0, 100))
        return std::nullopt;
    std::uint64_t page = s.be(16, 2);
    if (page == 1)
        page = 65536;
    const std::uint64_t pages = s.be(28, 4);
    if (page < 512 || (page & (page - 1)) != 0 || pages == 0 || s.be(92, 4) != s.be(24, 4))
        return std::nullopt;
    const std::uint64_t length = page * pages;
    return s.has(0, length) ? Length(length) : std::nullopt;
}

} // namespace qis::carve::validation
