#include "recovery/carving/Bifragment.h"

#include "recovery/carving/BudgetedReader.h"
#include "recovery/carving/validation/Crc32Ieee.h"
#include "recovery/carving/validation/Deflate.h"
#include "recovery/carving/validation/JpegEntropy.h"
#include "recovery/carving/validation/ValidationSource.h"

#include <algorithm>
#include <string_view>

namespace qis::carve {
namespace {

using validation::JpegDecode;
using validation::JpegDecoder;
using validation::Source;

enum class Kind { None, Jpeg, Zip, Pdf };

// Checking a split inside a ZIP entry or a PDF object reads the whole entry
// or object again: the splits tried are as many as this many bytes of such
// work allow (and at least a few), so a huge entry cannot take hours.
constexpr std::uint64_t kWorkPerFile = 256ull << 20;

std::uint64_t splitsAllowed(std::uint64_t bytesPerTry)
{
    return std::max<std::uint64_t>(16, kWorkPerFile / std::max<std::uint64_t>(bytesPerTry, 1));
}

Kind kindOf(const std::u16string& extension)
{
    std::u16string ext = extension;
    for (char16_t& c : ext)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    for (std::u16string_view e : {u"jpg", u"jpeg", u"jpe", u"jfif"})
        if (ext == e)
            return Kind::Jpeg;
    for (std::u16string_view e : {u"zip", u"docx", u"xlsx", u"pptx", u"odt", u"ods", u"odp", u"jar"})
        if (ext == e)
            return Kind::Zip;
    if (ext == u"pdf")
        return Kind::Pdf;
    return Kind::None;
}

// The file's first `split` bytes from `start`, the rest `gap` bytes further on.
FileLayout twoPieces(std::uint64_t start, std::uint64_t limit, std::uint64_t split, std::uint64_t gap)
{
    return {{start, split}, {start + split + gap, limit - split - gap}};
}

// The layout checked whole by the kind's validator, cut to what it finds.
std::optional<Bifragment> confirmed(const std::u16string& extension, readWriteInterface& disk, const FileLayout& layout)
{
    auto v = validateFile(extension, disk, layout);
    if (!v || v->length <= layout.front().length)
        return std::nullopt;
    return Bifragment{layoutPrefix(layout, v->length), std::move(*v)};
}

// The layout without its first `skip` bytes.
FileLayout layoutAfter(const FileLayout& layout, std::uint64_t skip)
{
    FileLayout out;
    for (const CarvedPiece& p : layout) {
        if (skip >= p.length) {
            skip -= p.length;
            continue;
        }
        out.push_back({p.offset + skip, p.length - skip});
        skip = 0;
    }
    return out;
}

// A split inside an APPn segment (EXIF) leaves its bytes unchecked by the
// scan decoding; a thumbnail JPEG inside it must decode whole too.
bool embeddedWhole(readWriteInterface& disk, const FileLayout& layout, std::uint64_t segment)
{
    Source s(disk, layout);
    if (!s.has(segment, 4) || s.u8(segment) != 0xFF || s.u8(segment + 1) < 0xE0 || s.u8(segment + 1) > 0xEF)
        return true;
    const std::uint64_t end = segment + 2 + s.be(segment + 2, 2);
    auto thumbnail = s.find("\xFF\xD8\xFF", segment + 4);
    if (!thumbnail || *thumbnail >= end)
        return true;
    Source inner(disk, layoutPrefix(layoutAfter(layout, *thumbnail), end - *thumbnail));
    return JpegDecoder(inner).run().whole;
}

// How far apart the decoder's copies are kept while a JPEG is decoded up to
// where it breaks (each is about 11 KiB).
constexpr std::uint64_t kSnapshotEvery = 256 * 1024;

// JPEG: the scans are decoded until they break; the split is a block
// boundary at or a little before the break, and the gap the first whole
// number of blocks after which decoding goes on sensibly for a margin and
// then to the end of image.
std::optional<Bifragment> jpegPieces(const std::u16string& extension, BudgetedReader& disk, std::uint64_t start,
                                     std::uint64_t limit, const FragmentSearch& search, std::uint64_t& candidates)
{
    Source whole(disk, start, limit);
    JpegDecoder first(whole);
    // Copies of the decoder on the way, so the checkpoints before each
    // split are found without decoding from the start again.
    std::vector<JpegDecoder> snapshots;
    const JpegDecode one = JpegDecoder(first).run(snapshots, kSnapshotEvery);
    if (one.whole || one.brokeAt == 0)
        return std::nullopt;
    constexpr std::uint64_t kSplitsTried = 8, kMostSplits = 256;
    for (std::uint64_t block : search.blockSizes) {
        if (block == 0)
            continue;
        const std::uint64_t top = one.brokeAt / block * block;
        // The last few boundaries, or all within the segment that broke;
        // each with a decoder ready to go on from it.
        const std::uint64_t lowest = std::min(one.segmentStart, top - std::min(top, kSplitsTried * block));
        std::vector<std::uint64_t> offsets;
        for (std::uint64_t split = top; split > lowest && split > 0 && offsets.size() < kMostSplits; split -= block)
            offsets.push_back(split);
        std::reverse(offsets.begin(), offsets.end());
        if (offsets.empty())
            continue;
        const JpegDecoder* resumed = &first;
        for (const JpegDecoder& snapshot : snapshots)
            if (snapshot.position() <= offsets.front())
                resumed = &snapshot;
        const std::vector<JpegDecoder> checkpoints = resumed->checkpointsBefore(offsets);
        std::vector<std::pair<std::uint64_t, JpegDecoder>> splits;
        for (std::size_t i = offsets.size(); i-- > 0;)
            splits.emplace_back(offsets[i], checkpoints[i]);
        // Smaller gaps first, over every split: files are most often
        // written around something small.
        const std::uint64_t margin = 2 * block;
        for (std::uint64_t g = 1; g <= search.maxGapBlocks && g * block <= search.maxGapBytes; ++g) {
            const std::uint64_t gap = g * block;
            for (const auto& [split, from] : splits) {
                if (split + gap >= limit)
                    continue;
                if (++candidates > search.fileCandidates)
                    return std::nullopt;
                const FileLayout layout = twoPieces(start, limit, split, gap);
                Source pieces(disk, layout);
                JpegDecoder d = from;
                d.rebind(pieces);
                JpegDecode r = d.run(split + margin);
                if (r.reached)
                    r = d.run();
                if (!r.whole || !embeddedWhole(disk, layout, one.segmentStart))
                    continue;
                if (auto found = confirmed(extension, disk, layout))
                    return found;
            }
        }
    }
    return std::nullopt;
}

// One entry of a ZIP's central directory, as far as finding the split goes.
struct ZipEntry {
    std::uint64_t local = 0; // the local header's offset in the file
    std::uint64_t compressed = 0;
    std::uint32_t crc = 0;
    std::uint16_t method = 0, flags = 0;
    std::string name;
};

std::vector<ZipEntry> readDirectory(Source& s, std::uint64_t at, std::uint64_t size, std::uint64_t count)
{
    std::vector<ZipEntry> entries;
    const std::uint64_t end = at + size;
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(count, 65536) && at + 46 <= end; ++i) {
        if (!s.matches(at, "PK\x01\x02"))
            return {};
        ZipEntry e;
        e.flags = static_cast<std::uint16_t>(s.le(at + 8, 2));
        e.method = static_cast<std::uint16_t>(s.le(at + 10, 2));
        e.crc = static_cast<std::uint32_t>(s.le(at + 16, 4));
        e.compressed = s.le(at + 20, 4);
        const std::uint64_t name = s.le(at + 28, 2), extra = s.le(at + 30, 2), comment = s.le(at + 32, 2);
        e.local = s.le(at + 42, 4);
        for (std::uint64_t k = 0; k < std::min<std::uint64_t>(name, 1024); ++k)
            e.name.push_back(static_cast<char>(s.u8(at + 46 + k)));
        entries.push_back(std::move(e));
        at += 46 + name + extra + comment;
    }
    std::sort(entries.begin(), entries.end(), [](const ZipEntry& a, const ZipEntry& b) { return a.local < b.local; });
    return entries;
}

bool localHeaderAt(Source& s, std::uint64_t at, const ZipEntry& e)
{
    return s.matches(at, "PK\x03\x04") && s.le(at + 26, 2) == e.name.size() && s.matches(at + 30, e.name);
}

// Where the entry's data begins, from its local header in the source.
std::uint64_t entryData(Source& s, const ZipEntry& e) { return e.local + 30 + s.le(e.local + 26, 2) + s.le(e.local + 28, 2); }

// Whether the entry's data reads right through the source: its CRC-32 over
// the stored bytes, or over what its deflate stream makes.
bool entryChecks(Source& s, const ZipEntry& e)
{
    if (!localHeaderAt(s, e.local, e) || (e.flags & 1) != 0)
        return false;
    const std::uint64_t data = entryData(s, e);
    if (!s.has(data, e.compressed))
        return false;
    if (e.method == 0)
        return validation::crc32Ieee(s, data, e.compressed) == e.crc;
    if (e.method != 8)
        return false;
    auto out = validation::inflateChecked(s, data);
    return out && out->extent.end == data + e.compressed && out->crc == e.crc;
}

// For an entry stored as it is, split at each of `splits` (ascending):
// whether its bytes, the first piece's up to the split and the rest's
// after it, make its CRC-32. Each piece is read once, the CRC-32s of the
// stretches between splits put together, where checking each split on
// its own would read the whole entry again. Empty when the entry is not
// one to do this for (then each split is checked on its own).
std::vector<bool> storedSplitsCheck(Source& whole, Source& after, const ZipEntry& e,
                                    const std::vector<std::uint64_t>& splits)
{
    using validation::crc32Combine;
    using validation::crc32Ieee;
    if (e.method != 0 || (e.flags & 1) != 0 || splits.empty() || !localHeaderAt(whole, e.local, e))
        return {};
    const std::uint64_t data = entryData(whole, e), end = data + e.compressed;
    if (splits.front() <= data || splits.back() >= end || !whole.has(data, splits.back() - data) ||
        !after.has(splits.front(), end - splits.front()))
        return {};
    const std::size_t n = splits.size();
    // From the back: the CRC-32 of the rest's bytes from each split to the end.
    std::vector<std::uint32_t> rest(n);
    rest[n - 1] = crc32Ieee(after, splits[n - 1], end - splits[n - 1]);
    for (std::size_t i = n - 1; i-- > 0;)
        rest[i] = crc32Combine(crc32Ieee(after, splits[i], splits[i + 1] - splits[i]), rest[i + 1], end - splits[i + 1]);
    std::vector<bool> ok(n);
    std::uint32_t first = crc32Ieee(whole, data, splits[0] - data);
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0)
            first = crc32Ieee(whole, splits[i - 1], splits[i] - splits[i - 1], first);
        ok[i] = crc32Combine(first, rest[i], end - splits[i]) == e.crc;
    }
    return ok;
}

