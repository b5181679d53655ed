// Saving NTFS files whose run lists claim far more than the disk holds: a
// copy of the ntfs-features volume (mkntfs, filled through ntfs-3g) with the
// record of Compressed/holes.bin changed in place: one of its runs made two
// thousand million clusters (8 TiB) long, its size made as large.

#include "filesystems/ntfs/Ntfs.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace qis {
namespace {

constexpr std::uint64_t kVolumeStart = 2048 * 512;
constexpr std::uint64_t kMftOffset = 16384;       // from the volume's boot sector
constexpr std::uint64_t kHolesRecord = 101;        // Compressed/holes.bin
constexpr std::size_t kDataAttribute = 344;        // its $DATA attribute in the record
constexpr std::uint64_t kCluster = 4096;
constexpr std::uint64_t kFirstLcn = 0x872;         // its first run: three clusters there

// Takes everything, keeps the first MiB written, and counts: a parser that
// handles a claimed size a piece at a time is stopped after a thousand calls.
struct CountingSink : DataSink {
    std::vector<std::uint8_t> head;
    std::uint64_t written = 0, skipped = 0, calls = 0;
    bool write(std::span<const std::uint8_t> data) override
    {
        if (++calls > 1000)
            return false;
        if (skipped == 0 && head.size() < (1u << 20))
            head.insert(head.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(data.size(), (1u << 20) - head.size())));
        written += data.size();
        return true;
    }
    bool skip(std::uint64_t bytes) override
    {
        if (++calls > 1000)
            return false;
        skipped += bytes;
        return true;
    }
};

// Reads the fixture's volume through its MFT, as a standard scan does.
void scanFixtureVolume(ntfs& parser)
{
    parser.volumeStartSector = 2048;
    NullReporter quiet;
    PauseGate gate;
    JobContext job(quiet, gate);
    parser.runScan(job);
}

class NtfsHugeRuns : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const std::filesystem::path raw = test::qemuRawReference(test::fixture("ntfs-features.vhdx"), "vhdx");
        disk_ = test::readWholeFile(raw);
        ASSERT_GT(disk_.size(), kVolumeStart + kMftOffset + (kHolesRecord + 1) * 1024);
        original_ = save(disk_, nullptr);
    }

    // The record's $DATA attribute, as bytes of the disk.
    std::uint8_t* attribute(std::vector<std::uint8_t>& disk)
    {
        return disk.data() + kVolumeStart + kMftOffset + kHolesRecord * 1024 + kDataAttribute;
    }
    static void put64(std::uint8_t* at, std::uint64_t v)
    {
        for (int i = 0; i < 8; ++i)
            at[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }

    // Saves holes.bin from the disk into the sink (a fresh one when none).
    CountingSink save(const std::vector<std::uint8_t>& disk, bool* complete)
    {
        auto path = dir_ / "disk.img";
        test::writeWholeFile(path, disk);
        FileReadSeekRaw reader;
        EXPECT_TRUE(reader.open(path));
        ntfs parser(reader);
        scanFixtureVolume(parser);
        CountingSink sink;
        for (std::uint64_t i = 0; i < parser.entryList.size(); ++i)
            if (parser.entryList[i].name && *parser.entryList[i].name == u"holes.bin") {
                bool ok = parser.saveEntry(i, sink);
                if (complete)
                    *complete = ok;
                return sink;
            }
        ADD_FAILURE() << "holes.bin not found";
        return sink;
    }

    std::vector<std::uint8_t> disk_;
    CountingSink original_;

private:
    test::TempDir dir_;
};

TEST_F(NtfsHugeRuns, ACompressedFileWithAHugeSparseRunLeavesOneHoleForItInsteadOfAUnitAtATime)
{
    ASSERT_EQ(original_.written + original_.skipped, 327680u) << "the fixture's holes.bin has changed";
    std::vector<std::uint8_t> disk = disk_;
    std::uint8_t* a = attribute(disk);
    ASSERT_EQ(a[0], 0x80);
    ASSERT_EQ(a[0x0C] & 1, 1) << "holes.bin is compressed";
    const std::uint64_t clusters = 3 + 0x7FFFFFFFull + 3 + 29;
    for (std::size_t field : {0x28, 0x30, 0x38})
        put64(a + field, clusters * kCluster);
    // 3 clusters at 0x872, 2^31-1 sparse clusters, 3 clusters 3 further on, 29 sparse.
    const std::uint8_t runs[] = {0x21, 0x03, 0x72, 0x08, 0x04, 0xFF, 0xFF, 0xFF, 0x7F, 0x11, 0x03, 0x03, 0x01, 0x1D, 0x00};
    std::copy(std::begin(runs), std::end(runs), a + 72);
    put64(a + 0x18, clusters - 1); // the last VCN the runs cover

    bool complete = false;
    CountingSink sink = save(disk, &complete);
    EXPECT_TRUE(complete) << "every cluster is stored or sparse";
    EXPECT_LT(sink.calls, 20u);
    EXPECT_EQ(sink.written + sink.skipped, clusters * kCluster);
    ASSERT_GE(sink.head.size(), 65536u);
    EXPECT_TRUE(std::equal(sink.head.begin(), sink.head.begin() + 65536, original_.head.begin()))
        << "the first compression unit is the file's own";
}

