// How far the whole-volume searches read: a volume size from a damaged boot
// sector or partition entry can be far beyond the disk.

#include "filesystems/VolumeSweep.h"
#include "images/VolumeBytes.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

constexpr std::uint64_t kMiB = 1048576;

class SmallDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<std::uint8_t> bytes(25 * kMiB, 0x5A);
        auto path = dir_ / "disk.img";
        test::writeWholeFile(path, bytes);
        ASSERT_TRUE(reader.open(path));
    }
    FileReadSeekRaw reader;

private:
    test::TempDir dir_;
};

TEST_F(SmallDisk, AVolumeClaimingAPebibyteIsSweptOnlyToTheDisksEnd)
{
    reader.baseOffset = static_cast<std::int64_t>(4 * kMiB);
    std::vector<std::uint64_t> starts;
    std::uint64_t lastLength = 0;
    sweepVolume(reader, std::uint64_t{1} << 50, 1024, [&](const SweepChunk& chunk) {
        starts.push_back(chunk.start);
        lastLength = chunk.length;
        EXPECT_EQ(chunk.bytes.size(), chunk.length + (starts.size() < 3 ? 1024 : 0));
        return starts.size() < 100; // the disk has three chunks; a runaway sweep ends here
    });
    EXPECT_EQ(starts, (std::vector<std::uint64_t>{0, kSweepChunkBytes, 2 * kSweepChunkBytes}));
    EXPECT_EQ(lastLength, 21 * kMiB - 2 * kSweepChunkBytes);
}

TEST_F(SmallDisk, WithinDiskCutsAtTheDisksEndAndLeavesSmallerSizesAlone)
{
    EXPECT_EQ(withinDisk(reader, 4 * kMiB), 4 * kMiB);
    EXPECT_EQ(withinDisk(reader, UINT64_MAX), 25 * kMiB);
    reader.baseOffset = static_cast<std::int64_t>(20 * kMiB);
    EXPECT_EQ(withinDisk(reader, 100 * kMiB), 5 * kMiB);
    reader.baseOffset = static_cast<std::int64_t>(30 * kMiB);
    EXPECT_EQ(withinDisk(reader, 100 * kMiB), 0u) << "a volume starting past the disk's end holds nothing";
}

TEST(VolumeReach, ReachesToJustBeforeTheNextWholeMebibyteOfTheListedFigure)
{
    EXPECT_EQ(volumeReachFromSizeText("3"), 4 * kMiB - 512);
    EXPECT_EQ(volumeReachFromSizeText("8192   MB"), 8193 * kMiB - 512);
    EXPECT_EQ(volumeReachFromSizeText("0"), 0u) << "no size known stays no size";
    EXPECT_EQ(volumeReachFromSizeText("MB"), 0u);
}

} // namespace
} // namespace qis
