// qsalvage save on the sample disk's NTFS volume: every live file, and the
// deleted ones whose clusters are intact, come back byte for byte with
// their modification times; names from the image stay inside the output.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace qis {
namespace {

std::string sha256(const std::filesystem::path& file)
{
    auto r = test::runCommand("sha256sum " + test::shellQuote(file.string()));
    return r.out.substr(0, 64);
}

struct Expected {
    std::string kind, path, sha, mtime;
};

std::vector<Expected> manifestFiles(int partition)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/sample-manifest.txt");
    std::vector<Expected> out;
    int current = 0;
    for (std::string l; std::getline(in, l);) {
        std::vector<std::string> f;
        std::istringstream s(l);
        for (std::string x; std::getline(s, x, '\t');)
            f.push_back(x);
        if (f.empty() || f[0].empty() || f[0][0] == '#')
            continue;
        if (f[0] == "volume")
            current = std::stoi(f[1]);
        else if (current == partition && f[0] == "file" && f.size() == 5)
            out.push_back({"file", f[4], f[2], f[3]});
        else if (current == partition && f[0] == "deleted" && f.size() == 4)
            out.push_back({"deleted", f[3], f[2], ""});
    }
    return out;
}

std::string isoMtime(const std::filesystem::path& file)
{
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return "";
    std::tm utc{};
    gmtime_r(&st.st_mtime, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

TEST(SaveCli, WholeNtfsVolumeComesBackByteForByte)
{
    test::TempDir dir;
    auto out = dir / "out";
    auto r = test::runQsalvage(
        {"save", test::fixture("sample.vhdx").string(), "--gpt", "--volume", "0", "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("number of files found inside this folder = "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Saving process done."), std::string::npos) << r.err;
    for (const auto& e : manifestFiles(1)) {
        auto file = out / e.path;
        ASSERT_TRUE(std::filesystem::exists(file)) << e.path;
        EXPECT_EQ(sha256(file), e.sha) << e.path;
        if (e.kind == "file") {
            EXPECT_EQ(isoMtime(file), e.mtime) << e.path;
        }
    }
    // The orphans' folder and the volume's own files are saved too; $BadClus is not.
    EXPECT_TRUE(std::filesystem::is_directory(out / "ORPHAN_ENTRY"));
    EXPECT_TRUE(std::filesystem::exists(out / "$MFTMirr"));
    EXPECT_FALSE(std::filesystem::exists(out / "$BadClus"));
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
    EXPECT_EQ(sha256(dir / "b" / "holiday.jpg"), "5d3c30bed2c387f250b344413041dddb65e6fd4833f445e6b791086506a604f7");

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

} // namespace
} // namespace qis
