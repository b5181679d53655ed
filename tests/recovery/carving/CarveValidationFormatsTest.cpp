// Exact lengths of media, archives, pictures and programs: files made by
// their own tools where a test machine has them, laid out by hand from the
// format where it does not, each followed by unrelated bytes. A validator
// must find the file's own end, and take nothing when the file is cut short.

#include "images/raw/FileReadSeekRaw.h"
#include "recovery/carving/CarveValidation.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qis {
namespace {

using namespace std::string_literals;

std::string be(std::uint64_t v, int bytes)
{
    std::string out;
    for (int i = bytes; i-- > 0;)
        out += static_cast<char>(v >> (8 * i));
    return out;
}
std::string le(std::uint64_t v, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(v >> (8 * i));
    return out;
}
std::string noise(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::string out(n, '\0');
    for (char& c : out)
        c = static_cast<char>(random());
    return out;
}
std::uint32_t crc32(const std::string& bytes)
{
    std::uint32_t c = 0xFFFFFFFF;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320 ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

// What the validator for `ext` makes of `file` at the start of a disk of
// random bytes, reading no further than `limit`.
std::optional<carve::Validated> validate(const std::u16string& ext, const std::string& file, std::uint64_t limit)
{
    test::TempDir dir;
    const std::string disk = file + noise(65536, 7);
    test::writeWholeFile(dir / "disk.img", std::vector<std::uint8_t>(disk.begin(), disk.end()));
    FileReadSeekRaw reader;
    EXPECT_TRUE(reader.open(dir / "disk.img"));
    return carve::validateFile(ext, reader, 0, limit);
}

// A file made by a real tool from `input`: the command reads "in" and
// writes "out" in a scratch folder.
std::string madeBy(const std::string& command, const std::string& input)
{
    test::TempDir dir;
    test::writeWholeFile(dir / "in", std::vector<std::uint8_t>(input.begin(), input.end()));
    auto r = test::runCommand("cd " + test::shellQuote(dir.path().string()) + " && " + command);
    EXPECT_EQ(r.exitCode, 0) << command << ": " << r.err;
    auto bytes = test::readWholeFile(dir / "out");
    return {bytes.begin(), bytes.end()};
}

// Words in random order: text that compresses like text, in several blocks.
std::string words(std::size_t n)
{
    static const char* kWords[] = {"carve ", "disk ", "sector ", "volume ", "salvage ", "image\n", "block ", "file "};
    std::mt19937 random(11);
    std::string out;
    while (out.size() < n)
        out += kWords[random() % 8];
    return out;
}
// Two seconds of a stereo tone with a little noise, 16-bit little-endian.
std::string tone()
{
    std::mt19937 random(3);
    std::string out;
    for (int i = 0; i < 88200; ++i) {
        const int sample = static_cast<int>((i % 100) * 300 - 15000) + static_cast<int>(random() % 64);
        out += le(static_cast<std::uint16_t>(sample), 2) + le(static_cast<std::uint16_t>(-sample), 2);
    }
    return out;
}

// RAR 5 headers: CRC-32, size, then the body (type, flags, ...).
std::string vint(std::uint64_t v)
{
    std::string out;
    do {
        out += static_cast<char>((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
        v >>= 7;
    } while (v != 0);
    return out;
}
std::string rar5Block(std::uint64_t type, const std::string& fields, const std::string& data)
{
    const std::string body = vint(type) + vint(data.empty() ? 0 : 2) + (data.empty() ? "" : vint(data.size())) + fields;
    const std::string sized = vint(body.size()) + body;
    return le(crc32(sized), 4) + sized + data;
}
std::string rar5()
{
    return "Rar!\x1A\x07\x01\x00"s + rar5Block(1, vint(0), "") +
           rar5Block(2, vint(0) + vint(300) + vint(0x20) + vint(0) + vint(0) + vint(5) + "a.txt", noise(300, 1)) +
           rar5Block(5, vint(0), "");
}
// RAR 4 blocks: CRC-16, type, flags, size, the packed size when data follows.
std::string rar4Block(int type, const std::string& fields, const std::string& data)
{
    const std::uint64_t size = 7 + (data.empty() ? 0 : 4) + fields.size();
    const std::string header = le(type, 1) + le(data.empty() ? 0 : 0x8000, 2) + le(size, 2) +
                               (data.empty() ? "" : le(data.size(), 4)) + fields;
    return le(crc32(header) & 0xFFFF, 2) + header + data;
}
std::string rar4()
{
    const std::string file = le(300, 4) + "\x02"s + le(0, 4) + le(0, 4) + "\x1D\x30"s + le(5, 2) + le(0x20, 4) + "a.txt";
    return "Rar!\x1A\x07\x00"s + rar4Block(0x73, std::string(6, '\0'), "") + rar4Block(0x74, file, noise(300, 2)) +
           rar4Block(0x7B, "", "");
}

std::string ebml(const std::string& id, const std::string& payload, bool unknownSize = false)
{
    return id + (unknownSize ? "\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s : "\x01"s + be(payload.size(), 7)) + payload;
}
std::string matroska(bool unknownSizes)
{
    const std::string header = ebml("\x1A\x45\xDF\xA3", ebml("\x42\x86", "\x01") + ebml("\x42\x82", "webm"));
    const std::string cluster = ebml("\xE7", "\x00"s) + ebml("\xA3", noise(400, 4));
    const std::string segment = ebml("\x15\x49\xA9\x66", ebml("\x2A\xD7\xB1", be(1000000, 3))) +
                                ebml("\x1F\x43\xB6\x75", cluster, unknownSizes) +
                                ebml("\x1C\x53\xBB\x6B", ebml("\xBB", "\x01\x02"));
    return header + ebml("\x18\x53\x80\x67", segment, unknownSizes);
}

// Mach-O, 64-bit: a segment over the first 4096 bytes, then a symbol
// table and its strings; a universal binary holds it at 4096.
std::string machO()
{
    std::string segment = le(0x19, 4) + le(72, 4) + "__TEXT"s + std::string(10, '\0') + le(0x100000000, 8) +
                          le(4096, 8) + le(0, 8) + le(4096, 8) + le(5, 4) + le(5, 4) + le(0, 4) + le(0, 4);
    std::string symtab = le(0x2, 4) + le(24, 4) + le(4096, 4) + le(2, 4) + le(4128, 4) + le(40, 4);
    std::string file = "\xCF\xFA\xED\xFE"s + le(0x01000007, 4) + le(3, 4) + le(2, 4) + le(2, 4) + le(96, 4) +
                       le(0, 4) + le(0, 4) + segment + symtab;
    return file + noise(4168 - file.size(), 5);
}
std::string universal()
{
    const std::string header = "\xCA\xFE\xBA\xBE"s + be(1, 4) + be(0x01000007, 4) + be(3, 4) + be(4096, 4) +
                               be(4168, 4) + be(12, 4);
    return header + std::string(4096 - header.size(), '\0') + machO();
}

// An icon with a bitmap picture and a PNG one.
std::string icon()
{
    const std::string bitmap = le(40, 4) + noise(60, 6), png = "\x89PNG"s + noise(80, 8);
    const std::uint64_t first = 6 + 2 * 16;
    return "\0\0\1\0\2\0"s + "\x10\x10\0\0"s + le(1, 2) + le(32, 2) + le(bitmap.size(), 4) + le(first, 4) +
           "\x20\x20\0\0"s + le(1, 2) + le(32, 2) + le(png.size(), 4) + le(first + bitmap.size(), 4) + bitmap + png;
}

// A 4x2 RGB Photoshop picture, raw or run-length packed.
std::string photoshop(bool packed)
{
    std::string file = "8BPS"s + be(1, 2) + std::string(6, '\0') + be(3, 2) + be(2, 4) + be(4, 4) + be(8, 2) +
                       be(3, 2) + be(0, 4) + be(12, 4) + noise(12, 9) + be(0, 4);
    if (!packed)
        return file + be(0, 2) + noise(24, 10);
    file += be(1, 2);
    for (int row = 0; row < 6; ++row)
        file += be(2, 2);
    for (int row = 0; row < 6; ++row)
        file += "\xFD\x11"s; // four bytes of 0x11
    return file;
}

// A GIMP picture of one 2x2 RGB layer, uncompressed, pointers as wide as
// the version has them; its last level is the empty one GIMP writes.
std::string gimp(const std::string& version, int pointer)
{
    const bool precision = version != "v003";
    std::string file = "gimp xcf "s + version + '\0' + be(2, 4) + be(2, 4) + be(0, 4) + (precision ? be(150, 4) : "");
    file += be(17, 4) + be(1, 4) + '\0' + be(0, 4) + be(0, 4); // compression: none; end
    const std::uint64_t layer = file.size() + 3 * pointer;
    file += be(layer, pointer) + be(0, pointer) + be(0, pointer);
    const std::uint64_t hierarchy = layer + 12 + 4 + 2 + 8 + 2 * pointer;
    file += be(2, 4) + be(2, 4) + be(0, 4) + be(2, 4) + "L\0"s + be(0, 4) + be(0, 4) + be(hierarchy, pointer) + be(0, pointer);
    const std::uint64_t level = hierarchy + 12 + 3 * pointer, tile = level + 8 + 2 * pointer, empty = tile + 12;
    file += be(2, 4) + be(2, 4) + be(3, 4) + be(level, pointer) + be(empty, pointer) + be(0, pointer);
    file += be(2, 4) + be(2, 4) + be(tile, pointer) + be(0, pointer) + noise(12, 12);
    return file + be(1, 4) + be(1, 4) + be(0, pointer);
}

// A camera raw laid out as TIFF: a preview strip in the first directory,
// the sensor data further on, in a sub-image, past an EXIF directory.
std::string cameraRaw(const std::string& tag, std::uint64_t extraTag)
{
    auto entry = [](std::uint64_t tag, std::uint64_t type, std::uint64_t n, std::uint64_t value) {
        return le(tag, 2) + le(type, 2) + le(n, 4) + le(value, 4);
    };
    std::string file = "II\x2A\0"s + le(16, 4) + tag;
    const std::uint64_t make = 16 + 2 + 6 * 12 + 4, exif = make + 6, sub = exif + 2 + 12 + 4 + 8;
    const std::uint64_t preview = sub + 2 + 2 * 12 + 4, sensor = preview + 100 + 500;
    file += le(6, 2) + entry(271, 2, 6, make) + entry(273, 4, 1, preview) + entry(279, 4, 1, 100) +
            entry(330, 13, 1, sub) + entry(34665, 4, 1, exif) + entry(extraTag, 1, 4, 0x01040000) + le(0, 4);
    file += "Maker"s + '\0' + le(1, 2) + entry(33434, 5, 1, exif + 18) + le(0, 4) + le(1, 4) + le(100, 4);
    file += le(2, 2) + entry(273, 4, 1, sensor) + entry(279, 4, 1, 2000) + le(0, 4);
    return file + noise(100, 13) + std::string(500, '\0') + noise(2000, 14);
}

struct Case {
    std::string name;
    std::u16string ext;
    std::string file;
    std::u16string kind = {};     // the extension the file's contents give it
    std::uint64_t cutBy = 1;      // bytes the truncated copy lacks
    std::optional<std::uint64_t> whenCut = std::nullopt;
};

TEST(CarveValidationFormats, EachFileEndsWhereItsOwnStructureSaysAndNotWhenCutShort)
{
    const std::string text = words(350000);
    std::string ts;
    for (int i = 0; i < 5; ++i)
        ts += "\x47"s + noise(187, 20 + i);
    const std::string heif = be(20, 4) + "ftypheic" + std::string(8, '\0') + be(16, 4) + "meta" + noise(8, 15) +
                             be(24, 4) + "mdat" + noise(16, 16);
    std::vector<Case> cases = {
        {"xz, several blocks", u"xz", madeBy("xz -T1 --block-size=65536 -c in > out", text)},
        {"bzip2, several blocks", u"bz2", madeBy("bzip2 -1 -c in > out", text)},
        {"flac", u"flac", madeBy("flac -s --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 "
                                 "--sample-rate=44100 -o out in", tone())},
        {"flac, fixed predictors, mono", u"flac", madeBy("flac -s -0 --force-raw-format --endian=little --sign=signed "
                                                         "--channels=1 --bps=8 --sample-rate=8000 -o out in", tone().substr(1))},
        {"rar 5", u"rar", rar5()},
        {"rar 4", u"rar", rar4()},
        {"webm", u"mkv", matroska(false), u"webm"},
        {"matroska of unknown size, live", u"mkv", matroska(true), u"webm", 3},
        {"transport stream", u"ts", ts, {}, 10, 4 * 188},
        {"heif", u"heic", heif},
        {"mach-o", u"mach", machO()},
        {"universal binary", u"mach", universal()},
        {"icon", u"ico", icon()},
        {"photoshop raw", u"psd", photoshop(false)},
        {"photoshop packed", u"psd", photoshop(true)},
        {"gimp v003", u"xcf", gimp("v003", 4)},
        {"gimp v011", u"xcf", gimp("v011", 8)},
        {"ppm", u"ppm", "P6\n# by hand\n3 2\n255\n"s + noise(18, 17)},
        {"pgm, two bytes a sample", u"pgm", "P5 2 2 65535\n"s + noise(8, 18)},
        {"pbm", u"pbm", "P4\n10 2\n"s + noise(4, 19)},
        {"plain ppm", u"ppm", "P3\n2 1\n255\n1 2 3 4 5 60\n"s, {}, 3},
        {"canon raw", u"tif", cameraRaw("CR\x02\0"s + le(0, 4), 0xC4), u"cr2"},
        {"dng", u"tif", cameraRaw(std::string(8, '\0'), 50706), u"dng"},
    };
    // Streams one after another are one file; cut short, the first is still whole.
    for (auto [ext, command] : {std::pair{u"xz", "xz -c in > a && cat a a > out"}, {u"bz2", "bzip2 -1 -c in > a && cat a a > out"}}) {
        const std::string twice = madeBy(command, text.substr(0, 5000));
        cases.push_back({"two streams", ext, twice, {}, 1, twice.size() / 2});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(c.file.size(), c.cutBy);
        auto whole = validate(c.ext, c.file, 1 << 22);
        EXPECT_TRUE(whole) << "a whole file not taken";
        if (whole) {
            EXPECT_EQ(whole->length, c.file.size());
            EXPECT_EQ(whole->extension, c.kind);
        }
        auto cut = validate(c.ext, c.file.substr(0, c.file.size() - c.cutBy), c.file.size() - c.cutBy);
        EXPECT_EQ(cut ? std::optional<std::uint64_t>(cut->length) : std::nullopt, c.whenCut);
    }
}

} // namespace
} // namespace qis
