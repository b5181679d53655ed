// qsalvage list and save on deleted ext2, ext3 and ext4 files
// (tests/fixtures/make-undelete-ext-fixtures.sh): files removed with
// debugfs that keep their maps, a deleted folder with its files, an
// orphan no name is left for, a file whose blocks were partly taken again,
// names whose inode map was cleared, and names the kernel wiped.

#include "support/Fixtures.h"
#include "support/ListingJson.h"
#include "support/TabFields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace qis {
namespace {

struct UndeleteRow {
    std::string path, state, how;
    std::uint64_t size = 0;
    std::string sha256, inode, recoverability;
};

struct UndeleteVolume {
    std::string fileSystem, startSector, sectors;
    std::vector<UndeleteRow> rows;
};

UndeleteVolume undeleteManifest(int volume)
{
    UndeleteVolume v;
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/undelete-ext.manifest.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f = test::tabFields(line);
        if (f[0] == "volume" && f.size() >= 5 && f[1] == std::to_string(volume)) {
            v.fileSystem = f[2];
            v.startSector = f[3];
            v.sectors = f[4];
        } else if (f.size() >= 9 && f[0] == std::to_string(volume)) {
            v.rows.push_back({f[2], f[3], f[4], std::stoull(f[5]), f[6], f[7], f[8]});
        }
    }
    return v;
}

// The fixture with each volume's has_journal flag cleared: what the volumes
// themselves still hold. The journal's older copies bring back more (see
// UndeleteJournalCliTest.cpp).
std::filesystem::path withoutJournals()
{
    static test::TempDir dir;
    static const std::filesystem::path image = [] {
        auto copy = test::fixtureCopy("undelete-ext.img", dir);
        auto bytes = test::readWholeFile(copy);
        for (int v = 0; v < 3; ++v) {
            const std::uint64_t at = std::stoull(undeleteManifest(v).startSector) * 512 + 1024 + 0x5C;
            if (at + 4 <= bytes.size())
                bytes[at] &= ~0x04; // has_journal, in the low byte of the compatible features
        }
        test::writeWholeFile(copy, bytes);
        return copy;
    }();
    return image;
}

class UndeleteExt : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        manifest = undeleteManifest(GetParam());
        ASSERT_FALSE(manifest.startSector.empty());
        ASSERT_GE(manifest.rows.size(), 10u);
        volume = {withoutJournals().string(), "--start-sector", manifest.startSector, "--fs", "extX",
                  "--size-mb", std::to_string(std::stoull(manifest.sectors) / 2048)};
    }
    test::CommandResult run(const std::string& command, std::vector<std::string> more)
    {
        std::vector<std::string> words = {command};
        words.insert(words.end(), volume.begin(), volume.end());
        words.insert(words.end(), more.begin(), more.end());
        return test::runQsalvage(words);
    }
    UndeleteVolume manifest;
    std::vector<std::string> volume;
};

