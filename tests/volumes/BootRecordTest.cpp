// Boot-record recognition on real boot sectors (taken from the sample disk)
// with one named field changed at a time.

#include "images/vhdx/FileReadSeekVHDX.h"
#include "support/Fixtures.h"
#include "volumes/BootRecord.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qis {
namespace {

std::vector<std::uint8_t> sampleSectors(std::int64_t sector, std::uint32_t count = 1)
{
    FileReadSeekVHDX reader;
    EXPECT_TRUE(reader.open(test::fixture("sample.vhdx")));
    std::vector<std::uint8_t> bytes(512 * count);
    EXPECT_TRUE(reader.seek(sector * 512, 0));
    EXPECT_TRUE(reader.read(bytes.data(), 512 * count));
    return bytes;
}

void put16(std::vector<std::uint8_t>& s, std::size_t at, std::uint16_t v)
{
    s[at] = static_cast<std::uint8_t>(v);
    s[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

TEST(BootRecord, RealBootSectorsOfEachFileSystem)
{
    auto ntfs = identifyBootSector(sampleSectors(2048));
    EXPECT_EQ(ntfs.kind, BootRecordKind::Ntfs);
    EXPECT_EQ(ntfs.sizeBytes, 65535ull * 512);
    auto fat32 = identifyBootSector(sampleSectors(67584));
    EXPECT_EQ(fat32.kind, BootRecordKind::Fat32);
    EXPECT_EQ(fat32.sizeBytes, 81920ull * 512);
    auto exfat = identifyBootSector(sampleSectors(149504));
    EXPECT_EQ(exfat.kind, BootRecordKind::Exfat);
    EXPECT_EQ(exfat.sizeBytes, 65536ull * 512);
    auto ext = sampleSectors(215040, 3);
    auto superblock = identifyExtSuperblock(std::span(ext).subspan(1024, 512));
    EXPECT_EQ(superblock.kind, BootRecordKind::Ext);
    EXPECT_EQ(superblock.sizeBytes, 32ull << 20);
}

TEST(BootRecord, FatIsToldByItsParameterBlockNotItsOemName)
{
    const auto good = sampleSectors(67584);
    ASSERT_EQ(std::memcmp(good.data() + 3, "mkfs.fat", 8), 0); // what mkfs.fat writes

    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> change;
        BootRecordKind expected;
    };
    const Case cases[] = {
        {"Windows 9x OEM name", [](auto& s) { std::memcpy(s.data() + 3, "MSWIN4.1", 8); }, BootRecordKind::Fat32},
        {"MSDOS OEM name", [](auto& s) { std::memcpy(s.data() + 3, "MSDOS5.0", 8); }, BootRecordKind::Fat32},
        {"bytes per sector 1000", [](auto& s) { put16(s, 0x0B, 1000); }, BootRecordKind::None},
        {"bytes per sector 8192", [](auto& s) { put16(s, 0x0B, 8192); }, BootRecordKind::None},
        {"sectors per cluster 3", [](auto& s) { s[0x0D] = 3; }, BootRecordKind::None},
        {"no reserved sectors", [](auto& s) { put16(s, 0x0E, 0); }, BootRecordKind::None},
        {"no FATs", [](auto& s) { s[0x10] = 0; }, BootRecordKind::None},
        {"no 0x55AA", [](auto& s) { s[0x1FE] = 0; }, BootRecordKind::None},
        {"no jump", [](auto& s) { s[0] = 0; }, BootRecordKind::None},
        {"no FAT size at all", [](auto& s) { std::memset(s.data() + 0x24, 0, 4); }, BootRecordKind::UnknownFat},
        // An MSDOS-named sector is still FAT even with a damaged signature.
        {"MSDOS name, no 0x55AA",
         [](auto& s) {
             std::memcpy(s.data() + 3, "MSDOS5.0", 8);
             s[0x1FE] = 0;
         },
         BootRecordKind::Fat32},
    };
    for (const auto& c : cases) {
        auto sector = good;
        c.change(sector);
        EXPECT_EQ(identifyBootSector(sector).kind, c.expected) << c.what;
    }
}

TEST(BootRecord, Fat16AcceptsAnyFatSizeThatFitsTheVolume)
{
    auto sector = sampleSectors(67584);
    // Turn the FAT32 parameter block into a FAT16 one of 40 MiB.
    put16(sector, 0x11, 512); // root entries
    put16(sector, 0x13, 0);   // total sectors in the 32-bit field
    put16(sector, 0x0E, 4);   // reserved
    for (std::uint16_t fatSize : {80, 128, 200, 256, 300}) {
        put16(sector, 0x16, fatSize);
        auto r = identifyBootSector(sector);
        EXPECT_EQ(r.kind, BootRecordKind::Fat16) << fatSize;
        EXPECT_EQ(r.sizeBytes, 81920ull * 512) << fatSize;
    }
    put16(sector, 0x16, 50000); // two FATs larger than the volume
    EXPECT_EQ(identifyBootSector(sector).kind, BootRecordKind::UnknownFat);
    put16(sector, 0x16, 8);
    sector[0x0D] = 64; // few clusters: FAT12
    EXPECT_EQ(identifyBootSector(sector).kind, BootRecordKind::Fat12);
}

TEST(BootRecord, HfsPlusAndExtHeaders)
{
    std::vector<std::uint8_t> header(512, 0);
    header[0] = 'H';
    header[1] = '+';
    header[3] = 4;
    header[0x28 + 2] = 0x10; // block size 4096 (big-endian)
    header[0x2C + 2] = 0x01; // 256 blocks
    auto hfs = identifyHfsPlusHeader(header);
    EXPECT_EQ(hfs.kind, BootRecordKind::HfsPlus);
    EXPECT_EQ(hfs.sizeBytes, 4096ull * 256);
    header[1] = 'X';
    EXPECT_EQ(identifyHfsPlusHeader(header).kind, BootRecordKind::HfsPlus);
    header[2] = 1;
    EXPECT_EQ(identifyHfsPlusHeader(header).kind, BootRecordKind::None);

    auto ext = sampleSectors(215040, 3);
    std::vector<std::uint8_t> superblock(ext.begin() + 1024, ext.begin() + 1536);
    auto backup = superblock;
    put16(backup, 0x5A, 1); // s_block_group_nr of a backup
    EXPECT_EQ(identifyExtSuperblock(backup).kind, BootRecordKind::None);
    auto huge = superblock;
    huge[0x18] = 7; // s_log_block_size beyond 64 KiB blocks
    EXPECT_EQ(identifyExtSuperblock(huge).kind, BootRecordKind::None);
}

} // namespace
} // namespace qis
