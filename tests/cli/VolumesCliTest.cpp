// qsalvage volumes on the sample disk, as a user sees it.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

using test::runQsalvage;

TEST(VolumesCli, GptTableWithStatusTextsOnStderr)
{
    auto r = runQsalvage({"volumes", test::fixture("sample.vhdx").string(), "--gpt"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "VOLUME  FILE_SYSTEM  VOLUME_SIZE  START_SECTOR\n"
              "0       NTFS         31   MB      2048\n"
              "1       FAT32        40  MB       67584\n"
              "2       FAT64        32  MB       149504\n"
              "3       extX         31           215040\n");
    EXPECT_EQ(r.err, "found NTFS 1...\nfound FAT 32...\nfound FAT 64...\nFinished Scanning.\n"
                     "Select volume and click next button...\n");
}

TEST(VolumesCli, DeepSearchAsJson)
{
    auto r = runQsalvage({"volumes", test::fixture("sample.vhdx").string(), "--deep", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "[\n"
                     "  {\"index\": 0, \"fileSystem\": \"NTFS\", \"sizeText\": \"31   MB\", \"startSector\": 2048, "
                     "\"sectorCount\": null, \"sizeBytes\": null, \"sizeMb\": 31, \"volumeName\": \"0\"},\n"
                     "  {\"index\": 1, \"fileSystem\": \"FAT32\", \"sizeText\": \"40  MB\", \"startSector\": 67584, "
                     "\"sectorCount\": null, \"sizeBytes\": null, \"sizeMb\": 40, \"volumeName\": \"1\"},\n"
                     "  {\"index\": 2, \"fileSystem\": \"FAT64\", \"sizeText\": \"32  MB\", \"startSector\": 149504, "
                     "\"sectorCount\": null, \"sizeBytes\": null, \"sizeMb\": 32, \"volumeName\": \"2\"},\n"
                     "  {\"index\": 3, \"fileSystem\": \"extX\", \"sizeText\": \"32  MB\", \"startSector\": 215040, "
                     "\"sectorCount\": null, \"sizeBytes\": null, \"sizeMb\": 32, \"volumeName\": \"3\"}\n"
                     "]\n");
    EXPECT_NE(r.err.find("Scanning partition.....\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Scanned Partitions\npopulated partitions....\nFinished Scanning.\n"), std::string::npos)
        << r.err;
}

TEST(VolumesCli, SearchOptionsNeedDeep)
{
    auto image = test::fixture("sample.vhdx").string();
    EXPECT_EQ(runQsalvage({"volumes", image, "--no-skip"}).exitCode, 2);
    EXPECT_EQ(runQsalvage({"volumes", image, "--deep", "--start-sector", "x"}).exitCode, 2);
    auto r = runQsalvage({"volumes", image, "--deep", "--start-sector", "149504", "--end-sector", "149504"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("0       FAT64        32  MB       149504\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("NTFS"), std::string::npos) << r.out;
}

// An ext2 volume whose first sector was later given an NTFS boot sector (a
// format over it that went no further): the list names it NTFS, as its
// first sector says, and says what else it carries and how to read that.
TEST(VolumesCli, AVolumeCarryingTwoFileSystemsIsNamedWithTheOtherOne)
{
    test::TempDir dir;
    auto image = test::fixtureCopy("mbr-mixed.img", dir);
    auto disk = test::readWholeFile(image);
    constexpr std::uint64_t kNtfsStart = 2048, kExtStart = 153600;
    test::patchFile(image, kExtStart * 512,
                    std::vector<std::uint8_t>(disk.begin() + kNtfsStart * 512, disk.begin() + kNtfsStart * 512 + 512));

    auto r = runQsalvage({"volumes", image.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("4       NTFS         8   MB       153600\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Volume 4 carries the marks of NTFS and extX; it is listed as NTFS. --start-sector 153600 "
                         "--fs extX --size-mb 8 reads it as extX.\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("carries the marks", r.err.find("carries the marks") + 1), std::string::npos) << r.err;

    auto ext = runQsalvage({"list", image.string(), "--start-sector", "153600", "--fs", "extX", "--size-mb", "8"});
    ASSERT_EQ(ext.exitCode, 0) << ext.err;
    EXPECT_NE(ext.out.find(" lost+found/\n"), std::string::npos) << ext.out;
}

} // namespace
} // namespace qis
