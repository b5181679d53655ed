// Entries by their numbers, as a forensic user names them: list shows the
// MFT record or inode number, cat writes one entry's bytes to stdout and
// save --entry saves the entries named, on the sample disk (mkntfs and
// mke2fs volumes, numbers as fls printed them).

#include "support/Fixtures.h"
#include "support/SampleManifest.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>

namespace qis {
namespace {

struct Numbered {
    int volume;
    std::uint64_t report, photo; // Documents/report.txt, Photos/deleted-photo.jpg
};

class EntryCli : public ::testing::TestWithParam<Numbered> {};

TEST_P(EntryCli, ListShowsTheNumberThatCatAndSaveTake)
{
    const Numbered n = GetParam();
    const std::string image = test::fixture("sample.vhdx").string(), volume = std::to_string(n.volume);
    std::string reportSha;
    for (const auto& e : test::sampleManifest(n.volume + 1))
        if (e.path == "Documents/report.txt")
            reportSha = e.sha256;
    ASSERT_FALSE(reportSha.empty());

    auto text = test::runQsalvage({"list", image, "--volume", volume});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_TRUE(std::regex_search(text.out, std::regex("file +" + std::to_string(n.report) + " .* Documents/report\\.txt\\n")))
        << text.out;
    auto json = test::runQsalvage({"list", image, "--volume", volume, "--json"});
    for (const auto& e : nlohmann::json::parse(json.out))
        if (e["path"] == "Documents/report.txt")
            EXPECT_EQ(e["entry"], n.report);

    test::TempDir dir;
    auto cat = test::runQsalvage({"cat", image, "--volume", volume, "--entry", std::to_string(n.report)});
    ASSERT_EQ(cat.exitCode, 0) << cat.err;
    test::writeWholeFile(dir / "cat", std::vector<std::uint8_t>(cat.out.begin(), cat.out.end()));
    EXPECT_EQ(test::fileSha256(dir / "cat"), reportSha);
    EXPECT_EQ(test::runQsalvage({"cat", image, "--volume", volume, "--path", "Documents/report.txt"}).out, cat.out);

    const auto out = dir / "out", report = dir / "report.json";
    auto saved = test::runQsalvage({"save", image, "--volume", volume, "--entry", std::to_string(n.report), "--entry",
                                    std::to_string(n.photo), "--output", out.string(), "--report", report.string()});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(test::fileSha256(out / "report.txt"), reportSha);
    EXPECT_TRUE(std::filesystem::exists(out / "deleted-photo.jpg"));
    std::ifstream in(report);
    auto files = nlohmann::json::parse(in)["files"];
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0]["path"], "Documents/report.txt");
    EXPECT_EQ(files[0]["entry"], n.report);
    EXPECT_EQ(files[1]["entry"], n.photo);
    EXPECT_EQ(files[1]["deleted"], true);
}

INSTANTIATE_TEST_SUITE_P(SampleDisk, EntryCli, ::testing::Values(Numbered{0, 65, 71}, Numbered{3, 13, 18}),
                         [](const auto& info) { return "volume" + std::to_string(info.param.volume); });

TEST(EntryCliErrors, ANumberThatIsNotThereOrNotANumber)
{
    const std::string image = test::fixture("sample.vhdx").string();
    EXPECT_EQ(test::runQsalvage({"cat", image, "--volume", "0", "--entry", "sixty"}).exitCode, 2);
    EXPECT_EQ(test::runQsalvage({"cat", image, "--volume", "0", "--entry", "65", "--path", "readme.md"}).exitCode, 2);
    auto missing = test::runQsalvage({"cat", image, "--volume", "0", "--entry", "99999"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("There is no entry 99999 on this volume."), std::string::npos) << missing.err;
    test::TempDir dir;
    EXPECT_EQ(test::runQsalvage({"save", image, "--volume", "0", "--entry", "99999", "--output", (dir / "o").string()})
                  .exitCode,
              1);
}

} // namespace
} // namespace qis
