// NTFS volumes made by mkntfs and ntfs-3g, damaged afterwards: the boot
// sector (and its backup at the volume's end) zeroed, or the MFT's first
// records overwritten. Each recovery scan must bring back what the intact
// volume lists (itself checked against Sleuth Kit in NtfsFixturesCliTest).

#include "support/Fixtures.h"
#include "support/ListingJson.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace qis {
namespace {

struct DamagedNtfs {
    const char* name;
    const char* image;
    std::uint64_t sizeMb;
    std::uint64_t clusterSectors; // what mkntfs chose
    std::uint64_t mftSector;      // from the volume start
    std::uint64_t totalSectors;   // the boot sector's count; its backup lies just after
};

constexpr std::uint64_t kStart = 2048;

bool sameEntry(const test::Listed& a, const test::Listed& b)
{
    return a.type == b.type && a.deleted == b.deleted && a.size == b.size && a.mtime == b.mtime &&
           a.attributes == b.attributes;
}

void expectSameListing(const std::map<std::string, test::Listed>& expected,
                       const std::map<std::string, test::Listed>& actual, const std::set<std::string>& lost = {})
{
    for (const auto& [path, e] : expected) {
        if (lost.count(path))
            continue;
        auto it = actual.find(path);
        if (it == actual.end()) {
            ADD_FAILURE() << path << " is missing";
            continue;
        }
        EXPECT_TRUE(sameEntry(e, it->second)) << path;
    }
    for (const auto& [path, e] : actual)
        EXPECT_TRUE(expected.count(path)) << "not on the intact volume: " << path;
}

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

class DamagedNtfsVolumes : public ::testing::TestWithParam<DamagedNtfs> {
protected:
    std::vector<std::string> customVolume() const
    {
        return {"--start-sector", std::to_string(kStart), "--fs", "NTFS", "--size-mb",
                std::to_string(GetParam().sizeMb)};
    }
    test::CommandResult run(const std::filesystem::path& image, std::vector<std::string> words)
    {
        words.insert(words.begin() + 1, image.string());
        auto volume = customVolume();
        words.insert(words.begin() + 2, volume.begin(), volume.end());
        return test::runQsalvage(words);
    }
    std::filesystem::path withoutBootSectors()
    {
        const DamagedNtfs& f = GetParam();
        return test::damagedRawCopy(f.image, "vhdx", {{kStart, 1}, {kStart + f.totalSectors, 1}},
                                    std::string("noboot-") + f.name);
    }
    std::map<std::string, test::Listed> intactListing()
    {
        auto r = test::runQsalvage({"list", test::fixture(GetParam().image).string(), "--volume", "0", "--json"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        auto listed = test::parseJsonListing(r.out);
        EXPECT_GT(listed.size(), 20u);
        return listed;
    }
};

TEST_P(DamagedNtfsVolumes, WithoutABootSectorTheMftIsFoundByItsFirstRecord)
{
    auto r = run(withoutBootSectors(), {"list", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectSameListing(intactListing(), test::parseJsonListing(r.out));
}

TEST_P(DamagedNtfsVolumes, WithoutABootSectorFilesAreSavedWithTheClusterSizeTheMftTells)
{
    test::TempDir dir;
    auto intact = dir / "intact", damaged = dir / "damaged";
    const int intactExit =
        test::runQsalvage({"save", test::fixture(GetParam().image).string(), "--volume", "0", "--output", intact.string()})
            .exitCode;
    // 3: saved, and some deleted files hold zeros.
    ASSERT_TRUE(intactExit == 0 || intactExit == 3) << intactExit;
    auto r = run(withoutBootSectors(), {"save", "--output", damaged.string()});
    ASSERT_EQ(r.exitCode, intactExit) << r.err;
    std::size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(intact)) {
        // $Boot's contents are what was zeroed.
        if (!e.is_regular_file() || e.path().filename() == "$Boot")
            continue;
        auto twin = damaged / std::filesystem::relative(e.path(), intact);
        ASSERT_TRUE(std::filesystem::exists(twin)) << twin;
        EXPECT_EQ(test::fileSha256(twin), test::fileSha256(e.path())) << twin;
        ++files;
    }
    EXPECT_GE(files, 10u);
}

TEST_P(DamagedNtfsVolumes, DeepModeHangsEveryNamedRecordUnderOrphanEntry)
{
    auto r = run(withoutBootSectors(), {"list", "--mode", "deep", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto deep = test::parseJsonListing(r.out);
    std::multiset<std::string> names;
    for (const auto& [path, e] : deep) {
        EXPECT_EQ(path.rfind("ORPHAN_ENTRY", 0), 0u) << path;
        // Folders sit right under ORPHAN_ENTRY, files one level further at most.
        EXPECT_LE(std::count(path.begin(), path.end(), '/'), 2) << path;
        names.insert(baseName(path));
    }
    for (const auto& [path, e] : intactListing()) {
        // Named streams are not records, and recycled files are shown under
        // the names kept beside them in their folder, which deep mode does not have.
        if (path == "ORPHAN_ENTRY" || path.find(':') != std::string::npos || path.rfind("$RECYCLE.BIN/", 0) == 0)
            continue;
        EXPECT_TRUE(names.count(baseName(path))) << path << " has no record in the deep listing";
    }
}

TEST_P(DamagedNtfsVolumes, CandidatesFindTheMftAndTheAdvancedScanReadsItWithTheChosenClusterSize)
{
    const DamagedNtfs& f = GetParam();
    auto image = withoutBootSectors();
    auto r = run(image, {"candidates", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::smatch first;
    ASSERT_TRUE(std::regex_search(r.out, first, std::regex("\"text\": \"MFT_ENTRY:0\", \"offset\": ([0-9]+)")))
        << r.out;
    EXPECT_EQ(std::stoull(first[1]), f.mftSector * 512);
    EXPECT_NE(r.out.find("\"text\": \"8\", \"value\": 8, \"clusterBytes\": 4096"), std::string::npos) << r.out;

    auto advanced = run(image, {"list", "--mode", "advanced", "--candidate", "0", "--sectors-per-cluster",
                                std::to_string(f.clusterSectors), "--json"});
    ASSERT_EQ(advanced.exitCode, 0) << advanced.err;
    expectSameListing(intactListing(), test::parseJsonListing(advanced.out));
}

TEST_P(DamagedNtfsVolumes, OverwrittenFirstMftRecordsAreReadFromTheMirror)
{
    const DamagedNtfs& f = GetParam();
    // Records 0 to 3 ($MFT, $MFTMirr, $LogFile, $Volume), 4 KiB.
    auto image = test::damagedRawCopy(f.image, "vhdx", {{kStart + f.mftSector, 8}}, std::string("nomft-") + f.name);
    auto r = test::runQsalvage({"list", image.string(), "--volume", "0", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectSameListing(intactListing(), test::parseJsonListing(r.out), {"$MFT", "$MFTMirr", "$LogFile", "$Volume"});
}

TEST_P(DamagedNtfsVolumes, ALostBootSectorAndFirstMftRecordsAreReadFromTheirBackups)
{
    const DamagedNtfs& f = GetParam();
    // The copy of the boot sector at the volume's end says where the MFT and
    // its mirror are, and the mirror holds the MFT's own record.
    auto image = test::damagedRawCopy(f.image, "vhdx", {{kStart, 1}, {kStart + f.mftSector, 8}},
                                      std::string("noboot-nomft-") + f.name);
    auto r = run(image, {"list", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectSameListing(intactListing(), test::parseJsonListing(r.out), {"$MFT", "$MFTMirr", "$LogFile", "$Volume"});
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DamagedNtfsVolumes,
                         ::testing::Values(DamagedNtfs{"clusters4k", "ntfs-features.vhdx", 64, 8, 32, 131071},
                                           DamagedNtfs{"clusters512", "ntfs-512.vhdx", 16, 1, 32, 32767}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qis
