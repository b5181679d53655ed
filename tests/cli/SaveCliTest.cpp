// qsalvage save on the sample disk's NTFS volume: every live file, and the
// deleted ones whose clusters are intact, come back byte for byte with
// their modification times; names from the image stay inside the output.

#include "support/Fixtures.h"
#include "support/SampleManifest.h"

#include <gtest/gtest.h>

#include <map>

namespace qis {
namespace {

TEST(SaveCli, WholeNtfsVolumeComesBackByteForByte)
{
    test::TempDir dir;
    auto out = dir / "out";
    auto r = test::runQsalvage(
        {"save", test::fixture("sample.vhdx").string(), "--gpt", "--volume", "0", "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("number of files found inside this folder = "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Saving process done."), std::string::npos) << r.err;
    for (const auto& e : test::sampleManifest(1)) {
        if (e.kind == "dir")
            continue;
        auto file = out / e.path;
        ASSERT_TRUE(std::filesystem::exists(file)) << e.path;
        EXPECT_EQ(test::fileSha256(file), e.sha256) << e.path;
        if (e.kind == "file") {
            EXPECT_EQ(test::fileMtimeIso(file), e.mtime) << e.path;
        }
    }
    // The orphans' folder and the volume's own files are saved too; $BadClus is not.
    EXPECT_TRUE(std::filesystem::is_directory(out / "ORPHAN_ENTRY"));
    EXPECT_TRUE(std::filesystem::exists(out / "$MFTMirr"));
    EXPECT_FALSE(std::filesystem::exists(out / "$BadClus"));
    EXPECT_NE(r.err.find(" 1 left out ($BadClus)"), std::string::npos) << r.err;
}

TEST(SaveCli, OneFolderOrOneFileByTreePath)
{
    test::TempDir dir;
    auto image = test::fixture("sample.vhdx").string();
    auto folder = test::runQsalvage(
        {"save", image, "--gpt", "--volume", "0", "--path", "Documents", "--output", (dir / "a").string()});
    ASSERT_EQ(folder.exitCode, 0) << folder.err;
    // The folder's children go straight into the output folder.
    EXPECT_TRUE(std::filesystem::exists(dir / "a" / "report.txt"));
    EXPECT_TRUE(std::filesystem::exists(dir / "a" / "notes" / "todo.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir / "a" / "Documents"));

    auto file = test::runQsalvage({"save", image, "--gpt", "--volume", "0", "--path", "Photos/holiday.jpg",
                                   "--output", (dir / "b").string()});
    ASSERT_EQ(file.exitCode, 0) << file.err;
    EXPECT_EQ(test::fileSha256(dir / "b" / "holiday.jpg"), "5d3c30bed2c387f250b344413041dddb65e6fd4833f445e6b791086506a604f7");

    // Saving again keeps the first copy and names the second beside it.
    auto again = test::runQsalvage({"save", image, "--gpt", "--volume", "0", "--path", "Photos/holiday.jpg",
                                    "--output", (dir / "b").string()});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "b" / "holiday (1).jpg"));
    EXPECT_NE(again.err.find("as holiday (1).jpg"), std::string::npos) << again.err;

    auto missing = test::runQsalvage(
        {"save", image, "--gpt", "--volume", "0", "--path", "No/such", "--output", (dir / "c").string()});
    EXPECT_EQ(missing.exitCode, 1);
}

// A save run again with --skip-existing writes only what is not there
// whole: a file removed since is written again under its name; one cut
// short stays as it is, with the whole file beside it.
TEST(SaveCli, SkipExistingWritesOnlyWhatIsNotThereWhole)
{
    test::TempDir dir;
    const std::vector<std::string> save = {"save", test::fixture("sample.vhdx").string(), "--volume", "0",
                                           "--path", "Documents", "--output", (dir / "out").string()};
    ASSERT_EQ(test::runQsalvage(save).exitCode, 0);
    std::map<std::string, std::string> first;
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir / "out"))
        if (f.is_regular_file())
            first[std::filesystem::relative(f.path(), dir / "out").string()] = test::fileSha256(f.path());
    ASSERT_TRUE(first.count("report.txt") && first.count("notes/todo.txt"));
    std::filesystem::remove(dir / "out" / "notes" / "todo.txt");
    std::filesystem::resize_file(dir / "out" / "report.txt", 3);

    std::vector<std::string> again = save;
    again.push_back("--skip-existing");
    auto r = test::runQsalvage(again);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(std::to_string(first.size()) + " files: 2 written,"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" " + std::to_string(first.size() - 2) + " there already"), std::string::npos) << r.err;
    EXPECT_EQ(test::fileSha256(dir / "out" / "notes" / "todo.txt"), first["notes/todo.txt"]);
    EXPECT_EQ(test::fileSha256(dir / "out" / "report (1).txt"), first["report.txt"]);
    EXPECT_EQ(std::filesystem::file_size(dir / "out" / "report.txt"), 3u);
    std::size_t files = 0;
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir / "out"))
        files += f.is_regular_file();
    EXPECT_EQ(files, first.size() + 1);
}

} // namespace
} // namespace qis
