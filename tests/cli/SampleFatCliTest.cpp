// qsalvage list and save on the sample disk's FAT32 volume (mkfs.fat, filled
// with mtools; 512-byte clusters) and exFAT volume (mkfs.exfat, filled
// through exfat-fuse), against the manifest written when they were made.

#include "support/Fixtures.h"
#include "support/ListingJson.h"
#include "support/SampleManifest.h"

#include <gtest/gtest.h>

#include <set>

namespace qis {
namespace {

struct SampleVolume {
    const char* name;
    const char* index;      // as `volumes --gpt` numbers it
    int partition;          // GPT slot in the manifest
    const char* completion; // the scan's closing message
    const char* deleted;    // what list says of the deleted files
};

class SampleFatVolumes : public ::testing::TestWithParam<SampleVolume> {};

TEST_P(SampleFatVolumes, ListShowsExactlyWhatTheVolumeHolds)
{
    const SampleVolume& v = GetParam();
    auto r = test::runQsalvage({"list", test::fixture("sample.vhdx").string(), "--gpt", "--volume", v.index, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(std::string(v.completion) + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Processing done..."), std::string::npos) << r.err;
    auto listed = test::parseJsonListing(r.out);
    auto manifest = test::sampleManifest(v.partition);
    ASSERT_EQ(manifest.size(), 13u);
    std::set<std::string> expectedPaths;
    for (const auto& m : manifest) {
        expectedPaths.insert(m.path);
        auto it = listed.find(m.path);
        ASSERT_NE(it, listed.end()) << m.path << " is missing";
        EXPECT_EQ(it->second.type, m.kind == "dir" ? "dir" : "file") << m.path;
        EXPECT_EQ(it->second.deleted, m.kind == "deleted") << m.path;
        EXPECT_EQ(it->second.recoverability, m.kind == "deleted" ? v.deleted : "") << m.path;
        if (m.kind != "dir") {
            EXPECT_EQ(it->second.size, m.size) << m.path;
        }
        if (m.kind == "file") {
            EXPECT_EQ(it->second.mtime, m.mtime) << m.path;
        }
    }
    // Nothing more: no volume label, no "." entries, no DUMMY ENTRY.
    for (const auto& [path, e] : listed)
        EXPECT_TRUE(expectedPaths.count(path)) << "unexpected " << path;
}

TEST_P(SampleFatVolumes, SaveWritesLiveAndDeletedFilesByteForByte)
{
    const SampleVolume& v = GetParam();
    test::TempDir dir;
    auto out = dir / "out";
    auto r = test::runQsalvage(
        {"save", test::fixture("sample.vhdx").string(), "--gpt", "--volume", v.index, "--output", out.string()});
    // 3: saved, and some deleted files are guessed or hold zeros.
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err;
    for (const auto& e : test::sampleManifest(v.partition)) {
        auto path = out / e.path;
        if (e.kind == "dir") {
            EXPECT_TRUE(std::filesystem::is_directory(path)) << e.path;
            continue;
        }
        ASSERT_TRUE(std::filesystem::exists(path)) << e.path;
        // Deleted files too: each lies in one run of clusters nothing has
        // taken since, read from the entry on exFAT and guessed on FAT32.
        EXPECT_EQ(test::fileSha256(path), e.sha256) << e.path;
        if (e.kind == "file") {
            EXPECT_EQ(test::fileMtimeIso(path), e.mtime) << e.path;
        }
    }
}

TEST_P(SampleFatVolumes, FormattedModeReadsDeletedFilesFromConsecutiveClusters)
{
    const SampleVolume& v = GetParam();
    test::TempDir dir;
    auto out = dir / "out";
    auto r = test::runQsalvage({"save", test::fixture("sample.vhdx").string(), "--gpt", "--volume", v.index,
                                "--formatted", "--output", out.string()});
    // 3: saved, and some deleted files are guessed or hold zeros.
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err;
    int deleted = 0;
    for (const auto& e : test::sampleManifest(v.partition)) {
        if (e.kind == "dir")
            continue;
        // These volumes hold nothing fragmented, so every file comes back whole.
        EXPECT_EQ(test::fileSha256(out / e.path), e.sha256) << e.path;
        deleted += e.kind == "deleted";
    }
    EXPECT_EQ(deleted, 2);
}

INSTANTIATE_TEST_SUITE_P(Sample, SampleFatVolumes,
                         ::testing::Values(SampleVolume{"fat32", "1", 2, "Scanning process completed.", "guessed"},
                                           SampleVolume{"exfat", "2", 3, "Scanning process completed...", "whole"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SampleFatSearch, FindsNamesOnFatAndExfatVolumes)
{
    for (const char* volume : {"1", "2"}) {
        auto r = test::runQsalvage({"search", test::fixture("sample.vhdx").string(), "--gpt", "--volume", volume, "\\.jpg$"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("Photos/holiday.jpg"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("deleted") , std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("readme"), std::string::npos) << r.out;
    }
}

TEST(SampleFatCustomVolume, TheLabelPicksTheParserAndAWrongOneSaysSo)
{
    std::string image = test::fixture("sample.vhdx").string();
    // The FAT32 volume typed in by hand (start 67584, 40 MiB).
    auto ok = test::runQsalvage({"list", image, "--start-sector", "67584", "--fs", "FAT32", "--size-mb", "40"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_NE(ok.out.find("Documents/notes/todo.txt"), std::string::npos) << ok.out;
    auto wrong = test::runQsalvage({"list", image, "--start-sector", "67584", "--fs", "FAT16", "--size-mb", "40"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("Selected Drive is not in Fat16 Format"), std::string::npos) << wrong.err;
    auto exfat = test::runQsalvage({"list", image, "--start-sector", "67584", "--fs", "FAT64", "--size-mb", "40"});
    EXPECT_EQ(exfat.exitCode, 1);
    EXPECT_NE(exfat.err.find("Selected Drive is not in exFat Format"), std::string::npos) << exfat.err;
    auto none = test::runQsalvage({"list", image, "--start-sector", "67584", "--fs", "FAT12", "--size-mb", "40"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("Not a valid drive."), std::string::npos) << none.err;
}

} // namespace
} // namespace qis
