// Partition tables whose entries point where the disk is not, or that are
// no table at all, made from the MBR of a real disk (mbr-gap.img, sfdisk:
// entries in slots 0, 2 and 3, listed as volumes 0, 1 and 2).

#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

constexpr std::uint64_t kSlot2 = 446 + 2 * 16;
constexpr std::uint64_t kSlot3 = 446 + 3 * 16;

struct TableDamage {
    const char* what;
    std::uint64_t at;
    std::uint32_t value;
    int volume;             // a volume no longer offered
    const char* listedText; // in the volumes listing (text and JSON) and in list's refusal
    bool othersRead;        // volume 0 still reads
};

const TableDamage kCases[] = {
    {"a start far past the disk", kSlot2 + 8, 0x10000000u, 1, "beyond the end of the disk", true},
    {"a length reaching far past the disk", kSlot3 + 12, 0x7FFFFFFFu, 2, "beyond the end of the disk", true},
    {"no 0x55AA signature: random bytes, not a table", 510, 0x12340000u, 0, "0x55AA", false},
};

TEST(PartitionTableCli, EntriesBeyondTheDiskAreFlaggedAndNotRead)
{
    for (const TableDamage& c : kCases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        auto image = test::fixtureCopy("mbr-gap.img", dir);
        test::patchU32le(image, c.at, c.value);

        auto text = test::runQsalvage({"volumes", image.string()});
        auto json = test::runQsalvage({"volumes", image.string(), "--json"});
        ASSERT_EQ(text.exitCode, 0) << text.err;
        EXPECT_NE((text.out + text.err).find(c.listedText), std::string::npos) << text.out << text.err;
        EXPECT_NE((json.out + json.err).find(c.listedText), std::string::npos) << json.out;
        EXPECT_NE(json.out.find("\"readable\": false"), std::string::npos) << json.out;
        auto list = test::runQsalvage({"list", image.string(), "--volume", std::to_string(c.volume)});
        EXPECT_EQ(list.exitCode, 1) << list.out;
        EXPECT_NE(list.err.find(c.listedText), std::string::npos) << list.err;
        auto first = test::runQsalvage({"list", image.string(), "--volume", "0"});
        EXPECT_EQ(first.exitCode, c.othersRead ? 0 : 1) << first.err;
    }
}

TEST(PartitionTableCli, ACutShortTailIsNotedButTheVolumeStillReads)
{
    test::TempDir dir;
    auto image = test::fixtureCopy("mbr-gap.img", dir);
    const auto diskSectors = std::filesystem::file_size(image) / 512;
    // Volume 2 starts at 108544 with 16384 sectors; let it end 100 sectors past the disk.
    test::patchU32le(image, kSlot3 + 12, static_cast<std::uint32_t>(diskSectors - 108544 + 100));
    auto volumes = test::runQsalvage({"volumes", image.string()});
    EXPECT_NE(volumes.out.find("ends beyond the end of the disk: 100 of its"), std::string::npos) << volumes.out;
    EXPECT_EQ(volumes.out.find("not readable"), std::string::npos) << volumes.out;
    EXPECT_EQ(test::runQsalvage({"list", image.string(), "--volume", "2"}).exitCode, 0);
}

} // namespace
} // namespace qis