TEST_P(UndeleteExt, ListShowsDeletedFilesWithHowMuchIsLeft)
{
    auto r = run("list", {"--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto listed = test::parseJsonListing(r.out);
    const std::map<std::string, std::string> shown = {
        {"whole", "whole"}, {"partly", "partly overwritten"}, {"none", "none"}};
    std::size_t orphans = 0;
    for (const auto& m : manifest.rows) {
        auto it = listed.find(m.path);
        if (m.recoverability == "gone") {
            // The driver wiped the name and cleared the map: nothing to list,
            // and nothing is made up for it.
            EXPECT_EQ(it, listed.end()) << m.path;
            continue;
        }
        ASSERT_NE(it, listed.end()) << m.path << " (" << m.how << ") is missing";
        EXPECT_EQ(it->second.type, "file") << m.path;
        if (m.state == "live") {
            EXPECT_FALSE(it->second.deleted) << m.path;
            EXPECT_EQ(it->second.recoverability, "") << m.path;
            EXPECT_EQ(it->second.size, m.size) << m.path;
            continue;
        }
        EXPECT_TRUE(it->second.deleted) << m.path;
        EXPECT_EQ(it->second.recoverability, shown.at(m.recoverability)) << m.path << " (" << m.how << ")";
        // A cleared inode has no size left to show.
        EXPECT_EQ(it->second.size, m.how == "map-cleared" ? 0 : m.size) << m.path;
        orphans += m.how == "orphan";
    }
    EXPECT_EQ(orphans, 1u);
    // The folders the files were deleted with.
    ASSERT_TRUE(listed.count("Gone")) << "the deleted folder is missing";
    EXPECT_TRUE(listed.at("Gone").deleted);
    EXPECT_EQ(listed.at("Gone").type, "dir");
    ASSERT_TRUE(listed.count("Gone/Sub"));
    EXPECT_TRUE(listed.at("Gone/Sub").deleted);
    // ORPHAN_ENTRY holds the orphan alone: files with a name elsewhere and
    // inodes whose maps are cleared are not there.
    std::size_t underOrphans = 0;
    for (const auto& [path, e] : listed)
        underOrphans += path.rfind("ORPHAN_ENTRY/", 0) == 0;
    EXPECT_EQ(underOrphans, 1u);
    EXPECT_FALSE(listed.at("ORPHAN_ENTRY").deleted);
}

TEST_P(UndeleteExt, SaveBringsBackWhatIsLeftAndZerosWhatIsTaken)
{
    test::TempDir dir;
    auto out = dir / "out";
    auto r = run("save", {"--output", out.string()});
    // 3: saved, and some deleted files are guessed or hold zeros.
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err;
    // The partly reused file alone comes back with parts missing.
    EXPECT_NE(r.err.find(" 1 with unreadable parts"), std::string::npos) << r.err;
    int whole = 0;
    for (const auto& m : manifest.rows) {
        auto path = out / m.path;
        if (m.recoverability == "gone")
            continue;
        ASSERT_TRUE(std::filesystem::exists(path)) << m.path;
        if (m.state == "live" || m.recoverability == "whole") {
            EXPECT_EQ(test::fileSha256(path), m.sha256) << m.path << " (" << m.how << ")";
            whole += m.state != "live";
        } else if (m.recoverability == "none") {
            EXPECT_EQ(std::filesystem::file_size(path), 0u) << m.path;
        }
    }
    EXPECT_GE(whole, 8);
}

TEST_P(UndeleteExt, PartlyReusedFileKeepsItsFreeBlocksAndZerosTheTakenOnes)
{
    auto it = std::find_if(manifest.rows.begin(), manifest.rows.end(),
                           [](const UndeleteRow& m) { return m.how == "partly-reused"; });
    ASSERT_NE(it, manifest.rows.end());
    test::TempDir dir;
    auto out = dir / "out";
    auto r = run("save", {"--path", it->path, "--output", out.string()});
    // 3: saved, and some deleted files are guessed or hold zeros.
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err;
    auto saved = test::readWholeFile(out / std::filesystem::path(it->path).filename());
    ASSERT_EQ(saved.size(), it->size);
    // The source: every KiB starts with a line naming the file and the KiB.
    constexpr std::size_t kKib = 1024;
    std::size_t zeroed = 0, kept = 0;
    for (std::size_t at = 0; at < saved.size(); at += kKib) {
        auto begin = saved.begin() + static_cast<std::ptrdiff_t>(at);
        auto end = saved.begin() + static_cast<std::ptrdiff_t>(std::min(saved.size(), at + kKib));
        if (std::all_of(begin, end, [](std::uint8_t b) { return b == 0; })) {
            ++zeroed;
            continue;
        }
        char head[40];
        std::snprintf(head, sizeof head, "%s part.txt KiB %06zu\n", manifest.fileSystem.c_str(), at / kKib);
        EXPECT_TRUE(std::equal(head, head + std::strlen(head), begin)) << "KiB " << at / kKib << " of " << it->path;
        ++kept;
    }
    // The new file took some of its blocks, and the rest are its own.
    EXPECT_GT(zeroed, 0u);
    EXPECT_GT(kept, 0u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, UndeleteExt, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return std::string(info.param == 0 ? "ext2" : info.param == 1 ? "ext3" : "ext4"); });

} // namespace
} // namespace qis
