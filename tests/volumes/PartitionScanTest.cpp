// Volume discovery on the sample disk (GPT made with sgdisk, volumes made
// by mkntfs, mkfs.fat, mkfs.exfat and mke2fs): the table scan both ways and
// the boot-record search with its options and Stop.

#include "images/vhdx/FileReadSeekVHDX.h"
#include "support/Fixtures.h"
#include "volumes/Partition.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

struct Row {
    std::string fileSystem, sizeText;
    std::int64_t startSector;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& r)
{
    return os << "{" << r.fileSystem << ", \"" << r.sizeText << "\", " << r.startSector << "}";
}

std::vector<Row> rows(const Partition& p)
{
    std::vector<Row> out;
    for (const auto& v : p.volumeList)
        out.push_back({v.fileSystem, v.sizeText, v.startSector});
    return out;
}

class StatusRecorder : public NullReporter {
public:
    void setStatusText(std::string_view text) override
    {
        statuses.emplace_back(text);
        if (stopOn && text == stopAt)
            stopOn->store(true);
    }
    std::vector<std::string> statuses;
    std::atomic<bool>* stopOn = nullptr;
    std::string stopAt;
};

class SampleDisk : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(reader.open(test::fixture("sample.vhdx"))) << reader.lastMessage(); }

    void search(Partition& p, StatusRecorder& page)
    {
        PauseGate gate;
        JobContext job(page, gate);
        searchBootSectors(reader, p, reader.diskSectorCount, job);
    }

    FileReadSeekVHDX reader;
};

TEST_F(SampleDisk, GptListsEveryVolumeWithItsFileSystem)
{
    Partition p;
    p.gptMode = true;
    StatusRecorder page;
    EXPECT_EQ(scanPartitionTable(reader, p, page), 0);
    // mkfs.fat writes "mkfs.fat" as OEM name: found by its BIOS parameter block.
    // The ext4 volume is told by its superblock, not by its GPT name.
    std::vector<Row> expected = {{"NTFS", "31   MB", 2048},
                                 {"FAT32", "40  MB", 67584},
                                 {"FAT64", "32  MB", 149504},
                                 {"extX", "31", 215040}};
    EXPECT_EQ(rows(p), expected);
    EXPECT_EQ(page.statuses, (std::vector<std::string>{"found NTFS 1...", "found FAT 32...", "found FAT 64..."}));
    for (std::size_t i = 0; i < p.volumeList.size(); ++i)
        EXPECT_EQ(p.volumeList[i].volumeName, std::to_string(i));
}

TEST_F(SampleDisk, WithoutGptTheProtectiveMbrIsOneUnknownVolume)
{
    Partition p;
    StatusRecorder page;
    EXPECT_EQ(scanPartitionTable(reader, p, page), 0);
    EXPECT_EQ(rows(p), (std::vector<Row>{{"Unknown", "139   MB", 1}}));
    EXPECT_EQ(page.statuses, std::vector<std::string>{"found UNKNOWN..."});
}

TEST_F(SampleDisk, SearchFindsEveryVolumeAndSkipsTheirBodies)
{
    Partition p;
    StatusRecorder page;
    search(p, page);
    std::vector<Row> expected = {{"NTFS", "31   MB", 2048},
                                 {"FAT32", "40  MB", 67584},
                                 {"FAT64", "32  MB", 149504},
                                 {"extX", "32  MB", 215040}};
    EXPECT_EQ(rows(p), expected);
    EXPECT_EQ(page.statuses.front(), "Scanning partition.....");
    for (std::size_t i = 0; i < p.volumeList.size(); ++i)
        EXPECT_EQ(p.volumeList[i].volumeName, std::to_string(i));
}

TEST_F(SampleDisk, SearchWithoutSkippingAlsoFindsBackupBootRecords)
{
    Partition p;
    p.skipVolumes = false;
    StatusRecorder page;
    search(p, page);
    auto found = rows(p);
    auto has = [&](const Row& r) { return std::find(found.begin(), found.end(), r) != found.end(); };
    EXPECT_TRUE(has({"NTFS", "31   MB", 2048}));
    EXPECT_TRUE(has({"NTFS", "31   MB", 2048 + 65535})); // backup boot sector at the volume's end
    EXPECT_TRUE(has({"FAT32", "40  MB", 67584}));
    EXPECT_TRUE(has({"FAT32", "40  MB", 67584 + 6})); // backup boot sector
    EXPECT_TRUE(has({"FAT64", "32  MB", 149504}));
    EXPECT_TRUE(has({"FAT64", "32  MB", 149504 + 12})); // backup boot region
    EXPECT_TRUE(has({"extX", "32  MB", 215040}));
}

TEST_F(SampleDisk, SectorRangeLimitsTheSearchToWholeChunks)
{
    Partition p;
    p.skipVolumes = false;
    p.scanStartSector = 67584;
    p.scanEndSector = 67584 + 100;
    StatusRecorder page;
    search(p, page);
    // The chunk in which the end falls is searched whole, and no further.
    EXPECT_EQ(rows(p), (std::vector<Row>{{"FAT32", "40  MB", 67584}, {"FAT32", "40  MB", 67590}}));

    Partition past;
    past.scanStartSector = static_cast<std::int64_t>(reader.diskSectorCount);
    StatusRecorder quiet;
    search(past, quiet);
    EXPECT_TRUE(past.volumeList.empty());
}

TEST_F(SampleDisk, StopEndsTheSearchWithinOneSectorAndKeepsWhatWasFound)
{
    Partition p;
    p.skipVolumes = false;
    StatusRecorder page;
    page.stopOn = &p.stopRequested;
    page.stopAt = "found FAT 32..."; // Stop pressed as the first FAT32 record is reported
    std::vector<std::int64_t> added;
    p.volumeAdded = [&](const VolumeRecord& r) { added.push_back(r.startSector); };
    search(p, page);
    // The record being tested is kept; its backup six sectors on is not reached.
    EXPECT_EQ(rows(p).back(), (Row{"FAT32", "40  MB", 67584}));
    EXPECT_EQ(page.statuses.back(), "Scanned Partitions");
    EXPECT_EQ(added, (std::vector<std::int64_t>{2048, 2048 + 65535, 67584}));
}

} // namespace
} // namespace qis