// ZIP: an end record found after the start says where its directory
// should end; the distance to where it stands is the gap. The directory
// (after the gap) gives each local header's offset: the first not in place
// lies after the split, which is the block boundary inside the entry before
// it that makes that entry's CRC-32 right.
std::optional<Bifragment> zipAround(const std::u16string& extension, BudgetedReader& disk, std::uint64_t start,
                                    std::uint64_t limit, const FragmentSearch& search, std::uint64_t gap,
                                    std::uint64_t directory, std::uint64_t directorySize, std::uint64_t count,
                                    std::uint64_t& candidates)
{
    Source whole(disk, start, limit);
    // The directory lies after the split: read it past the gap.
    if (directory + gap >= limit)
        return std::nullopt;
    Source after(disk, FileLayout{{start + gap, limit - gap}});
    const std::vector<ZipEntry> entries = readDirectory(after, directory, directorySize, count);
    if (entries.empty() || entries.front().local != 0)
        return std::nullopt;
    std::size_t moved = 0;
    while (moved < entries.size() && localHeaderAt(whole, entries[moved].local, entries[moved]))
        ++moved;
    if (moved == 0 || (moved < entries.size() && !localHeaderAt(after, entries[moved].local, entries[moved])))
        return std::nullopt;
    const ZipEntry& cut = entries[moved - 1];
    const std::uint64_t lastPossible = moved < entries.size() ? entries[moved].local : directory;
    std::uint64_t allowed = splitsAllowed(cut.compressed);
    for (std::uint64_t block : search.blockSizes) {
        if (block == 0 || gap % block != 0)
            continue;
        std::vector<std::uint64_t> splits;
        bool spent = false;
        for (std::uint64_t split = (cut.local / block + 1) * block; split <= lastPossible; split += block) {
            if (++candidates > search.fileCandidates || allowed-- == 0) {
                spent = true;
                break;
            }
            splits.push_back(split);
        }
        const std::vector<bool> stored = storedSplitsCheck(whole, after, cut, splits);
        for (std::size_t i = 0; i < splits.size(); ++i) {
            const FileLayout layout = twoPieces(start, limit, splits[i], gap);
            Source pieces(disk, layout);
            if (stored.empty() ? !entryChecks(pieces, cut) : !stored[i])
                continue;
            if (auto found = confirmed(extension, disk, layout))
                return found;
        }
        if (spent)
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Bifragment> zipPieces(const std::u16string& extension, BudgetedReader& disk, std::uint64_t start,
                                    std::uint64_t limit, const FragmentSearch& search, std::uint64_t& candidates)
{
    Source whole(disk, start, limit);
    if (!whole.matches(0, "PK\x03\x04"))
        return std::nullopt;
    // Another archive may lie in the gap: its end record comes first.
    constexpr int kEndRecordsTried = 4;
    std::uint64_t from = 4;
    for (int tried = 0; tried < kEndRecordsTried;) {
        auto end = whole.find("PK\x05\x06", from);
        if (!end || !whole.has(*end, 22) || *end > search.maxGapBytes + (std::uint64_t{1} << 32))
            return std::nullopt;
        from = *end + 1;
        const std::uint64_t size = whole.le(*end + 12, 4), directory = whole.le(*end + 16, 4);
        if (directory + size >= *end || *end - (directory + size) > search.maxGapBytes ||
            (*end - (directory + size)) % kSectorSize != 0)
            continue;
        ++tried;
        if (auto found = zipAround(extension, disk, start, limit, search, *end - (directory + size), directory, size,
                                   whole.le(*end + 10, 2), candidates))
            return found;
    }
    return std::nullopt;
}

// PDF: the cross-reference table says where each object starts.
struct PdfObject {
    std::uint64_t offset = 0;
    std::uint64_t number = 0;
};

std::optional<std::uint64_t> decimal(Source& s, std::uint64_t& at, int maxDigits = 12)
{
    std::uint64_t v = 0;
    int n = 0;
    while (n < maxDigits && s.has(at, 1) && s.u8(at) >= '0' && s.u8(at) <= '9') {
        v = v * 10 + (s.u8(at) - '0');
        ++at;
        ++n;
    }
    return n == 0 ? std::nullopt : std::optional<std::uint64_t>(v);
}

void skipSpace(Source& s, std::uint64_t& at)
{
    for (int n = 0; n < 64 && s.has(at, 1); ++n, ++at) {
        const std::uint8_t c = s.u8(at);
        if (c != ' ' && c != '\r' && c != '\n' && c != '\t')
            return;
    }
}

// The in-use objects of the classic table at `at` ("xref", sections of
// 20-byte entries), by offset.
std::vector<PdfObject> readXref(Source& s, std::uint64_t at)
{
    std::vector<PdfObject> objects;
    if (!s.matches(at, "xref"))
        return {};
    at += 4;
    for (int sections = 0; sections < 1024; ++sections) {
        skipSpace(s, at);
        auto first = decimal(s, at);
        if (!first)
            break;
        skipSpace(s, at);
        auto count = decimal(s, at);
        if (!count || *count > 100000)
            return {};
        skipSpace(s, at);
        for (std::uint64_t i = 0; i < *count; ++i, at += 20) {
            if (!s.has(at, 20))
                return {};
            std::uint64_t p = at;
            auto offset = decimal(s, p, 10);
            if (!offset)
                return {};
            if (s.u8(at + 17) == 'n' && *offset != 0)
                objects.push_back({*offset, *first + i});
            if (objects.size() > 100000)
                return {}; // more than any document made by a program has
        }
    }
    std::sort(objects.begin(), objects.end(), [](const PdfObject& a, const PdfObject& b) { return a.offset < b.offset; });
    return objects;
}

bool objectAt(Source& s, const PdfObject& o)
{
    std::uint64_t p = o.offset;
    auto number = decimal(s, p);
    if (!number || *number != o.number || !s.matches(p, " "))
        return false;
    ++p;
    return decimal(s, p) && s.matches(p, " obj");
}

// Whether [from, to) is text: UTF-8 without control characters other than
// tab and line ends. An unfiltered stream that starts as text (metadata)
// goes on as text; foreign bytes in it show.
bool textual(Source& s, std::uint64_t from, std::uint64_t to)
{
    for (std::uint64_t p = from; p < to; ++p) {
        const std::uint8_t c = s.u8(p);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F)
                return false;
            continue;
        }
        const unsigned more = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
        if (more > 3)
            return false;
        for (unsigned k = 1; k <= more; ++k)
            if (p + k >= to || (s.u8(p + k) & 0xC0) != 0x80)
                return false;
        p += more;
    }
    return true;
}

