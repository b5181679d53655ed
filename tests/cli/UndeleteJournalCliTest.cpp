// qsalvage list and save on files the kernel's ext3 and ext4 drivers
// deleted (tests/fixtures/make-undelete-journal-fixtures.sh): the driver
// cleared their inodes' maps and wiped their names, so only older copies of
// the inode-table, folder, indirect and extent blocks in the journal say
// what they were and where their data lay.

#include "support/Fixtures.h"
#include "support/ListingJson.h"
#include "support/TabFields.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace qis {
namespace {

struct JournalManifestEntry {
    std::string path; // without the leading slash, as list prints it
    bool deleted = false;
    std::uint64_t size = 0;
    std::string sha256;
};

// Volume 1 (ext3) or 2 (ext4) of undelete-journal.img.
std::vector<JournalManifestEntry> journalManifest(int volume)
{
    std::vector<JournalManifestEntry> entries;
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/undelete-journal.manifest.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f = test::tabFields(line);
        if (f.size() != 5 || f[0] != std::to_string(volume))
            continue;
        entries.push_back({f[1].substr(1), f[2] == "deleted", std::stoull(f[3]), f[4]});
    }
    return entries;
}

struct Volume {
    int manifestVolume;
    const char* cliVolume;
    const char* what;
};
const Volume kVolumes[] = {{1, "0", "ext3, 1 KiB blocks, block maps"}, {2, "1", "ext4, 4 KiB blocks, extents"}};

