// qsalvage list and save on volumes with deleted files (tests/data/
// undelete-*.manifest.txt): an NTFS volume ntfs-3g deleted from, with a
// file whose data lives in extension records and one whose clusters another
// file took; an HFS+ volume whose catalog records were deleted byte by byte.
// Deleted files are listed with how much of them is left and come back
// byte for byte; the overwritten one comes back incomplete, with zeros
// where the other file's data now is; the live files are as before.

#include "support/Fixtures.h"
#include "support/ListingJson.h"
#include "support/UndeleteManifest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

namespace qis {
namespace {

struct UndeleteVolume {
    const char* name;
    std::vector<std::string> volume; // after the image
    std::size_t overwrittenBytes;    // the leading bytes another file took
};

class Undelete : public ::testing::TestWithParam<UndeleteVolume> {
protected:
    test::CommandResult run(const std::string& verb, std::vector<std::string> more)
    {
        std::vector<std::string> words = {verb, test::fixture(std::string(GetParam().name) + ".img").string()};
        words.insert(words.end(), GetParam().volume.begin(), GetParam().volume.end());
        words.insert(words.end(), more.begin(), more.end());
        return test::runQsalvage(words);
    }
    std::vector<test::UndeleteManifestLine> manifest =
        test::undeleteManifest(std::string(GetParam().name) + ".manifest.txt");
};

TEST_P(Undelete, ListShowsDeletedEntriesWithWhatIsLeftOfThem)
{
    ASSERT_GT(manifest.size(), 8u);
    auto r = run("list", {"--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto listed = test::parseJsonListing(r.out);
    for (const auto& m : manifest) {
        auto it = listed.find(m.path);
        ASSERT_NE(it, listed.end()) << m.path;
        EXPECT_EQ(it->second.type, m.kind) << m.path;
        EXPECT_EQ(it->second.deleted, m.deleted) << m.path;
        EXPECT_EQ(it->second.recoverability, m.deleted ? m.recoverability : "") << m.path;
        if (m.kind == "file") {
            EXPECT_EQ(it->second.size, m.size) << m.path;
        }
    }
}

TEST_P(Undelete, SaveBringsBackDeletedFilesWholeAndTheOverwrittenOneWithZeros)
{
    test::TempDir dir;
    auto out = dir / "out";
    auto r = run("save", {"--output", out.string()});
    // 3: saved, and some deleted files are guessed or hold zeros.
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err;
    std::size_t whole = 0, overwritten = 0;
    for (const auto& m : manifest) {
        if (m.kind != "file")
            continue;
        auto saved = out / std::filesystem::u8path(m.path);
        ASSERT_TRUE(std::filesystem::exists(saved)) << m.path;
        EXPECT_EQ(std::filesystem::file_size(saved), m.size) << m.path;
        if (m.recoverability == "partly overwritten") {
            ++overwritten;
            EXPECT_NE(test::fileSha256(saved), m.sha) << m.path;
            auto bytes = test::readWholeFile(saved);
            ASSERT_GE(bytes.size(), GetParam().overwrittenBytes);
            EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(GetParam().overwrittenBytes),
                                    [](std::uint8_t b) { return b == 0; }))
                << m.path << ": another file's data was written into it";
        } else {
            whole += m.deleted;
            EXPECT_EQ(test::fileSha256(saved), m.sha) << m.path;
        }
    }
    ASSERT_EQ(overwritten, 1u);
    ASSERT_GE(whole, 4u);
    // The summary counts the overwritten file among the incomplete ones.
    const std::string said = r.out + r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        said, m,
        std::regex(R"((\d+) with unreadable parts.*Deleted files among them: (\d+) whole, (\d+) partly overwritten)")))
        << said;
    EXPECT_EQ(m[1], "1");
    EXPECT_GE(std::stoul(m[2]), whole);
    EXPECT_EQ(m[3], "1");
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, Undelete,
    ::testing::Values(UndeleteVolume{"undelete-ntfs", {"--volume", "0"}, 2 * 4096},
                      UndeleteVolume{"undelete-hfsplus", {"--start-sector", "688", "--fs", "HFS+", "--size-mb", "5"}, 2048}),
    [](const auto& info) {
        std::string n = info.param.name;
        std::replace(n.begin(), n.end(), '-', '_');
        return n;
    });

} // namespace
} // namespace qis
