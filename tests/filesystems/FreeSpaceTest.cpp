// The free space each parser reports (what carve --unallocated scans),
// against Sleuth Kit's blkls, which lists the units a file system leaves
// unallocated, on volumes made by the real tools.

#include "filesystems/FreeSpace.h"
#include "filesystems/VolumeScan.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace qis {
namespace {

struct Volume {
    const char* name;
    const char* image;
    const char* qemuFormat; // "" for a raw image
    const char* fileSystem;
    std::int64_t startSector;
    const char* sizeText;
    std::uint64_t unitBytes; // what blkls counts in: sectors on FAT, else the cluster or block
};

const Volume kVolumes[] = {
    {"CarveFat32", "carve-fs.vhdx", "vhdx", "FAT32", 2048, "40 MB", 512},
    {"CarveNtfs", "carve-fs.vhdx", "vhdx", "NTFS", 83968, "16 MB", 4096},
    {"SampleNtfs", "sample.vhdx", "vhdx", "NTFS", 2048, "32 MB", 4096},
    {"SampleFat32", "sample.vhdx", "vhdx", "FAT32", 67584, "40 MB", 512},
    {"SampleExfat", "sample.vhdx", "vhdx", "FAT64", 149504, "32 MB", 512},
    {"SampleExt4", "sample.vhdx", "vhdx", "extX", 215040, "32 MB", 1024},
    {"Ext2", "undelete-ext.img", "", "extX", 2048, "6 MB", 1024},
    {"Ext3", "undelete-ext.img", "", "extX", 16384, "6 MB", 1024},
    {"Ext4", "undelete-ext.img", "", "extX", 30720, "6 MB", 1024},
    {"Hfsplus", "undelete-hfsplus.img", "", "HFS+", 688, "4 MB", 2048},
};

void PrintTo(const Volume& v, std::ostream* os) { *os << v.name; }

class FreeSpace : public ::testing::TestWithParam<Volume> {};

TEST_P(FreeSpace, IsWhatSleuthKitCallsUnallocated)
{
    const Volume& v = GetParam();
    const std::filesystem::path raw = *v.qemuFormat ? test::qemuRawReference(test::fixture(v.image), v.qemuFormat)
                                                    : test::fixture(v.image);
    auto listed = test::runCommand("blkls -A -l -o " + std::to_string(v.startSector) + " " +
                                   test::shellQuote(raw.string()));
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    std::uint64_t units = 0;
    std::regex unit("^[0-9]+\\|f$");
    std::istringstream lines(listed.out);
    for (std::string line; std::getline(lines, line);)
        units += std::regex_match(line, unit);

    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(raw));
    VolumeRecord record{v.fileSystem, "", v.sizeText, v.startSector};
    std::string whyNot;
    auto scan = makeVolumeScan(record, reader, ScanOptions{}, whyNot);
    ASSERT_TRUE(scan) << whyNot;
    NullReporter quiet;
    PauseGate gate;
    JobContext job(quiet, gate);
    VolumeParser* parser = runVolumeScan(*scan, job);
    ASSERT_NE(parser, nullptr);
    auto free = parser->unallocatedSpace();
    ASSERT_TRUE(free.has_value());
    std::uint64_t bytes = 0, last = 0;
    for (const ByteRun& r : *free) {
        EXPECT_GE(r.start, last) << "runs in order, apart";
        EXPECT_EQ(r.start % v.unitBytes, 0u);
        bytes += r.length;
        last = r.end();
    }
    EXPECT_GT(units, 0u);
    EXPECT_EQ(bytes, units * v.unitBytes);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FreeSpace, ::testing::ValuesIn(kVolumes),
                         [](const auto& info) { return std::string(info.param.name); });

// A map of alternating free and used units (a crafted bitmap) cannot grow
// the list without bound: narrow used gaps are taken in, every free byte
// stays covered, and runs stay in order and inside the volume.
TEST(FreeSpaceRuns, StaysBoundedAndCoversEveryFreeByte)
{
    const std::uint64_t units = 3 * FreeSpaceRuns::kMaxRuns;
    const std::uint64_t volume = (2 * units - 1) * 512 - 100; // ends inside the last free unit
    FreeSpaceRuns runs(volume);
    for (std::uint64_t u = 0; u < units; ++u)
        runs.addUnits(0, 2 * u, 1, 512);
    const auto list = runs.take();
    ASSERT_FALSE(list.empty());
    EXPECT_LE(list.size(), FreeSpaceRuns::kMaxRuns);
    EXPECT_EQ(list.front().start, 0u);
    EXPECT_EQ(list.back().end(), volume) << "cut at the volume's end";
    for (std::size_t i = 1; i < list.size(); ++i)
        EXPECT_GT(list[i].start, list[i - 1].end());
    std::size_t at = 0;
    for (std::uint64_t u = 0; u < units; ++u) {
        const std::uint64_t byte = 2 * u * 512;
        while (at < list.size() && list[at].end() <= byte)
            ++at;
        ASSERT_TRUE(at < list.size() && list[at].start <= byte) << "free unit " << 2 * u << " left out";
    }
}

} // namespace
} // namespace qis
