// qsalvage list and save on HFS+ volumes made by xorriso behind an Apple
// partition map, against what Sleuth Kit read from them
// (tests/fixtures/make-hfsplus-fixtures.sh); and deep mode on the same.

#include "support/Fixtures.h"
#include "support/ListingJson.h"
#include "support/TabFields.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace qis {
namespace {

struct HfsManifestEntry {
    std::string kind, path, size, sha256, mtime;
};

struct HfsManifest {
    std::string startSector, sectors;
    std::vector<HfsManifestEntry> entries;
};

HfsManifest hfsManifest(const std::string& name)
{
    HfsManifest m;
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/" + name);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f = test::tabFields(line);
        if (f[0] == "volume" && f.size() >= 3) {
            m.startSector = f[1];
            m.sectors = f[2];
        } else if ((f[0] == "dir" || f[0] == "file" || f[0] == "link") && f.size() >= 7) {
            m.entries.push_back({f[0], f[1], f[3], f[4], f[6]});
        }
    }
    return m;
}

class HfsFixtureVolumes : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        manifest = hfsManifest(std::string(GetParam()) + ".manifest.txt");
        ASSERT_FALSE(manifest.startSector.empty());
        // The volume as the volume list page's custom settings give it.
        std::uint64_t mib = std::stoull(manifest.sectors) / 2048 + 1;
        volume = {test::fixture(std::string(GetParam()) + ".vhdx").string(), "--start-sector", manifest.startSector,
                  "--fs", "HFS+", "--size-mb", std::to_string(mib)};
    }
    test::CommandResult run(const std::string& command, std::vector<std::string> more)
    {
        std::vector<std::string> words = {command};
        words.insert(words.end(), volume.begin(), volume.end());
        words.insert(words.end(), more.begin(), more.end());
        return test::runQsalvage(words);
    }
    HfsManifest manifest;
    std::vector<std::string> volume;
};

TEST_P(HfsFixtureVolumes, ListShowsEveryFolderAndFileSleuthKitShows)
{
    auto r = run("list", {"--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Scanning process Done."), std::string::npos) << r.err;
    auto listed = test::parseJsonListing(r.out);
    std::set<std::string> expected;
    for (const auto& m : manifest.entries) {
        if (m.kind == "link") {
            EXPECT_FALSE(listed.count(m.path)) << "a symbolic link is listed: " << m.path;
            continue;
        }
        expected.insert(m.path);
        auto it = listed.find(m.path);
        ASSERT_NE(it, listed.end()) << m.path << " is missing";
        EXPECT_EQ(it->second.type, m.kind) << m.path;
        if (m.kind == "file") {
            EXPECT_EQ(std::to_string(it->second.size), m.size) << m.path;
            EXPECT_EQ(it->second.mtime, m.mtime) << m.path;
        }
    }
    for (const auto& [path, e] : listed)
        EXPECT_TRUE(expected.count(path)) << "listed but not in the golden listing: " << path;
}

TEST_P(HfsFixtureVolumes, SaveWritesEveryFileByteForByteWithItsTime)
{
    test::TempDir dir;
    auto out = dir / "out";
    auto r = run("save", {"--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const auto& m : manifest.entries) {
        auto path = out / m.path;
        if (m.kind == "dir") {
            EXPECT_TRUE(std::filesystem::is_directory(path)) << m.path;
        } else if (m.kind == "file") {
            ASSERT_TRUE(std::filesystem::exists(path)) << m.path;
            EXPECT_EQ(test::fileSha256(path), m.sha256) << m.path;
            EXPECT_EQ(test::fileMtimeIso(path), m.mtime) << m.path;
        }
    }
}

TEST_P(HfsFixtureVolumes, DeepModeFindsEveryRecordAndHangsTheFoldersUnderOrphanEntry)
{
    auto r = run("list", {"--mode", "deep", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto listed = test::parseJsonListing(r.out);
    ASSERT_TRUE(listed.count("ORPHAN_ENTRY"));
    std::multiset<std::string> names;
    for (const auto& [path, e] : listed) {
        auto slash = path.rfind('/');
        names.insert(path.substr(slash == std::string::npos ? 0 : slash + 1));
        if (e.type == "dir" && path != "ORPHAN_ENTRY") {
            // Every folder sits directly under ORPHAN_ENTRY.
            EXPECT_EQ(path.rfind("ORPHAN_ENTRY/", 0), 0u) << path;
            EXPECT_EQ(path.find('/', 13), std::string::npos) << path;
        }
    }
    for (const auto& m : manifest.entries) {
        if (m.kind == "link")
            continue;
        auto slash = m.path.rfind('/');
        EXPECT_TRUE(names.count(m.path.substr(slash == std::string::npos ? 0 : slash + 1))) << m.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, HfsFixtureVolumes, ::testing::Values("hfsplus-tree", "hfsplus-512"),
                         [](const auto& info) {
                             std::string n = info.param;
                             return n.substr(n.find('-') + 1);
                         });

} // namespace
} // namespace qis