TEST_F(NtfsHugeRuns, ARunReachingFarPastTheDiskIsCopiedAsFarAsTheDiskGoesAndTheRestLeftAsAHole)
{
    std::vector<std::uint8_t> disk = disk_;
    std::uint8_t* a = attribute(disk);
    a[0x0C] &= ~1; // stored as it is
    const std::uint64_t clusters = 3 + 0x7FFFFFFFull;
    for (std::size_t field : {0x28, 0x30, 0x38})
        put64(a + field, clusters * kCluster);
    // 3 clusters at 0x872, then 2^31-1 clusters 2^30 clusters (4 TiB) further on.
    const std::uint8_t runs[] = {0x21, 0x03, 0x72, 0x08, 0x44, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x40, 0x00};
    std::copy(std::begin(runs), std::end(runs), a + 72);
    put64(a + 0x18, clusters - 1);

    bool complete = true;
    CountingSink sink = save(disk, &complete);
    EXPECT_FALSE(complete) << "clusters that are not on the disk make the file incomplete";
    EXPECT_LT(sink.calls, 20u);
    EXPECT_EQ(sink.written, 3 * kCluster);
    EXPECT_EQ(sink.written + sink.skipped, clusters * kCluster);
    const std::uint8_t* stored = disk.data() + kVolumeStart + kFirstLcn * kCluster;
    ASSERT_EQ(sink.head.size(), 3 * kCluster);
    EXPECT_TRUE(std::equal(sink.head.begin(), sink.head.end(), stored));
}

// An image cut short, as a copy that stopped part way: the file whose data
// the cut goes through keeps every byte before it, not only the windows of
// a MiB that lie wholly before it.
TEST(NtfsCutDisk, AFileTheDisksEndCutsThroughKeepsItsBytesBeforeTheCut)
{
    const auto raw = test::qemuRawReference(test::fixture("ntfs-features.vhdx"), "vhdx");
    FileReadSeekRaw wholeReader;
    ASSERT_TRUE(wholeReader.open(raw));
    ntfs parser(wholeReader);
    scanFixtureVolume(parser);
    // The first stored (not compressed) file of at least 64 KiB in one run.
    std::uint64_t file = parser.entryList.size();
    ntfs::DataStream stream;
    for (std::uint64_t i = 0; i < parser.entryList.size() && file == parser.entryList.size(); ++i) {
        if (!parser.entryList[i].name || parser.entryList[i].isFolder())
            continue;
        stream = parser.dataStream(i);
        if (stream.found && !stream.resident && !(stream.flags & 1) && stream.dataSize >= 65536 &&
            stream.runs.size() == 1 && !stream.runs[0].sparse && stream.runs[0].length * kCluster >= stream.dataSize)
            file = i;
    }
    ASSERT_LT(file, parser.entryList.size()) << "the fixture has no such file";
    MemorySink original(64u << 20);
    ASSERT_TRUE(parser.saveEntry(file, original));

    // Cut in the middle of the file's tenth sector.
    const std::uint64_t cutInFile = 9 * 512 + 100;
    const std::uint64_t cut = kVolumeStart + stream.runs[0].lcn * kCluster + cutInFile;
    std::vector<std::uint8_t> disk = test::readWholeFile(raw);
    disk.resize(static_cast<std::size_t>(cut));
    test::TempDir dir;
    auto cutPath = dir / "cut.img";
    test::writeWholeFile(cutPath, disk);
    FileReadSeekRaw cutReader;
    ASSERT_TRUE(cutReader.open(cutPath));
    ntfs cutParser(cutReader);
    scanFixtureVolume(cutParser);
    ASSERT_LT(file, cutParser.entryList.size());
    ASSERT_EQ(cutParser.entryList[file].name, parser.entryList[file].name);
    MemorySink saved(64u << 20);
    EXPECT_FALSE(cutParser.saveEntry(file, saved)) << "what lies past the cut is missing";
    ASSERT_EQ(saved.bytes.size(), original.bytes.size());
    // The raw reader pads the image's last part sector with zeros.
    EXPECT_TRUE(std::equal(saved.bytes.begin(), saved.bytes.begin() + static_cast<std::ptrdiff_t>(cutInFile),
                           original.bytes.begin()));
    EXPECT_TRUE(std::all_of(saved.bytes.begin() + static_cast<std::ptrdiff_t>(cutInFile), saved.bytes.end(),
                            [](std::uint8_t b) { return b == 0; }));
}

} // namespace
} // namespace qis
