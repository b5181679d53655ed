// qsalvage list and save on FAT16, FAT32 and exFAT volumes made by
// mkfs.fat + mtools and mkfs.exfat + exfat-fuse, against the golden
// listings Sleuth Kit read from them (tests/fixtures/make-fat-fixtures.sh).

#include "support/FatListingCheck.h"
#include "support/FatManifest.h"
#include "support/Fixtures.h"
#include "support/ListingJson.h"

#include <gtest/gtest.h>

#include <set>

namespace qis {
namespace {

struct FatFixture {
    const char* name;
    const char* image;
    const char* manifest;
    std::vector<std::string> volume; // the options that name the volume
};

class FatFixtureVolumes : public ::testing::TestWithParam<FatFixture> {
protected:
    test::CommandResult run(std::vector<std::string> words)
    {
        const FatFixture& f = GetParam();
        words.insert(words.begin() + 1, test::fixture(f.image).string());
        words.insert(words.begin() + 2, f.volume.begin(), f.volume.end());
        return test::runQsalvage(words);
    }
};

TEST_P(FatFixtureVolumes, ListShowsWhatSleuthKitShows)
{
    auto manifest = test::fatManifest(GetParam().manifest);
    ASSERT_GT(manifest.entries.size(), 400u);
    auto r = run({"list", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    test::expectListingMatchesManifest(manifest, test::parseJsonListing(r.out));
}

TEST_P(FatFixtureVolumes, SaveWritesLiveFilesWholeAndDeletedOnesFromTheirFreeClustersInARow)
{
    auto manifest = test::fatManifest(GetParam().manifest);
    test::TempDir dir;
    auto out = dir / "out";
    auto r = run({"save", "--output", out.string()});
    // 3: saved, and some deleted files are guessed or hold zeros.
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err;
    int deletedWhole = 0;
    for (const auto& m : manifest.entries) {
        auto path = out / test::shownPath(manifest, m.path);
        if (m.kind == "dir") {
            EXPECT_TRUE(std::filesystem::is_directory(path)) << path;
            continue;
        }
        ASSERT_TRUE(std::filesystem::exists(path)) << path;
        if (!m.deleted) {
            EXPECT_EQ(test::fileSha256(path), m.source) << path;
            EXPECT_EQ(test::fileMtimeIso(path), m.mtime) << path;
        } else if (m.contiguous && m.intact) {
            // One run nothing has taken since: the run from the entry
            // (exFAT) or the free clusters from the first (FAT) are all of it.
            EXPECT_EQ(test::fileSha256(path), m.source) << path;
            ++deletedWhole;
        } else {
            // Fragmented or overwritten: the guess gives no more than the size.
            EXPECT_LE(std::filesystem::file_size(path), m.size) << path;
        }
    }
    EXPECT_GE(deletedWhole, 5);
}

TEST_P(FatFixtureVolumes, FormattedModeBringsBackDeletedFilesStoredInOneRun)
{
    auto manifest = test::fatManifest(GetParam().manifest);
    // Formatted, a folder is its first cluster: the root's may not reach "Deleted".
    auto listed = test::parseJsonListing(run({"list", "--formatted", "--json"}).out);
    if (!listed.count("Deleted")) {
        std::size_t top = 0;
        for (const auto& [path, e] : listed)
            top += path.find('/') == std::string::npos;
        EXPECT_LE(top, manifest.clusterBytes / 32) << "more than the root's first cluster holds";
        return;
    }
    test::TempDir dir;
    auto out = dir / "out";
    auto r = run({"save", "--formatted", "--path", "Deleted", "--output", out.string()});
    // 3: saved, and some deleted files are guessed or hold zeros.
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err;
    int whole = 0;
    for (const auto& m : manifest.entries) {
        if (m.kind != "file" || m.path.rfind("Deleted/", 0) != 0)
            continue;
        auto path = out / test::shownPath(manifest, m.path).substr(8);
        ASSERT_TRUE(std::filesystem::exists(path)) << path;
        if (m.deleted && m.contiguous && m.intact) {
            EXPECT_EQ(test::fileSha256(path), m.source) << path;
            ++whole;
        }
    }
    EXPECT_GE(whole, 3);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, FatFixtureVolumes,
    ::testing::Values(FatFixture{"fat16", "fat16.vhdx", "fat16.manifest.txt", {"--volume", "0"}},
                      // The same disk as a compressed qcow2 image.
                      FatFixture{"fat16_qcow2", "fat16.qcow2", "fat16.manifest.txt", {"--volume", "0"}},
                      // The same disk converted by qemu-img, read through its compressed grains.
                      FatFixture{"fat16_stream_vmdk", "fat16-stream.vmdk", "fat16.manifest.txt", {"--volume", "0"}},
                      FatFixture{"fat32_512", "fat32.vhdx", "fat32-0.manifest.txt", {"--gpt", "--volume", "0"}},
                      FatFixture{"fat32_4k", "fat32.vhdx", "fat32-1.manifest.txt", {"--gpt", "--volume", "1"}},
                      FatFixture{"exfat", "exfat.vhdx", "exfat.manifest.txt", {"--gpt", "--volume", "0"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qis
