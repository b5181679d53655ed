// qsalvage list on the sample disk's NTFS volume (mkntfs, filled through
// ntfs-3g), against the manifest written when the volume was made.

#include "support/Fixtures.h"
#include "support/ListingJson.h"
#include "support/SampleManifest.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

namespace qis {
namespace {

using test::Listed;
using test::parseJsonListing;

TEST(ListCli, NtfsVolumeShowsEveryLiveAndDeletedEntryOfTheManifest)
{
    auto r = test::runQsalvage({"list", test::fixture("sample.vhdx").string(), "--gpt", "--volume", "0", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto listed = parseJsonListing(r.out);
    auto manifest = test::sampleManifest(1);
    ASSERT_EQ(manifest.size(), 13u);
    for (const auto& m : manifest) {
        auto it = listed.find(m.path);
        ASSERT_NE(it, listed.end()) << m.path << " is missing";
        const Listed& e = it->second;
        EXPECT_EQ(e.type, m.kind == "dir" ? "dir" : "file") << m.path;
        EXPECT_EQ(e.deleted, m.kind == "deleted") << m.path;
        if (m.kind != "dir") {
            EXPECT_EQ(e.size, m.size) << m.path;
        }
        if (m.kind == "file") {
            EXPECT_EQ(e.mtime, m.mtime) << m.path;
        }
    }
    // The volume's own files are there too, and the orphans' folder closes the top level.
    EXPECT_EQ(listed.at("$MFTMirr").size, 4096u);
    EXPECT_EQ(listed.at("$Extend").type, "dir");
    EXPECT_EQ(listed.at("ORPHAN_ENTRY").type, "dir");
    EXPECT_NE(r.err.find("Scanning process completed.\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Processing done..."), std::string::npos) << r.err;
}

TEST(ListCli, VolumesAreNamedByIndexOrByHand)
{
    auto image = test::fixture("sample.vhdx").string();
    auto custom = test::runQsalvage({"list", image, "--start-sector", "2048", "--fs", "NTFS", "--size-mb", "32"});
    ASSERT_EQ(custom.exitCode, 0) << custom.err;
    EXPECT_NE(custom.out.find("Documents/notes/todo.txt\n"), std::string::npos) << custom.out;
    EXPECT_EQ(test::runQsalvage({"list", image}).exitCode, 2);
    EXPECT_EQ(test::runQsalvage({"list", image, "--volume", "0", "--fs", "NTFS"}).exitCode, 2);
    auto missing = test::runQsalvage({"list", image, "--gpt", "--volume", "9"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("There is no volume 9"), std::string::npos) << missing.err;
}

} // namespace
} // namespace qis
