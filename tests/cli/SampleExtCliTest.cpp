// qsalvage list and save on the sample disk's ext4 volume (mke2fs, filled
// through the kernel's ext4 driver), against the manifest written when it
// was made. The kernel cleared the deleted files' inodes and names; the
// journal's older copies of their blocks bring them back.

#include "support/Fixtures.h"
#include "support/ListingJson.h"
#include "support/SampleManifest.h"

#include <gtest/gtest.h>

#include <set>

namespace qis {
namespace {

TEST(SampleExtCli, ListShowsEveryLiveFolderAndFile)
{
    auto r = test::runQsalvage({"list", test::fixture("sample.vhdx").string(), "--gpt", "--volume", "3", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Scanning process completed..\n"), std::string::npos) << r.err;
    auto listed = test::parseJsonListing(r.out);
    std::set<std::string> expected = {"lost+found"};
    for (const auto& m : test::sampleManifest(4)) {
        expected.insert(m.path);
        auto it = listed.find(m.path);
        ASSERT_NE(it, listed.end()) << m.path << " is missing";
        if (m.kind == "deleted") {
            EXPECT_EQ(it->second.type, "file") << m.path;
            EXPECT_TRUE(it->second.deleted) << m.path;
            EXPECT_EQ(it->second.size, m.size) << m.path;
            continue;
        }
        EXPECT_EQ(it->second.type, m.kind) << m.path;
        EXPECT_FALSE(it->second.deleted) << m.path;
        EXPECT_EQ(it->second.mtime, m.mtime) << m.path;
        if (m.kind == "file") {
            EXPECT_EQ(it->second.size, m.size) << m.path;
            EXPECT_EQ(it->second.attributes, "-OR-GR-UW-UR") << m.path; // 0644
        }
    }
    EXPECT_EQ(listed.at("lost+found").type, "dir");
    for (const auto& [path, e] : listed)
        EXPECT_TRUE(expected.count(path)) << "unexpected " << path; // no "." for the root, no ROOT
}

TEST(SampleExtCli, SaveWritesEveryFileByteForByteWithItsTimesAndTheDeletedOnesToo)
{
    test::TempDir dir;
    auto out = dir / "out";
    auto r = test::runQsalvage(
        {"save", test::fixture("sample.vhdx").string(), "--gpt", "--volume", "3", "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const auto& m : test::sampleManifest(4)) {
        auto path = out / m.path;
        if (m.kind == "deleted") {
            EXPECT_EQ(test::fileSha256(path), m.sha256) << m.path;
            continue;
        }
        if (m.kind == "dir") {
            EXPECT_TRUE(std::filesystem::is_directory(path)) << m.path;
            continue;
        }
        EXPECT_EQ(test::fileSha256(path), m.sha256) << m.path;
        EXPECT_EQ(test::fileMtimeIso(path), m.mtime) << m.path;
    }
}

TEST(SampleExtCli, AVolumeWithoutASuperblockIsRefused)
{
    // The NTFS volume read as ext.
    auto r = test::runQsalvage({"list", test::fixture("sample.vhdx").string(), "--start-sector", "2048", "--fs", "extX",
                                "--size-mb", "32"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("No ext2, ext3 or ext4 superblock was found on this volume."), std::string::npos) << r.err;
}

} // namespace
} // namespace qis