// Whether the object runs through the source as one: its "endobj" right
// before `next`, and a stream with a direct /Length ending in "endstream"
// (and, deflated, a deflate stream that ends inside it).
bool objectWhole(Source& s, const PdfObject& o, std::uint64_t next, bool wantText)
{
    if (!objectAt(s, o))
        return false;
    auto endobj = s.find("endobj", o.offset);
    if (!endobj || *endobj > next)
        return false;
    std::uint64_t after = *endobj + 6;
    skipSpace(s, after);
    if (after != next)
        return false;
    auto stream = s.find("stream", o.offset);
    if (!stream || *stream > *endobj || s.matches(*stream - 3, "endstream"))
        return true;
    auto length = s.find("/Length", o.offset);
    if (!length || *length > *stream)
        return true;
    std::uint64_t p = *length + 7;
    skipSpace(s, p);
    auto n = decimal(s, p);
    skipSpace(s, p);
    if (!n || (s.u8(p) != '/' && s.u8(p) != '>'))
        return true; // an indirect length: not checked
    std::uint64_t data = *stream + 6;
    if (s.matches(data, "\r"))
        ++data;
    if (s.matches(data, "\n"))
        ++data;
    std::uint64_t tail = data + *n;
    skipSpace(s, tail);
    if (!s.matches(tail, "endstream"))
        return false;
    auto flate = s.find("/FlateDecode", o.offset);
    if (flate && *flate < *stream) {
        // A zlib stream: its Adler-32 follows the deflate data.
        auto inflated = validation::inflateChecked(s, data + 2);
        return inflated && inflated->extent.end + 4 <= data + *n &&
               s.be(inflated->extent.end, 4) == inflated->adler;
    }
    return !wantText || textual(s, o.offset, next);
}

