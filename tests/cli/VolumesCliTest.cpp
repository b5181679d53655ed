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
                     "  {\"index\": 0, \"fileSystem\": \"NTFS\", \"sizeText\": \"31   MB\", \"startSector\": 2048},\n"
                     "  {\"index\": 1, \"fileSystem\": \"FAT32\", \"sizeText\": \"40  MB\", \"startSector\": 67584},\n"
                     "  {\"index\": 2, \"fileSystem\": \"FAT64\", \"sizeText\": \"32  MB\", \"startSector\": 149504},\n"
                     "  {\"index\": 3, \"fileSystem\": \"extX\", \"sizeText\": \"32  MB\", \"startSector\": 215040}\n"
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

} // namespace
} // namespace qis
