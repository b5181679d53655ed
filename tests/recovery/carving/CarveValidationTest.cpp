// Length validation of carved files on files shaped as their formats lay
// them out: where each really ends, and that a truncated one is not taken.

#include "images/raw/FileReadSeekRaw.h"
#include "recovery/carving/CarveValidation.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <string>

namespace qis {
namespace {

using namespace std::string_literals;

std::string be32(std::uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string le32(std::uint32_t v)
{
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}
std::string le16(std::uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }

// The file at byte 0 of a disk, followed by other data.
std::optional<std::uint64_t> lengthOf(const std::u16string& ext, const std::string& file, std::uint64_t limit = 1 << 20)
{
    test::TempDir dir;
    std::string disk = file + std::string(8192, '\x5A');
    auto path = dir / "disk.img";
    test::writeWholeFile(path, std::vector<std::uint8_t>(disk.begin(), disk.end()));
    FileReadSeekRaw reader;
    EXPECT_TRUE(reader.open(path));
    return carve::validatedLength(ext, reader, 0, std::min<std::uint64_t>(limit, disk.size()));
}

TEST(CarveValidation, AJpegEndsAtItsOwnEndNotAtItsThumbnails)
{
    const std::string thumbnail = "\xFF\xD8\xFF\xDB\x00\x04\x01\x02\xFF\xDA\x00\x02\x11\x22\xFF\xD9"s;
    const std::string app1 = "Exif\0\0"s + thumbnail;
    std::string jpeg = "\xFF\xD8"s + "\xFF\xE1"s + be32(static_cast<std::uint32_t>(app1.size() + 2)).substr(2) + app1;
    // Entropy-coded data with a stuffed zero and a restart marker.
    jpeg += "\xFF\xDA\x00\x03\x01"s + "\x12\xFF\x00\x34\xFF\xD0\x56"s + "\xFF\xD9"s;
    EXPECT_EQ(lengthOf(u"jpg", jpeg), jpeg.size());
    EXPECT_EQ(lengthOf(u"JPG", jpeg), jpeg.size()) << "extensions in any case";
    EXPECT_FALSE(lengthOf(u"jpg", jpeg.substr(0, jpeg.size() - 2), jpeg.size() - 2)) << "cut before its end";
}

TEST(CarveValidation, AZipEndsAfterTheCommentOfTheEndRecordThatClosesItsDirectory)
{
    std::string local = "PK\x03\x04"s + std::string(26, '\0') + "PK\x05\x06 not the end"s;
    std::string directory = "PK\x01\x02"s + std::string(42, '\0');
    std::string end = "PK\x05\x06"s + std::string(8, '\0') + le32(static_cast<std::uint32_t>(directory.size())) +
                      le32(static_cast<std::uint32_t>(local.size())) + le16(7) + "comment";
    const std::string zip = local + directory + end;
    EXPECT_EQ(lengthOf(u"docx", zip), zip.size());
}

// A one-entry archive holding `data` as it is, under `name`.
std::string storedZip(const std::string& name, const std::string& data, std::uint32_t crc)
{
    const auto size = le32(static_cast<std::uint32_t>(data.size()));
    const auto nameLength = le16(static_cast<std::uint16_t>(name.size()));
    const std::string local = "PK\x03\x04"s + std::string(10, '\0') + le32(crc) + size + size + nameLength + le16(0) + name + data;
    const std::string directory = "PK\x01\x02"s + std::string(12, '\0') + le32(crc) + size + size + nameLength +
                                  std::string(12, '\0') + le32(0) + name;
    return local + directory + "PK\x05\x06"s + std::string(4, '\0') + le16(1) + le16(1) +
           le32(static_cast<std::uint32_t>(directory.size())) + le32(static_cast<std::uint32_t>(local.size())) + le16(0);
}

TEST(CarveValidation, AZipHoldingAZipWhoseFirstEntryHasTheSameNameEndsAtItsOwnEnd)
{
    // An office document embedding another keeps "[Content_Types].xml" first in both.
    const std::string inner = storedZip("[Content_Types].xml", "<Types/>", 0x1111);
    const std::string outer = storedZip("[Content_Types].xml", inner, 0x2222);
    EXPECT_EQ(lengthOf(u"zip", outer), outer.size());
    // Cut inside by foreign bytes, it is no archive in one run.
    std::string cut = outer;
    cut.insert(60, std::string(512, '\x5A'));
    EXPECT_FALSE(lengthOf(u"zip", cut));
}

TEST(CarveValidation, AnOfficeArchiveIsNamedByWhatItsDirectoryHolds)
{
    const std::string name = "xl/workbook.xml";
    std::string local = "PK\x03\x04"s + std::string(22, '\0') + le16(static_cast<std::uint16_t>(name.size())) + le16(0) + name;
    std::string directory = "PK\x01\x02"s + std::string(24, '\0') + le16(static_cast<std::uint16_t>(name.size())) +
                            std::string(16, '\0') + name;
    std::string end = "PK\x05\x06"s + std::string(4, '\0') + le16(1) + le16(1) +
                      le32(static_cast<std::uint32_t>(directory.size())) + le32(static_cast<std::uint32_t>(local.size())) +
                      le16(0);
    const std::string zip = local + directory + end;
    test::TempDir dir;
    std::string disk = zip + std::string(4096, '\0');
    test::writeWholeFile(dir / "disk.img", std::vector<std::uint8_t>(disk.begin(), disk.end()));
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(dir / "disk.img"));
    auto v = carve::validateFile(u"docx", reader, 0, disk.size());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->length, zip.size());
    EXPECT_EQ(v->extension, u"xlsx");
}

TEST(CarveValidation, ATiffEndsAtItsLastStripOrDirectory)
{
    // Little-endian: the strip first (bytes 8 to 107), then the directory.
    std::string tiff = "II\x2A\0"s + le32(108) + std::string(100, '\x33');
    tiff += le16(3);
    tiff += le16(256) + le16(3) + le32(1) + le16(10) + le16(0);  // width
    tiff += le16(273) + le16(4) + le32(1) + le32(8);             // strip offset
    tiff += le16(279) + le16(4) + le32(1) + le32(100);           // strip byte count
    tiff += le32(0);
    EXPECT_EQ(lengthOf(u"tif", tiff), tiff.size());
    std::string far = tiff;
    far.replace(108 + 2 + 12 + 8, 4, le32(4000)); // a strip beyond the directory
    EXPECT_EQ(lengthOf(u"tif", far), 4100u);
}

TEST(CarveValidation, IsoMediaEndsAfterItsLastTopLevelBox)
{
    std::string mp4 = be32(20) + "ftypisom" + std::string(8, '\0');
    mp4 += be32(16) + "moov" + std::string(8, '\x01');
    mp4 += be32(1) + "mdat" + be32(0) + be32(24) + std::string(8, '\x02'); // a 64-bit size
    EXPECT_EQ(lengthOf(u"mp4", mp4), mp4.size());
    EXPECT_FALSE(lengthOf(u"mp4", be32(20) + "ftypisom" + std::string(8, '\0'))) << "no movie box";
}

TEST(CarveValidation, SizeFieldsAndPagesAreBelievedOnlyInsideTheLimit)
{
    std::string wav = "RIFF"s + le32(36) + "WAVEfmt " + std::string(28, '\0');
    EXPECT_EQ(lengthOf(u"wav", wav), 44u);
    EXPECT_FALSE(lengthOf(u"wav", "RIFF"s + le32(1u << 30) + "WAVE")) << "longer than what may be read";
    std::string png = "\x89PNG\r\n\x1A\n"s + be32(13) + "IHDR" + std::string(13, '\0') + "CRC!" + be32(0) + "IEND" + "CRC!";
    EXPECT_EQ(lengthOf(u"png", png), png.size());
    EXPECT_FALSE(lengthOf(u"png", "\x89PNG\r\n\x1A\n"s + be32(13) + "IH?R" + std::string(17, '\0')));
    EXPECT_FALSE(lengthOf(u"txt", "plain text")) << "no validator for the extension";
}

} // namespace
} // namespace qis