// The table the last "startxref" before the end names, and where it stands
// in the bytes as read in one run.
struct PdfTable {
    std::uint64_t said = 0, found = 0;
};

std::optional<PdfTable> pdfTable(Source& s, std::uint64_t length)
{
    std::optional<std::uint64_t> last;
    for (std::uint64_t from = 0; auto at = s.find("startxref", from);) {
        if (*at >= length)
            break;
        last = at;
        from = *at + 1;
    }
    if (!last)
        return std::nullopt;
    std::uint64_t p = *last + 9;
    skipSpace(s, p);
    auto said = decimal(s, p);
    if (!said || *said >= *last)
        return std::nullopt;
    // The "xref" nearest before the keyword.
    std::uint64_t found = *said;
    for (std::uint64_t from = *said; auto at = s.find("xref", from);) {
        if (*at >= *last)
            break;
        if (!s.matches(*at - 5, "start"))
            found = *at;
        from = *at + 1;
    }
    return PdfTable{*said, found};
}

bool pdfInPlace(Source& s, std::uint64_t length)
{
    auto table = pdfTable(s, length);
    if (!table || table->found != table->said)
        return !table.has_value();
    for (const PdfObject& o : readXref(s, table->said))
        if (!objectAt(s, o))
            return false;
    return true;
}

