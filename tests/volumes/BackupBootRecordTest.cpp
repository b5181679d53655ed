// Volumes told by copies of their boot records, on real volumes: the sample
// disk (primaries intact) and backup-volumes.img (primaries zeroed with dd
// after mkfs.exfat, mkfs.fat, mkntfs and mke2fs), and disks made of one of
// the sample's volumes with no partition table in front of it.

#include "images/raw/FileReadSeekRaw.h"
#include "support/Fixtures.h"
#include "volumes/BackupBootRecord.h"
#include "volumes/Partition.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

std::filesystem::path sampleRaw() { return test::qemuRawReference(test::fixture("sample.vhdx"), "vhdx"); }

std::vector<std::uint8_t> sectorOf(readWriteInterface& reader, std::uint64_t sector, std::uint32_t count = 1)
{
    std::vector<std::uint8_t> bytes(512 * count);
    EXPECT_TRUE(reader.seek(static_cast<std::int64_t>(sector * 512), 0));
    EXPECT_TRUE(reader.read(bytes.data(), 512 * count));
    return bytes;
}

struct PlacementCase {
    const char* what;
    bool wiped; // on backup-volumes.img, else the sample disk
    std::uint64_t sector;
    BootRecordKind kind;
    std::int64_t start;
    bool isBackup;
};

TEST(BackupBootRecord, EachFoundRecordIsPlacedAtItsVolumesStart)
{
    const PlacementCase cases[] = {
        {"exFAT primary", false, 149504, BootRecordKind::Exfat, 149504, false},
        {"exFAT copy, primary intact", false, 149516, BootRecordKind::Exfat, 149504, true},
        {"exFAT copy, primary gone", true, 2060, BootRecordKind::Exfat, 2048, true},
        {"FAT32 primary", false, 67584, BootRecordKind::Fat32, 67584, false},
        {"FAT32 copy, primary intact", false, 67590, BootRecordKind::Fat32, 67584, true},
        {"FAT32 copy, primary gone", true, 18438, BootRecordKind::Fat32, 18432, true},
        {"NTFS primary", false, 2048, BootRecordKind::Ntfs, 2048, false},
        {"NTFS copy, primary intact", false, 2048 + 65535, BootRecordKind::Ntfs, 2048, true},
        {"NTFS copy, primary gone", true, 124927, BootRecordKind::Ntfs, 92160, true},
    };
    FileReadSeekRaw sample, wiped;
    ASSERT_TRUE(sample.open(sampleRaw()));
    ASSERT_TRUE(wiped.open(test::fixture("backup-volumes.img")));
    for (const auto& c : cases) {
        readWriteInterface& reader = c.wiped ? static_cast<readWriteInterface&>(wiped) : sample;
        auto record = sectorOf(reader, c.sector);
        ASSERT_EQ(identifyBootSector(record).kind, c.kind) << c.what;
        RecordPlacement place = placeFoundRecord(reader, c.kind, record, c.sector);
        EXPECT_EQ(place.volumeStart, c.start) << c.what;
        EXPECT_EQ(place.isBackup, c.isBackup) << c.what;
    }
}

TEST(BackupBootRecord, ACopyWhoseVolumeLeftNoOtherTraceStaysWhereItWasFound)
{
    // The exFAT copy with its FAT zeroed too: nothing tells it from a primary.
    test::TempDir dir;
    auto image = test::fixtureCopy("backup-volumes.img", dir);
    FileReadSeekRaw probe;
    ASSERT_TRUE(probe.open(image));
    auto record = sectorOf(probe, 2060);
    const std::uint32_t fatOffset = record[0x50] | record[0x51] << 8 | record[0x52] << 16 | record[0x53] << 24;
    test::patchFile(image, (2048 + fatOffset) * 512ull, std::vector<std::uint8_t>(512, 0));
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(image));
    RecordPlacement place = placeFoundRecord(reader, BootRecordKind::Exfat, record, 2060);
    EXPECT_EQ(place.volumeStart, 2060);
    EXPECT_FALSE(place.isBackup);
}

struct CopyCase {
    const char* what;
    std::uint64_t start, length;
    BootRecordKind kind; // None: no copy names the volume
    std::uint64_t copySector;
};

TEST(BackupBootRecord, AWipedVolumeIsNamedByTheCopyThatNamesItself)
{
    const CopyCase cases[] = {
        {"exFAT region at +12", 2048, 16384, BootRecordKind::Exfat, 2060},
        {"FAT32 copy at its backup field", 18432, 73728, BootRecordKind::Fat32, 18438},
        {"NTFS copy in the last sector", 92160, 32768, BootRecordKind::Ntfs, 124927},
        // A partition one sector longer: the last sector is no NTFS copy.
        {"NTFS with a table length that misses the copy", 92160, 32769, BootRecordKind::None, 0},
        {"ext superblock of group 1", 124928, 24576, BootRecordKind::Ext, 124928 + 16386},
        // The length from the table bounds how far copies are looked for.
        {"ext volume shorter than its first group", 124928, 16000, BootRecordKind::None, 0},
        {"the FAT32 volume read one sector late", 18433, 73727, BootRecordKind::None, 0},
    };
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(test::fixture("backup-volumes.img")));
    for (const auto& c : cases) {
        BackupIdentification copy = identifyByBackup(reader, c.start, c.length);
        EXPECT_EQ(copy.record.kind, c.kind) << c.what;
        if (c.kind != BootRecordKind::None) {
            EXPECT_EQ(copy.copySector, c.copySector) << c.what;
        }
    }
}

