// The damaged-volume fixtures (tests/fixtures/make-damaged-fixtures.sh):
// volumes made and filled by real tools, listed by Sleuth Kit while intact,
// then damaged. Each recovery mode must bring back what the intact volume
// held; damaged.layout.txt says where its structures were.

#include "support/CandidatesJson.h"
#include "support/FatListingCheck.h"
#include "support/FatManifest.h"
#include "support/Fixtures.h"
#include "support/ListingJson.h"
#include "support/NtfsManifest.h"
#include "support/TabFields.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace qis {
namespace {

// The key=value fields of one volume's line in damaged.layout.txt.
std::map<std::string, std::string> layout(const std::string& image, int index)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/damaged.layout.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        auto f = test::tabFields(line);
        if (f.size() < 5 || f[0] != image || f[1] != std::to_string(index))
            continue;
        std::map<std::string, std::string> fields = {{"first-sector", f[2]}, {"sectors", f[3]}, {"fs", f[4]}};
        for (std::size_t i = 5; i < f.size(); ++i)
            if (auto eq = f[i].find('='); eq != std::string::npos)
                fields[f[i].substr(0, eq)] = f[i].substr(eq + 1);
        return fields;
    }
    throw std::runtime_error("no layout line for " + image + " volume " + std::to_string(index));
}

std::uint64_t number(const std::map<std::string, std::string>& fields, const std::string& key)
{
    return std::stoull(fields.at(key));
}

// A volume of a damaged disk named by where it starts, as a user whose
// partition table no longer says what is there would give it.
test::CommandResult onVolume(const std::string& image, int index, const std::string& fs, std::vector<std::string> words)
{
    auto l = layout(image, index);
    std::vector<std::string> volume = {test::fixture(image).string(), "--start-sector", l.at("first-sector"), "--fs", fs,
                                       "--size-mb", std::to_string(number(l, "sectors") * 512 / 1048576)};
    words.insert(words.begin() + 1, volume.begin(), volume.end());
    return test::runQsalvage(words);
}

constexpr const char* kNtfs = "damaged-ntfs.vhdx";
constexpr const char* kFat = "damaged-fat.vhdx";