// The gap is where the table stands less where the trailer says; the first
// object out of place lies after the split, which is the boundary after the
// object before it that lets that object read whole.
std::optional<Bifragment> pdfPieces(const std::u16string& extension, BudgetedReader& disk, std::uint64_t start,
                                    std::uint64_t limit, const FragmentSearch& search,
                                    std::optional<std::uint64_t> oneRun, std::uint64_t& candidates)
{
    Source whole(disk, start, limit);
    // The first revision's end, when the one-run reading found none.
    std::uint64_t length = oneRun.value_or(0);
    if (!oneRun) {
        auto eof = whole.find("%%EOF", 5);
        if (!eof)
            return std::nullopt;
        length = *eof + 5;
    }
    auto table = pdfTable(whole, length);
    if (!table || table->found <= table->said || table->found - table->said > search.maxGapBytes ||
        (table->found - table->said) % kSectorSize != 0)
        return std::nullopt;
    const std::uint64_t gap = table->found - table->said;
    Source after(disk, FileLayout{{start + gap, limit - gap}});
    const std::vector<PdfObject> objects = readXref(after, table->said);
    std::size_t moved = 0;
    while (moved < objects.size() && objectAt(whole, objects[moved]))
        ++moved;
    if (moved == 0 || (moved < objects.size() && !objectAt(after, objects[moved])))
        return std::nullopt;
    const PdfObject& cut = objects[moved - 1];
    const std::uint64_t next = moved < objects.size() ? objects[moved].offset : table->said;
    std::uint64_t allowed = splitsAllowed(next - cut.offset);
    for (std::uint64_t block : search.blockSizes) {
        if (block == 0 || gap % block != 0)
            continue;
        const bool wantText = textual(whole, cut.offset, std::min(next, (cut.offset / block + 1) * block));
        for (std::uint64_t split = next / block * block; split > cut.offset; split -= block) {
            if (++candidates > search.fileCandidates || allowed-- == 0)
                return std::nullopt;
            const FileLayout layout = twoPieces(start, limit, split, gap);
            Source pieces(disk, layout);
            // The object's keywords are looked for no further than its end.
            Source object(disk, layoutPrefix(layout, next + 16));
            if (!objectWhole(object, cut, next, wantText) || !pdfInPlace(pieces, layoutLength(layout)))
                continue;
            if (auto found = confirmed(extension, disk, layout))
                return found;
        }
    }
    return std::nullopt;
}

