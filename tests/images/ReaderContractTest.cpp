// The seek/read contract every reader keeps, on an image with 1 MiB blocks
// whose numbered regions are [0, 1M), [37M + 1536, 38M), [100M, 101M) and
// [127M, 128M); everything else is unallocated.

#include "images/vhdx/FileReadSeekVHDX.h"
#include "support/Fixtures.h"
#include "support/NumberedDisk.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

using test::numberedSector;
using test::slice;
using test::zeroSector;

class ReaderContract : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(reader.open(test::fixture("numbered-1m.vhdx"))) << reader.lastMessage(); }

    std::vector<std::uint8_t> readAt(std::int64_t offset, std::uint32_t length, bool expectOk = true)
    {
        std::vector<std::uint8_t> buffer(length, 0xEE);
        EXPECT_TRUE(reader.seek(offset, 0));
        EXPECT_EQ(reader.read(buffer.data(), length), expectOk);
        return buffer;
    }

    FileReadSeekVHDX reader;
};

TEST_F(ReaderContract, SeekRoundsDownToTheSectorStart)
{
    EXPECT_EQ(readAt(700, 512), numberedSector(1));
    EXPECT_EQ(reader.currentOffset, 700 + 512);
    // The next read continues at the next sector.
    std::vector<std::uint8_t> next(512);
    ASSERT_TRUE(reader.read(next.data(), 512));
    EXPECT_EQ(next, numberedSector(2));
}

TEST_F(ReaderContract, ZeroLengthReadDeliversNothing)
{
    std::vector<std::uint8_t> buffer(16, 0x5A);
    ASSERT_TRUE(reader.seek(4096, 0));
    EXPECT_TRUE(reader.read(buffer.data(), 0));
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(16, 0x5A));
    EXPECT_EQ(reader.currentOffset, 4096);
}

TEST_F(ReaderContract, BaseOffsetShiftsEverySeek)
{
    reader.baseOffset = 63 * 512;
    EXPECT_EQ(readAt(0, 512), numberedSector(63));
    EXPECT_EQ(readAt(512, 512), numberedSector(64));
}

TEST_F(ReaderContract, UnallocatedBlocksReadAsZeros)
{
    EXPECT_EQ(readAt(10 << 20, 512), zeroSector());
    EXPECT_FALSE(reader.blockPresent);
}

TEST_F(ReaderContract, ReadRunsFromAllocatedIntoUnallocatedBlocks)
{
    auto data = readAt((1 << 20) - 1024, 2048);
    EXPECT_EQ(slice(data, 0, 512), numberedSector(2046));
    EXPECT_EQ(slice(data, 512, 512), numberedSector(2047));
    EXPECT_EQ(slice(data, 1024, 1024), std::vector<std::uint8_t>(1024, 0));
}

TEST_F(ReaderContract, ReadStartsInsideABlockAtAnOddSector)
{
    // The second region starts three sectors into block 37.
    auto data = readAt(37 << 20, 2048);
    EXPECT_EQ(slice(data, 0, 1536), std::vector<std::uint8_t>(1536, 0));
    EXPECT_EQ(slice(data, 1536, 512), numberedSector((37 << 11) + 3));
}

TEST_F(ReaderContract, TrailingPartialSectorIsDeliveredWithoutAdvancing)
{
    auto data = readAt(0, 512 + 100);
    EXPECT_EQ(slice(data, 512, 100), slice(numberedSector(1), 0, 100));
    EXPECT_EQ(reader.currentOffset, 512);
}

TEST_F(ReaderContract, SeekToTheBlockPastTheTableFails)
{
    const auto blocks = static_cast<std::int64_t>(reader.blockTable.size());
    EXPECT_EQ(blocks, 128);
    EXPECT_TRUE(reader.seek((blocks << 20) - 512, 0));
    EXPECT_FALSE(reader.seek(blocks << 20, 0));
    EXPECT_FALSE(reader.seek(-512, 0));
}

TEST_F(ReaderContract, ReadAfterAFailedSeekNeverReturnsOldData)
{
    EXPECT_EQ(readAt(0, 512), numberedSector(0));
    std::vector<std::uint8_t> buffer(1024, 0xEE);
    EXPECT_FALSE(reader.seek(200ll << 20, 0));
    EXPECT_FALSE(reader.read(buffer.data(), 1024));
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(1024, 0));
    // A read that runs off the end of the disk keeps what lies inside it.
    auto tail = readAt((128 << 20) - 512, 1024, false);
    EXPECT_EQ(slice(tail, 0, 512), numberedSector((128 << 11) - 1));
    EXPECT_EQ(slice(tail, 512, 512), zeroSector());
}

TEST_F(ReaderContract, OpeningTwiceKeepsOneMapping)
{
    ASSERT_TRUE(reader.open(test::fixture("numbered-1m.vhdx")));
    EXPECT_EQ(reader.blockTable.size(), 128u);
    EXPECT_EQ(readAt(100 << 20, 512), numberedSector(100 << 11));
}

} // namespace
} // namespace qis