TEST(BackupBootRecord, AnExtCopyCountsOnlyInTheGroupAndBlockItNames)
{
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(test::fixture("backup-volumes.img")));
    const auto copy = sectorOf(reader, 124928 + 16386, 2); // group 1 of 1 KiB blocks: block 8193
    EXPECT_EQ(identifyExtBackupSuperblock(copy, 1, 8193).kind, BootRecordKind::Ext);
    EXPECT_EQ(identifyExtBackupSuperblock(copy, 3, 8193).kind, BootRecordKind::None);
    EXPECT_EQ(identifyExtBackupSuperblock(copy, 1, 8192).kind, BootRecordKind::None);
    EXPECT_EQ(identifyExtSuperblock(copy).kind, BootRecordKind::None); // never taken for a primary
    std::uint64_t into = 0;
    EXPECT_EQ(identifyExtBackupSector(std::span(copy).first(512), &into).kind, BootRecordKind::Ext);
    EXPECT_EQ(into, 16386u);
}

// ---- disks without a partition table -------------------------------------

struct WholeDiskCase {
    const char* what;
    std::uint64_t sampleStart, sectors;
    const char* fileSystem;
    const char* sizeText;
    bool fakeEntry; // a partition entry written into the boot code of sector 0
};

TEST(WholeDisk, AFileSystemAtSectorZeroIsTheDisksOneVolume)
{
    const WholeDiskCase cases[] = {
        {"NTFS", 2048, 65536, "NTFS", "31   MB", false},
        {"FAT32", 67584, 81920, "FAT32", "40   MB", false},
        {"exFAT", 149504, 65536, "FAT64", "32   MB", false},
        {"ext4", 215040, 65536, "extX", "32   MB", false},
        // A boot sector ends in 0x55AA too; its boot code must not be read as a table.
        {"FAT32 whose boot code looks like a partition entry", 67584, 81920, "FAT32", "40   MB", true},
        {"NTFS whose boot code looks like a partition entry", 2048, 65536, "NTFS", "31   MB", true},
    };
    FileReadSeekRaw sample;
    ASSERT_TRUE(sample.open(sampleRaw()));
    for (const auto& c : cases) {
        test::TempDir dir;
        auto disk = sectorOf(sample, c.sampleStart, static_cast<std::uint32_t>(c.sectors));
        if (c.fakeEntry) {
            const std::uint8_t entry[16] = {0x80, 0, 0, 0, 0x07, 0, 0, 0, 0x00, 0x08, 0, 0, 0x00, 0x10, 0, 0};
            std::copy(std::begin(entry), std::end(entry), disk.begin() + 446);
        }
        test::writeWholeFile(dir / "disk.img", disk);
        FileReadSeekRaw reader;
        ASSERT_TRUE(reader.open(dir / "disk.img"));
        for (bool gpt : {false, true}) {
            Partition p;
            p.gptMode = gpt;
            NullReporter page;
            EXPECT_EQ(scanPartitionTable(reader, p, page), 0);
            ASSERT_EQ(p.volumeList.size(), 1u) << c.what << (gpt ? " (GPT)" : "");
            EXPECT_EQ(p.volumeList[0].fileSystem, c.fileSystem) << c.what;
            EXPECT_EQ(p.volumeList[0].sizeText, c.sizeText) << c.what;
            EXPECT_EQ(p.volumeList[0].startSector, 0) << c.what;
        }
    }
}

TEST(WholeDisk, AnExtSuperblockBehindARealPartitionTableDoesNotHideIt)
{
    // An MBR with one partition, and (as a leftover of an earlier format) an
    // ext superblock at byte 1024: the table wins.
    FileReadSeekRaw sample;
    ASSERT_TRUE(sample.open(sampleRaw()));
    auto disk = sectorOf(sample, 215040, 4096);
    std::fill(disk.begin(), disk.begin() + 512, 0);
    const std::uint8_t entry[16] = {0, 0, 0, 0, 0x0C, 0, 0, 0, 0x00, 0x08, 0, 0, 0x00, 0x08, 0, 0};
    std::copy(std::begin(entry), std::end(entry), disk.begin() + 446);
    disk[510] = 0x55;
    disk[511] = 0xAA;
    test::TempDir dir;
    test::writeWholeFile(dir / "disk.img", disk);
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(dir / "disk.img"));
    Partition p;
    NullReporter page;
    EXPECT_EQ(scanPartitionTable(reader, p, page), 0);
    ASSERT_EQ(p.volumeList.size(), 1u);
    EXPECT_EQ(p.volumeList[0].startSector, 2048);
    EXPECT_EQ(p.volumeList[0].fileSystem, "FAT32"); // by its type code: nothing is there
}

} // namespace
} // namespace qis