TEST(DamagedNtfsFixture, ZeroedBootSectorsTheMftIsFoundAndEverythingComesBack)
{
    auto list = onVolume(kNtfs, 0, "NTFS", {"list", "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    test::expectListedAsNtfsManifest(list.out, "damaged-ntfs-0.manifest.txt");
    test::TempDir dir;
    auto save = onVolume(kNtfs, 0, "NTFS", {"save", "--output", (dir / "out").string()});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    EXPECT_GT(test::expectSavedAsNtfsManifest(dir / "out", "damaged-ntfs-0.manifest.txt"), 20);
}

TEST(DamagedNtfsFixture, ZeroedBootSectorsDeepModeFindsEveryRecordAndAdvancedModeTheTree)
{
    auto deep = onVolume(kNtfs, 0, "NTFS", {"list", "--mode", "deep", "--json"});
    ASSERT_EQ(deep.exitCode, 0) << deep.err;
    std::multiset<std::string> names;
    for (const auto& [path, e] : test::parseJsonListing(deep.out)) {
        EXPECT_EQ(path.rfind("ORPHAN_ENTRY", 0), 0u) << path;
        names.insert(path.substr(path.rfind('/') + 1));
    }
    for (const auto& m : test::ntfsManifest("damaged-ntfs-0.manifest.txt")) {
        if (m.kind != "stream" && m.path.rfind("$RECYCLE.BIN", 0) != 0) {
            EXPECT_TRUE(names.count(m.path.substr(m.path.rfind('/') + 1))) << m.path;
        }
    }

    auto l = layout(kNtfs, 0);
    auto candidates = onVolume(kNtfs, 0, "NTFS", {"candidates", "--json"});
    ASSERT_EQ(candidates.exitCode, 0) << candidates.err;
    auto mfts = test::offeredNumbers(candidates.out, "candidates", "offset");
    ASSERT_FALSE(mfts.empty()) << candidates.out;
    EXPECT_EQ(mfts[0], number(l, "mft-byte"));
    auto advanced = onVolume(kNtfs, 0, "NTFS",
                             {"list", "--mode", "advanced", "--sectors-per-cluster",
                              std::to_string(number(l, "cluster") / 512), "--json"});
    ASSERT_EQ(advanced.exitCode, 0) << advanced.err;
    test::expectListedAsNtfsManifest(advanced.out, "damaged-ntfs-0.manifest.txt");
}

TEST(DamagedNtfsFixture, OverwrittenFirstMftRecordsAreTakenFromTheMirror)
{
    auto list = test::runQsalvage({"list", test::fixture(kNtfs).string(), "--gpt", "--volume", "1", "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    test::expectListedAsNtfsManifest(list.out, "damaged-ntfs-1.manifest.txt");
    test::TempDir dir;
    auto save = test::runQsalvage(
        {"save", test::fixture(kNtfs).string(), "--gpt", "--volume", "1", "--output", (dir / "out").string()});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    EXPECT_GT(test::expectSavedAsNtfsManifest(dir / "out", "damaged-ntfs-1.manifest.txt"), 20);
}

TEST(DamagedNtfsFixture, AReformattedVolumesOldMftIsACandidateAndReadWithItsOwnClusterSize)
{
    auto l = layout(kNtfs, 2);
    // The new, empty volume is what the boot sector describes.
    auto standard = test::runQsalvage({"list", test::fixture(kNtfs).string(), "--gpt", "--volume", "2", "--json"});
    ASSERT_EQ(standard.exitCode, 0) << standard.err;
    EXPECT_EQ(standard.out.find("\"path\": \"Documents"), std::string::npos);

    auto candidates = onVolume(kNtfs, 2, "NTFS", {"candidates", "--json"});
    ASSERT_EQ(candidates.exitCode, 0) << candidates.err;
    auto mfts = test::offeredNumbers(candidates.out, "candidates", "offset");
    auto old = std::find(mfts.begin(), mfts.end(), number(l, "old-mft-byte"));
    ASSERT_NE(old, mfts.end()) << candidates.out;
    EXPECT_NE(std::find(mfts.begin(), mfts.end(), number(l, "new-mft-byte")), mfts.end()) << candidates.out;
    const std::string choice = std::to_string(old - mfts.begin());
    const std::string spc = std::to_string(number(l, "old-cluster") / 512);

    auto advanced = onVolume(kNtfs, 2, "NTFS",
                             {"list", "--mode", "advanced", "--candidate", choice, "--sectors-per-cluster", spc, "--json"});
    ASSERT_EQ(advanced.exitCode, 0) << advanced.err;
    test::expectListedAsNtfsManifest(advanced.out, "damaged-ntfs-2.manifest.txt");
    test::TempDir dir;
    auto save = onVolume(kNtfs, 2, "NTFS",
                         {"save", "--mode", "advanced", "--candidate", choice, "--sectors-per-cluster", spc, "--output",
                          (dir / "out").string()});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    EXPECT_GT(test::expectSavedAsNtfsManifest(dir / "out", "damaged-ntfs-2.manifest.txt"), 20);
}

TEST(DamagedFatFixture, AnExfatVolumeWithoutItsMainBootRegionIsReadFromTheBackup)
{
    auto golden = test::fatManifest("damaged-fat-2.manifest.txt");
    auto list = onVolume(kFat, 2, "FAT64", {"list", "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    test::expectListingMatchesManifest(golden, test::parseJsonListing(list.out));
    // Without the backup too, the standard scan has nothing to go on.
    auto none = onVolume(kFat, 3, "FAT64", {"list", "--json"});
    EXPECT_NE(none.exitCode, 0);
    EXPECT_NE(none.err.find("Selected Drive is not in exFat Format"), std::string::npos) << none.err;
}

struct DamagedFatVolume {
    int index;
    const char* fs;
};

class DamagedFatFixture : public ::testing::TestWithParam<DamagedFatVolume> {
protected:
    test::CommandResult run(std::vector<std::string> words)
    {
        return onVolume(kFat, GetParam().index, GetParam().fs, std::move(words));
    }
    std::string manifest() const { return "damaged-fat-" + std::to_string(GetParam().index) + ".manifest.txt"; }
};

TEST_P(DamagedFatFixture, CandidatesOfferTheIntactLayoutFirst)
{
    auto l = layout(kFat, GetParam().index);
    auto r = run({"candidates", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto fats = test::offeredNumbers(r.out, "candidates", "offset");
    auto clusters = test::offeredNumbers(r.out, "clusterSizes", "clusterBytes");
    ASSERT_FALSE(fats.empty()) << r.out;
    ASSERT_FALSE(clusters.empty()) << r.out;
    EXPECT_EQ(clusters[0], number(l, "cluster"));
    if (l.at("fs") == "exfat") {
        EXPECT_EQ(fats[0], number(l, "fat-byte"));
        auto heaps = test::offeredNumbers(r.out, "heaps", "offset");
        ASSERT_FALSE(heaps.empty()) << r.out;
        EXPECT_EQ(heaps[0], number(l, "heap-byte"));
    } else {
        ASSERT_GE(fats.size(), 2u) << r.out;
        EXPECT_EQ(fats[0], number(l, "fat0-byte"));
        EXPECT_EQ(fats[1], number(l, "fat1-byte"));
    }
}

TEST_P(DamagedFatFixture, AdvancedModeWithTheFirstChoicesBringsBackTheIntactVolume)
{
    auto golden = test::fatManifest(manifest());
    auto list = run({"list", "--mode", "advanced", "--json"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    test::expectListingMatchesManifest(golden, test::parseJsonListing(list.out), {"ORPHAN ENTRY"});
    test::TempDir dir;
    auto save = run({"save", "--mode", "advanced", "--output", (dir / "out").string()});
    // 3: saved, and some deleted files are guessed or hold zeros.
    ASSERT_TRUE(save.exitCode == 0 || save.exitCode == 3) << save.err;
    test::expectLiveFilesSaved(golden, dir / "out");
}

INSTANTIATE_TEST_SUITE_P(Volumes, DamagedFatFixture,
                         ::testing::Values(DamagedFatVolume{0, "FAT16"}, DamagedFatVolume{1, "FAT32"},
                                           DamagedFatVolume{2, "FAT64"}, DamagedFatVolume{3, "FAT64"}),
                         [](const auto& info) { return "volume" + std::to_string(info.param.index); });

} // namespace
} // namespace qis
