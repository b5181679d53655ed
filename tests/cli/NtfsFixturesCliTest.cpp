// qsalvage list and save on NTFS volumes made by mkntfs and filled through
// ntfs-3g, against the listing Sleuth Kit gave of them
// (tests/data/ntfs-*.manifest.txt): every file and folder is listed, every
// live file and every intact deleted one comes back byte for byte, with its
// modification time.

#include "support/Fixtures.h"
#include "support/NtfsManifest.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

class NtfsFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(NtfsFixture, ListShowsEveryEntrySleuthKitShows)
{
    std::string name = GetParam();
    auto r = test::runQsalvage({"list", test::fixture(name + ".vhdx").string(), "--volume", "0", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    test::expectListedAsNtfsManifest(r.out, name + ".manifest.txt");
}

TEST_P(NtfsFixture, SaveWritesLiveAndIntactDeletedFilesByteForByte)
{
    std::string name = GetParam();
    test::TempDir dir;
    auto out = dir / "out";
    auto r = test::runQsalvage({"save", test::fixture(name + ".vhdx").string(), "--volume", "0", "--output", out.string()});
    // 3: saved, and some deleted files are guessed or hold zeros.
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err;
    EXPECT_GT(test::expectSavedAsNtfsManifest(out, name + ".manifest.txt"), 5);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsFixture, ::testing::Values("ntfs-features", "ntfs-512"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (c == '-')
                                     c = '_';
                             return n;
                         });

} // namespace
} // namespace qis
