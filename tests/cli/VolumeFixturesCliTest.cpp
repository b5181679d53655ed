// qsalvage volumes on disks partitioned by sfdisk and sgdisk (and one whose
// table was wiped, and an HFS+ disk by xorriso): the volumes and status
// texts a user sees. The starts and sizes are those the tools report
// (tests/data/volume-fixtures.txt).

#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

struct VolumesCase {
    const char* name;
    const char* fixture;
    std::vector<std::string> options;
    const char* table;  // stdout without the heading
    const char* status; // the status texts on stderr, before the closing two
};

std::ostream& operator<<(std::ostream& os, const VolumesCase& c) { return os << c.name; }

const char kHeading[] = "VOLUME  FILE_SYSTEM  VOLUME_SIZE  START_SECTOR\n";
const char kHeadingWithNotes[] = "VOLUME  FILE_SYSTEM  VOLUME_SIZE  START_SECTOR  NOTE\n";
const char kClosing[] = "Finished Scanning.\nSelect volume and click next button...\n";
const char kSearchClosing[] = "Scanned Partitions\npopulated partitions....\n";

const VolumesCase kCases[] = {
    {"MbrWithExtendedChain", "mbr-mixed.img", {},
     "0       NTFS         16   MB      2048\n"
     "1       FAT16        12   MB      34816\n" // 24 sectors per FAT
     "2       FAT32        36   MB      59392\n"
     "3       FAT64        8   MB       135168\n"
     "4       extX         8   MB       153600\n"
     "5       FAT16        8   MB       172032\n", // 32 sectors per FAT
     "found NTFS 1...\nfound FAT 16...\nfound FAT 32...\nfound FAT64...\nfound extx...\nfound FAT 16...\n"},
    {"MbrReadAsGptHasNoEntries", "mbr-mixed.img", {"--gpt"}, "", ""},
    // An empty slot between partitions, and exFAT behind a Linux type code.
    {"MbrWithAGapAndAWrongType", "mbr-gap.img", {},
     "0       FAT32        36   MB      2048\n"
     "1       NTFS         16   MB      75776\n"
     "2       FAT64        8   MB       108544\n",
     "found FAT 32...\nfound NTFS 1...\nfound FAT64...\n"},
    // The reserved partition is skipped, the unused slot 4 does not end the table.
    {"GptWithReservedAndUnusedSlots", "gpt-mixed.img", {"--gpt"},
     "0       NTFS         15   MB      34816\n"
     "1       FAT32        36  MB       67584\n"
     "2       FAT64        8  MB        149504\n"
     "3       extX         15           165888\n",
     "found NTFS 1...\nfound FAT 32...\nfound FAT 64...\n"},
    // Without --gpt the protective MBR says GPT; --mbr reads its one entry.
    {"GptFoundByItsProtectiveMbr", "gpt-mixed.img", {},
     "0       NTFS         15   MB      34816\n"
     "1       FAT32        36  MB       67584\n"
     "2       FAT64        8  MB        149504\n"
     "3       extX         15           165888\n",
     "found NTFS 1...\nfound FAT 32...\nfound FAT 64...\n"},
    {"ProtectiveMbrReadAsMbr", "gpt-mixed.img", {"--mbr"}, "0       Unknown      99   MB      1\n", "found UNKNOWN...\n"},
    {"ZeroedTableHasNoVolumes", "zeroed-table.img", {}, "", ""},
    {"SearchOfTheZeroedDisk", "zeroed-table.img", {"--deep"},
     "0       NTFS         15   MB      2048\n"
     "1       FAT32        36  MB       34816\n"
     "2       FAT64        8  MB        108544\n"
     "3       extX         16  MB       124928\n",
     "Scanning partition.....\nfound NTFS 1...\nfound FAT 32...\nfound FAT 64...\nfound extX...\n"},
    // Every copy of a boot record, named as the copy of its volume, except
    // the ext superblock backups.
    {"SearchWithoutSkipping", "zeroed-table.img", {"--deep", "--no-skip"},
     "0       NTFS         15   MB      2048\n"
     "1       NTFS         15   MB      34815         backup boot sector of volume 0\n"
     "2       FAT32        36  MB       34816\n"
     "3       FAT32        36  MB       34822         backup boot sector of volume 2\n"
     "4       FAT64        8  MB        108544\n"
     "5       FAT64        8  MB        108556        backup boot sector of volume 4\n"
     "6       extX         16  MB       124928\n",
     "Scanning partition.....\nfound NTFS 1...\nfound NTFS 2...\nVolume 1: backup boot sector of volume 0.\n"
     "found FAT 32...\nfound FAT 32...\nVolume 3: backup boot sector of volume 2.\n"
     "found FAT 64...\nfound FAT 64...\nVolume 5: backup boot sector of volume 4.\nfound extX...\n"},
    {"SearchFromASector", "zeroed-table.img", {"--deep", "--start-sector", "34816"},
     "0       FAT32        36  MB       34816\n"
     "1       FAT64        8  MB        108544\n"
     "2       extX         16  MB       124928\n",
     "Scanning partition.....\nfound FAT 32...\nfound FAT 64...\nfound extX...\n"},
    // The HFS+ header is at sector 130; its volume starts 1024 bytes earlier.
    {"SearchFindsHfsPlus", "hfsplus.img", {"--deep"}, "0       HFS+         2  MB        128\n",
     "Scanning partition.....\nfound HFS+...\n"},
};

class VolumesOnFixtures : public ::testing::TestWithParam<VolumesCase> {};

TEST_P(VolumesOnFixtures, ListsTheVolumesTheToolsReport)
{
    const auto& c = GetParam();
    std::vector<std::string> args = {"volumes", test::fixture(c.fixture).string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    auto r = test::runQsalvage(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const bool notes = std::string(c.table).find("  backup") != std::string::npos;
    EXPECT_EQ(r.out, std::string(notes ? kHeadingWithNotes : kHeading) + c.table);
    bool deep = std::find(c.options.begin(), c.options.end(), "--deep") != c.options.end();
    EXPECT_EQ(r.err, std::string(c.status) + (deep ? kSearchClosing : "") + kClosing);
}

INSTANTIATE_TEST_SUITE_P(Disks, VolumesOnFixtures, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A volume of a GPT disk is named by its number without --gpt, as volumes
// printed it; --gpt with --mbr is a usage error.
TEST(VolumeSelection, AGptDisksVolumesAreFoundWithoutBeingToldAndTheTwoChoicesExcludeEachOther)
{
    const std::string disk = test::fixture("gpt-mixed.img").string();
    auto listed = test::runQsalvage({"list", disk, "--volume", "0", "--json"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, test::runQsalvage({"list", disk, "--gpt", "--volume", "0", "--json"}).out);
    for (const std::vector<std::string>& words : {std::vector<std::string>{"volumes", disk},
                                                  std::vector<std::string>{"list", disk, "--volume", "0"}}) {
        std::vector<std::string> both = words;
        both.insert(both.end(), {"--gpt", "--mbr"});
        auto r = test::runQsalvage(both);
        EXPECT_EQ(r.exitCode, 2) << words[0];
        EXPECT_NE(r.err.find("--gpt and --mbr"), std::string::npos) << words[0] << ": " << r.err;
    }
}

} // namespace
} // namespace qis