TEST(UndeleteJournalCli, DeletedFilesAndFoldersAreListedUnderTheirNamesFromTheJournal)
{
    for (const Volume& v : kVolumes) {
        SCOPED_TRACE(v.what);
        auto r = test::runQsalvage({"list", test::fixture("undelete-journal.img").string(), "--volume", v.cliVolume, "--json"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        auto listed = test::parseJsonListing(r.out);
        auto manifest = journalManifest(v.manifestVolume);
        ASSERT_EQ(manifest.size(), 12u);
        for (const auto& m : manifest) {
            auto it = listed.find(m.path);
            ASSERT_NE(it, listed.end()) << m.path << " is missing";
            EXPECT_EQ(it->second.type, "file") << m.path;
            EXPECT_EQ(it->second.deleted, m.deleted) << m.path;
            EXPECT_EQ(it->second.size, m.size) << m.path;
            if (m.deleted) {
                EXPECT_TRUE(it->second.recoverability == "whole" || it->second.recoverability == "partly overwritten")
                    << m.path << ": " << it->second.recoverability;
            }
        }
        // The removed folders come back too, with what their blocks held.
        for (const char* folder : {"Docs", "Docs/Sub"}) {
            auto it = listed.find(folder);
            ASSERT_NE(it, listed.end()) << folder;
            EXPECT_EQ(it->second.type, "dir") << folder;
            EXPECT_TRUE(it->second.deleted) << folder;
        }
        // Nothing is left without a name: every deleted inode the journal
        // gives back was named by a copy of its folder's block.
        for (const auto& [path, e] : listed)
            EXPECT_EQ(path.rfind("ORPHAN_ENTRY", 0), std::string::npos) << path;
    }
}

TEST(UndeleteJournalCli, SaveBringsDeletedFilesBackByteForByteAndRefusesBlocksGivenAway)
{
    for (const Volume& v : kVolumes) {
        SCOPED_TRACE(v.what);
        const auto image = test::fixture("undelete-journal.img").string();
        auto list = test::runQsalvage({"list", image, "--volume", v.cliVolume, "--json"});
        ASSERT_EQ(list.exitCode, 0) << list.err;
        auto listed = test::parseJsonListing(list.out);
        test::TempDir dir;
        auto out = dir / "out";
        auto r = test::runQsalvage({"save", image, "--volume", v.cliVolume, "--output", out.string()});
        // 3: saved, and some deleted files are guessed or hold zeros.
        ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err;
        std::size_t deleted = 0, exact = 0;
        for (const auto& m : journalManifest(v.manifestVolume)) {
            auto saved = out / m.path;
            ASSERT_TRUE(std::filesystem::exists(saved)) << m.path;
            EXPECT_EQ(std::filesystem::file_size(saved), m.size) << m.path;
            const bool same = test::fileSha256(saved) == m.sha256;
            if (!m.deleted) {
                EXPECT_TRUE(same) << m.path;
                continue;
            }
            ++deleted;
            exact += same;
            // Whole: every block it maps is free, so what was there is what
            // was written. Partly overwritten: the blocks another file took
            // are written as zeros, never that file's data.
            const std::string& judged = listed.at(m.path).recoverability;
            if (judged == "whole")
                EXPECT_TRUE(same) << m.path;
            else
                EXPECT_FALSE(same) << m.path << " is " << judged;
        }
        EXPECT_EQ(deleted, 9u);
        EXPECT_GE(exact, 8u) << "deleted files byte-exact";
    }
}

TEST(UndeleteJournalCli, WithoutTheJournalTheKernelsDeletionsLeaveNothingToList)
{
    // The same volumes with the superblock's has_journal flag cleared: the
    // inodes and folders on the volume itself say nothing of the files.
    test::TempDir dir;
    auto image = test::fixtureCopy("undelete-journal.img", dir);
    for (std::uint64_t start : {2048ull, 18432ull}) {
        const std::uint64_t compat = start * 512 + 1024 + 0x5C;
        auto bytes = test::readWholeFile(image);
        ASSERT_GT(bytes.size(), compat + 4);
        std::uint32_t value = bytes[compat] | bytes[compat + 1] << 8 | bytes[compat + 2] << 16 |
                              static_cast<std::uint32_t>(bytes[compat + 3]) << 24;
        ASSERT_TRUE(value & 0x4);
        test::patchU32le(image, compat, value & ~0x4u);
    }
    for (const Volume& v : kVolumes) {
        SCOPED_TRACE(v.what);
        auto r = test::runQsalvage({"list", image.string(), "--volume", v.cliVolume, "--json"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        auto listed = test::parseJsonListing(r.out);
        for (const auto& m : journalManifest(v.manifestVolume))
            EXPECT_EQ(listed.count(m.path), m.deleted ? 0u : 1u) << m.path;
    }
}

TEST(UndeleteJournalCli, TheSlackFixturesKernelDeletionsAndOrphanGetTheirFilesAndNamesBack)
{
    // undelete-ext.img (make-undelete-ext-fixtures.sh): on its ext3 and ext4
    // volumes Kernel/k1.txt and k2.txt were removed through the driver
    // (names wiped, maps cleared), and Lost/lost.txt lost its name with its
    // folder. The journal still holds the blocks that name and map them.
    struct Case {
        const char* what;
        int volume;
        const char* startSector;
    };
    for (const Case& c : {Case{"ext3", 1, "16384"}, Case{"ext4", 2, "30720"}}) {
        SCOPED_TRACE(c.what);
        std::map<std::string, std::string> expected; // path -> sha256 before deletion
        std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/undelete-ext.manifest.txt");
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> f = test::tabFields(line);
            if (f.size() >= 9 && f[0] == std::to_string(c.volume) && (f[4] == "kernel-rm" || f[4] == "orphan"))
                expected[f[4] == "orphan" ? "Lost/lost.txt" : f[2]] = f[6];
        }
        ASSERT_EQ(expected.size(), 3u);
        const std::vector<std::string> volume = {test::fixture("undelete-ext.img").string(), "--start-sector",
                                                 c.startSector, "--fs", "extX", "--size-mb", "6"};
        std::vector<std::string> list = {"list"}, save = {"save"};
        list.insert(list.end(), volume.begin(), volume.end());
        list.push_back("--json");
        auto r = test::runQsalvage(list);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        auto listed = test::parseJsonListing(r.out);
        test::TempDir dir;
        save.insert(save.end(), volume.begin(), volume.end());
        save.insert(save.end(), {"--output", (dir / "out").string()});
        auto s = test::runQsalvage(save);
        // 3: saved, and some deleted files are guessed or hold zeros.
        ASSERT_TRUE(s.exitCode == 0 || s.exitCode == 3) << s.err;
        for (const auto& [path, sha] : expected) {
            ASSERT_EQ(listed.count(path), 1u) << path;
            EXPECT_TRUE(listed.at(path).deleted) << path;
            EXPECT_EQ(listed.at(path).recoverability, "whole") << path;
            EXPECT_EQ(test::fileSha256(dir / "out" / path), sha) << path;
        }
    }
}

} // namespace
} // namespace qis
