// qsalvage signatures and carve end to end: a settings file written by
// `signatures add` and read back, and carved files written under their
// categories with the names the carver gives them.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace qis {
namespace {

std::vector<std::uint8_t> bytesOf(std::initializer_list<std::string_view> pieces)
{
    std::vector<std::uint8_t> out;
    for (std::string_view p : pieces)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The smallest well-formed PNG: signature, IHDR, IDAT, IEND (the carver
// walks the chunks; it does not check their CRCs).
std::vector<std::uint8_t> tinyPng()
{
    using namespace std::string_view_literals;
    return bytesOf({"\x89PNG\r\n\x1A\n"sv, "\0\0\0\x0DIHDR\0\0\0\1\0\0\0\1\x08\x02\0\0\0\x90\x77\x53\xDE"sv,
                    "\0\0\0\x0CIDAT\x08\xD7\x63\xF8\xCF\xC0\0\0\x03\x01\x01\0\x18\xDD\x8D\xB0"sv,
                    "\0\0\0\0IEND\xAE\x42\x60\x82"sv});
}

TEST(SignaturesCli, AddedRecordsListBackInOrder)
{
    test::TempDir dir;
    auto file = (dir / "mine.txt").string();
    auto a = test::runQsalvage({"signatures", "add", file, "--extension", "png", "--start", "0x89, 0x50,0x4E,,0x47",
                                "--end", "0x49,0x45,0x4E,0x44", "--category", "Pictures"});
    ASSERT_EQ(a.exitCode, 0) << a.err;
    EXPECT_EQ(a.out, "everything initialized well.....\n");
    ASSERT_EQ(test::runQsalvage({"signatures", "add", file, "--extension", "bin", "--start", "0x01,0x02", "--approx-size",
                                 "4096", "--category", "Other"})
                  .exitCode,
              0);
    auto bad = test::runQsalvage({"signatures", "add", file, "--extension", "x", "--start", ""});
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_EQ(bad.err, "signature length is zero..\n");
    ASSERT_EQ(test::runQsalvage({"signatures", "add", file, "--ext", "gif", "--start", "0x47,0x49,0x46", "--category",
                                 "Pictures"})
                  .exitCode,
              0);
    EXPECT_EQ(std::filesystem::file_size(file), 519u) << "three records of 173 bytes";
    auto list = test::runQsalvage({"signatures", "list", file, "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("\"index\": 0, \"extension\": \"png\", \"start\": \"0x89,0x50,0x4E,0x47\""), std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("\"index\": 1, \"extension\": \"bin\""), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\"index\": 2, \"extension\": \"gif\""), std::string::npos) << list.out;
}

TEST(CarveCli, WritesEachFileUnderItsCategoryNamedByItsOffset)
{
    test::TempDir dir;
    std::vector<std::uint8_t> disk(3 * 1048576, 0);
    auto png = tinyPng();
    std::copy(png.begin(), png.end(), disk.begin() + 1048576);
    const std::string other = "\x01\x02 some bytes";
    std::copy(other.begin(), other.end(), disk.begin() + 2 * 1048576 + 512);
    test::writeWholeFile(dir / "disk.img", disk);

    auto file = (dir / "mine.txt").string();
    for (auto args : {std::vector<std::string>{"--extension", "png", "--start", "0x89,0x50,0x4E,0x47", "--approx-size",
                                               "100000", "--category", "Pictures"},
                      std::vector<std::string>{"--extension", "bin", "--start", "0x01,0x02", "--approx-size", "1000",
                                               "--category", "Other"}}) {
        args.insert(args.begin(), {"signatures", "add", file});
        ASSERT_EQ(test::runQsalvage(args).exitCode, 0);
    }
    auto out = dir / "out";
    auto r = test::runQsalvage({"carve", (dir / "disk.img").string(), "--disk", "--signatures", file,
                                "--no-default-signatures", "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Pictures (1)\nOther (1)\n");
    // The PNG's chunks give its length; the other type has only its size.
    EXPECT_EQ(test::readWholeFile(out / "Pictures" / "1048576 .png"), png);
    EXPECT_EQ(std::filesystem::file_size(out / "Other" / "2097664 .bin"), 1000u);

    auto only = dir / "only";
    auto some = test::runQsalvage({"carve", (dir / "disk.img").string(), "--disk", "--signatures", file,
                                   "--no-default-signatures", "--category", "Other", "--output", only.string(), "--json"});
    ASSERT_EQ(some.exitCode, 0) << some.err;
    EXPECT_FALSE(std::filesystem::exists(only / "Pictures"));
    EXPECT_TRUE(std::filesystem::exists(only / "Other" / "2097664 .bin"));
    EXPECT_NE(some.out.find("\"name\": \"1048576 .png\", \"offset\": 1048576, \"length\": " + std::to_string(png.size()) +
                            ", \"validated\": true, \"path\": null"),
              std::string::npos)
        << some.out;

    // A category in another case is the same one; one no signature has is
    // refused before anything is searched or written.
    auto lower = dir / "lower";
    auto cased = test::runQsalvage({"carve", (dir / "disk.img").string(), "--disk", "--signatures", file,
                                    "--no-default-signatures", "--category", "pictures", "--output", lower.string()});
    ASSERT_EQ(cased.exitCode, 0) << cased.err;
    EXPECT_EQ(cased.out, "Pictures (1)\nOther (1)\nFiles saved of the categories asked for: 1 (of 2 found).\n");
    EXPECT_EQ(test::readWholeFile(lower / "Pictures" / "1048576 .png"), png);
    EXPECT_FALSE(std::filesystem::exists(lower / "Other"));
    auto none = dir / "none";
    auto unknown = test::runQsalvage({"carve", (dir / "disk.img").string(), "--disk", "--signatures", file,
                                      "--no-default-signatures", "--category", "Photos", "--output", none.string()});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("no signature has the category \"Photos\"; the categories are Pictures, Other"),
              std::string::npos)
        << unknown.err;
    EXPECT_FALSE(std::filesystem::exists(none));
}

TEST(CarveCli, TheDefaultSignaturesBesideTheProgramAreUsed)
{
    test::TempDir dir;
    std::vector<std::uint8_t> disk(1048576, 0);
    auto png = tinyPng();
    std::copy(png.begin(), png.end(), disk.begin() + 4096);
    // A PNG cut off after its header, as one overwritten is: no whole file
    // stands there, so it is only counted, unless broken ones are kept.
    std::copy(png.begin(), png.begin() + 40, disk.begin() + 65536);
    test::writeWholeFile(dir / "disk.img", disk);
    auto out = dir / "out";
    auto r = test::runQsalvage({"carve", (dir / "disk.img").string(), "--disk", "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Pictures (1)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 more starts of kinds whose structure is checked held no whole file"), std::string::npos)
        << r.out;
    EXPECT_EQ(test::readWholeFile(out / "Pictures" / "4096 .png"), png);
    EXPECT_FALSE(std::filesystem::exists(out / "Pictures" / "65536 .png"));
    auto kept = dir / "kept";
    r = test::runQsalvage({"carve", (dir / "disk.img").string(), "--disk", "--keep-broken", "--output", kept.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Pictures (2)"), std::string::npos) << r.out;
    EXPECT_TRUE(std::filesystem::exists(kept / "Pictures" / "65536 .png"));
    auto list = test::runQsalvage({"signatures", "list", (std::filesystem::path(QIS_CLI_PATH).parent_path() / "FileSetting.txt").string()});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    for (const char* ext : {" jpg ", " png ", " gif ", " bmp ", " tif ", " pdf ", " docx ", " odt ", " zip ", " rar ",
                            " 7z ", " gz ", " mp3 ", " ogg ", " wav ", " avi ", " mov ", " mp4 ", " mpg ", " db ", " elf ",
                            " exe "})
        EXPECT_NE(list.out.find(ext), std::string::npos) << ext;
}

TEST(CarveCli, TheSampleDisksPhotosComeBackFromEveryVolumeDeletedOnesToo)
{
    // Each of the sample's four volumes holds Photos/holiday.jpg and the
    // deleted Photos/deleted-photo.jpg; carving the disk finds all eight.
    test::TempDir dir;
    auto out = dir / "out";
    auto r = test::runQsalvage({"carve", test::fixture("sample.vhdx").string(), "--disk", "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Pictures (8)"), std::string::npos) << r.out;
    std::map<std::string, int> hashes;
    for (const auto& e : std::filesystem::directory_iterator(out / "Pictures"))
        ++hashes[test::fileSha256(e.path())];
    EXPECT_EQ(hashes["5d3c30bed2c387f250b344413041dddb65e6fd4833f445e6b791086506a604f7"], 4);
    EXPECT_EQ(hashes["e0ed505a7c20278768147fce654ab527b76c5b841c798a5f64225bfbb43d445b"], 4);
}

} // namespace
} // namespace qis
