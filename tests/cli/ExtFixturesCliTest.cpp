// qsalvage list and save on ext2, ext3 and ext4 volumes made by mke2fs -d
// and changed through the kernel's driver, against what Sleuth Kit read
// from them (tests/fixtures/make-ext-fixtures.sh): block maps and extent
// trees with index levels, sparse and never-written blocks, indexed
// folders, hard links, and a volume whose primary superblock is gone.

#include "support/Fixtures.h"
#include "support/ListingJson.h"
#include "support/TabFields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace qis {
namespace {

struct ExtManifestEntry {
    std::string kind, state, path, size, sha256, source, mtime, properties;
};

struct ExtManifest {
    std::string fileSystem, startSector, sectors;
    std::vector<ExtManifestEntry> entries;
};

ExtManifest extManifest(int volume)
{
    ExtManifest m;
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/ext-" + std::to_string(volume) + ".manifest.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f = test::tabFields(line);
        if (f[0] == "volume" && f.size() >= 6) {
            m.fileSystem = f[2];
            m.startSector = f[4];
            m.sectors = f[5];
        } else if (f.size() >= 11 && f[0] != "layout" && f[0] != "damage") {
            m.entries.push_back({f[0], f[1], f[2], f[4], f[5], f[6], f[7], f[10]});
        }
    }
    return m;
}

class ExtFixtureVolumes : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        manifest = extManifest(GetParam());
        ASSERT_FALSE(manifest.startSector.empty());
        // Typed in as custom settings: the damaged volume's table entry no
        // longer says ext.
        volume = {test::fixture("ext.vhdx").string(), "--start-sector", manifest.startSector, "--fs", "extX",
                  "--size-mb", std::to_string(std::stoull(manifest.sectors) / 2048)};
    }
    test::CommandResult run(const std::string& command, std::vector<std::string> more)
    {
        std::vector<std::string> words = {command};
        words.insert(words.end(), volume.begin(), volume.end());
        words.insert(words.end(), more.begin(), more.end());
        return test::runQsalvage(words);
    }
    [[nodiscard]] static bool shown(const ExtManifestEntry& m)
    {
        return (m.kind == "dir" || m.kind == "file") && m.state == "live" && m.path.rfind("$OrphanFiles", 0) != 0;
    }
    ExtManifest manifest;
    std::vector<std::string> volume;
};

TEST_P(ExtFixtureVolumes, ListShowsEveryLiveFolderAndFileSleuthKitShows)
{
    auto r = run("list", {"--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto listed = test::parseJsonListing(r.out);
    std::set<std::string> expected;
    for (const auto& m : manifest.entries) {
        if (!shown(m)) {
            if (m.state == "live") {
                EXPECT_FALSE(listed.count(m.path)) << m.kind << " listed: " << m.path;
            }
            continue;
        }
        expected.insert(m.path);
        auto it = listed.find(m.path);
        ASSERT_NE(it, listed.end()) << m.path << " is missing";
        EXPECT_EQ(it->second.type, m.kind) << m.path;
        EXPECT_FALSE(it->second.deleted) << m.path;
        EXPECT_EQ(it->second.mtime, m.mtime) << m.path;
        if (m.kind == "file") {
            EXPECT_EQ(std::to_string(it->second.size), m.size) << m.path;
        }
    }
    // A removed file's name stays in its folder's block; where its inode is
    // free it is listed, marked deleted.
    int deleted = 0;
    for (const auto& m : manifest.entries)
        if (m.kind == "file" && m.state == "deleted" && m.path.rfind("$OrphanFiles", 0) != 0) {
            expected.insert(m.path);
            auto it = listed.find(m.path);
            ASSERT_NE(it, listed.end()) << m.path << " is missing";
            EXPECT_TRUE(it->second.deleted) << m.path;
            ++deleted;
        }
    EXPECT_GE(deleted, 1);
    for (const auto& [path, e] : listed)
        EXPECT_TRUE(expected.count(path)) << "listed but not in the golden listing: " << path;
}

TEST_P(ExtFixtureVolumes, SaveWritesEveryRegularFileByteForByteHolesIncluded)
{
    test::TempDir dir;
    auto out = dir / "out";
    auto r = run("save", {"--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int sparse = 0;
    for (const auto& m : manifest.entries) {
        if (m.kind == "file" && m.state == "deleted" && m.properties.find(",intact") != std::string::npos) {
            EXPECT_EQ(test::fileSha256(out / m.path), m.source) << m.path; // its inode still said where the data was
            continue;
        }
        if (!shown(m))
            continue;
        auto path = out / m.path;
        if (m.kind == "dir") {
            EXPECT_TRUE(std::filesystem::is_directory(path)) << m.path;
            continue;
        }
        ASSERT_TRUE(std::filesystem::exists(path)) << m.path;
        EXPECT_EQ(test::fileSha256(path), m.source) << m.path << " " << m.properties;
        EXPECT_EQ(test::fileMtimeIso(path), m.mtime) << m.path;
        sparse += m.properties.find("sparse") != std::string::npos;
    }
    EXPECT_GE(sparse, 1);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExtFixtureVolumes, ::testing::Values(0, 1, 2, 3, 4),
                         [](const auto& info) { return "volume" + std::to_string(info.param); });

// A volume of three and a half MiB, as a partition laid out by cylinders
// may be: the volume list shows "3", and the files in its last half MiB must
// come back all the same.
TEST(ExtVolumeEndingInsideAMebibyte, SaveWritesTheFilesInItsLastPartMebibyte)
{
    constexpr std::uint64_t kMiB = 1048576;
    test::TempDir dir;
    std::filesystem::create_directories(dir / "files");
    std::vector<std::vector<std::uint8_t>> contents;
    for (int i = 0; i < 12; ++i) {
        std::vector<std::uint8_t> bytes(250000);
        for (std::size_t k = 0; k < bytes.size(); ++k)
            bytes[k] = static_cast<std::uint8_t>((k * 131 + k / 977 + static_cast<std::size_t>(i) * 61) & 0xFF);
        test::writeWholeFile(dir / "files" / ("f" + std::to_string(i) + ".bin"), bytes);
        contents.push_back(std::move(bytes));
    }
    auto image = dir / "volume.img";
    test::writeWholeFile(image, std::vector<std::uint8_t>(3 * kMiB + kMiB / 2, 0));
    auto made = test::runCommand("PATH=\"$PATH:/usr/sbin:/sbin\" mke2fs -q -F -t ext2 -b 1024 -m 0 -d " +
                                 test::shellQuote((dir / "files").string()) + " " + test::shellQuote(image.string()));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    auto disk = test::readWholeFile(image);
    ASSERT_TRUE(std::any_of(disk.begin() + 3 * kMiB, disk.end(), [](std::uint8_t b) { return b != 0; }))
        << "mke2fs left the last half MiB empty; the test needs files there";

    auto out = dir / "out";
    auto r = test::runQsalvage({"save", image.string(), "--start-sector", "0", "--fs", "extX", "--size-mb", "3",
                                "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(" 0 with unreadable parts"), std::string::npos) << r.err;
    for (std::size_t i = 0; i < contents.size(); ++i)
        EXPECT_EQ(test::readWholeFile(out / ("f" + std::to_string(i) + ".bin")), contents[i]) << "f" << i;
}

} // namespace
} // namespace qis