constexpr std::uint64_t kCandidateCost = 4096;

} // namespace

bool hasBifragmentStrategy(const std::u16string& extension) { return kindOf(extension) != Kind::None; }

bool brokenInside(const std::u16string& extension, readWriteInterface& reader, std::uint64_t start,
                  std::uint64_t length, std::span<const std::uint8_t> head)
{
    Source s(reader, FileLayout{{start, length}}, head);
    switch (kindOf(extension)) {
    case Kind::Jpeg: {
        const JpegDecode r = JpegDecoder(s).run();
        return !r.whole && r.brokeAt != 0 && r.brokeAt < length;
    }
    case Kind::Pdf:
        return !pdfInPlace(s, length);
    default:
        return false;
    }
}

std::optional<Bifragment> findBifragment(const std::u16string& extension, readWriteInterface& reader,
                                         std::uint64_t start, std::uint64_t limit, const FragmentSearch& search,
                                         std::uint64_t& budget, std::optional<std::uint64_t> oneRun)
{
    const Kind kind = kindOf(extension);
    if (kind == Kind::None || budget == 0)
        return std::nullopt;
    BudgetedReader disk(reader, std::min(budget, search.fileReadBudget));
    // What the budget cannot read cannot be put together: the searches for
    // end records and tables stop there too.
    limit = std::min(limit, search.fileReadBudget);
    std::optional<Bifragment> found;
    std::uint64_t candidates = 0;
    if (kind == Kind::Jpeg)
        found = jpegPieces(extension, disk, start, limit, search, candidates);
    else if (kind == Kind::Zip)
        found = zipPieces(extension, disk, start, limit, search, candidates);
    else
        found = pdfPieces(extension, disk, start, limit, search, oneRun, candidates);
    // Each try decodes or checks about a block's worth of bytes already
    // read: counted so, the whole scan's extra work stays bounded too.
    budget -= std::min(budget, disk.used() + candidates * kCandidateCost);
    return found;
}

} // namespace qis::carve
