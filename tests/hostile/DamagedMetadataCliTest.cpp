// Volumes made by real tools with one piece of metadata damaged so that the
// standard scan gets nothing, or only part, of the tree: list and save say
// what could not be read and where to go further, the JSON listing says it
// is not complete, and neither exits as if the volume had been read whole.

#include "support/DamagedVolume.h"
#include "support/ListingJson.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>

namespace qis {
namespace {

struct Damaged {
    const char* name;
    test::FixtureVolume volume;
    std::vector<std::string> damage; // tests/fixtures/damage-volume.py
    int exitCode;                    // 1: nothing could be read; 3: the tree is partial
    const char* further;             // where the message sends the user
    const char* stillListed = "";    // a path the partial tree still shows
    friend void PrintTo(const Damaged& p, std::ostream* os) { *os << p.name; }
};

const test::FixtureVolume kNtfs{"undelete-ntfs.img", 2048, "NTFS", 16};
const test::FixtureVolume kExt2{"undelete-ext.img", 2048, "extX", 6};
const test::FixtureVolume kFat16{"undelete-fat.img", 2048, "FAT16", 16};
const test::FixtureVolume kHfsPlus{"hfsplus.img", 128, "HFS+", 2};

const Damaged kDamaged[] = {
    {"NtfsMftAndMirrorZeroed", kNtfs, {"ntfs-zero-mft"}, 1, "--mode deep"},
    {"ExtInodeTablePastTheVolume", kExt2, {"ext-inode-table"}, 1, "backup superblock"},
    {"FatReservedSectorsPastTheVolume", kFat16, {"fat-reserved"}, 1, "--mode advanced"},
    {"HfsPlusRecordOffsetsOutOfTheNode", kHfsPlus, {"hfs-offsets"}, 3, "could not be decoded"},
    {"ExtRootDotDotHidesTheRoot", kExt2, {"ext-dotdot"}, 3, "unused space", "Keep/small.txt"},
};

class DamagedMetadata : public ::testing::TestWithParam<Damaged> {};

TEST_P(DamagedMetadata, IsReportedAndEndsIncomplete)
{
    const Damaged& d = GetParam();
    test::TempDir dir;
    auto image = test::damagedVolume(d.volume, d.damage, dir);

    auto text = test::onVolume("list", image, d.volume);
    EXPECT_EQ(text.exitCode, d.exitCode) << text.err;
    EXPECT_NE(text.err.find("The scan stopped early"), std::string::npos) << text.err;
    EXPECT_NE(text.err.find(d.further), std::string::npos) << text.err;
    EXPECT_EQ(text.out.empty(), d.exitCode == 1) << text.out;

    auto json = test::onVolume("list", image, d.volume, {"--json"});
    EXPECT_EQ(json.exitCode, d.exitCode);
    EXPECT_EQ(json.out.rfind("{\"complete\": false, \"problems\": [\"", 0), 0u) << json.out;
    // The same entries as the text listing, in their usual shape inside the object.
    const auto listed = static_cast<std::size_t>(std::count(text.out.begin(), text.out.end(), '\n'));
    EXPECT_EQ(test::parseJsonListing(json.out).size(), listed);

    if (*d.stillListed) {
        EXPECT_NE(text.out.find(std::string(" ") + d.stillListed + "\n"), std::string::npos) << text.out;
    }

    auto save = test::onVolume("save", image, d.volume, {"--output", (dir / "out").string()});
    EXPECT_EQ(save.exitCode, d.exitCode) << save.err;
    EXPECT_NE(save.err.find("The scan stopped early"), std::string::npos) << save.err;
}

INSTANTIATE_TEST_SUITE_P(Fields, DamagedMetadata, ::testing::ValuesIn(kDamaged),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qis
