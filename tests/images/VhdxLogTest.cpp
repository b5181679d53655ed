// A VHDX whose log was never applied (tests/data/vhdx-log.vhdx, written by
// tests/fixtures/vhdx-log-writer.py into a qemu-img-made VHDX): the log is
// replayed in memory, and a log that does not hold up is ignored and said so.

#include "images/vhdx/FileReadSeekVHDX.h"
#include "support/Fixtures.h"
#include "util/Crc32c.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

namespace qis {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kLogAt = kMiB; // where qemu-img puts the log
// What the log writes over readme.txt's data, and into the block it allocates.
const std::string kReplayedReadme = "Replayed from the VHDX log after a crash.       \n";
constexpr char kAllocatedSector[] = "Sector written by the log into a block it allocated. ";
constexpr std::uint64_t kAllocatedBlockAt = 16 * kMiB;

std::string readText(const fs::path& path)
{
    auto bytes = test::readWholeFile(path);
    return {bytes.begin(), bytes.end()};
}

// Changes the current header (the one with the higher sequence number) and
// gives it its checksum again, as a writer of the format would.
void patchCurrentHeader(const fs::path& image, std::size_t at, const std::vector<std::uint8_t>& bytes)
{
    auto file = test::readWholeFile(image);
    auto seq = [&file](std::size_t h) {
        std::uint64_t v = 0;
        std::memcpy(&v, file.data() + h + 8, 8);
        return v;
    };
    const std::size_t header = seq(128 * 1024) > seq(64 * 1024) ? 128 * 1024 : 64 * 1024;
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(header + at));
    std::fill_n(file.begin() + static_cast<std::ptrdiff_t>(header + 4), 4, 0);
    std::uint32_t crc = crc32c(std::span<const std::uint8_t>(file).subspan(header, 4096));
    for (int i = 0; i < 4; ++i)
        file[header + 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(crc >> (8 * i));
    test::writeWholeFile(image, file);
}

std::vector<std::uint8_t> le(std::uint64_t value, int width)
{
    std::vector<std::uint8_t> out;
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return out;
}

// What qemu-img reads from the image once its header names no log: the
// disk as the file holds it.
fs::path qemuRawWithoutLog(const fs::path& image, const test::TempDir& dir)
{
    fs::path copy = dir / "nolog.vhdx", raw = dir / "nolog.raw";
    fs::copy_file(image, copy);
    patchCurrentHeader(copy, 0x30, std::vector<std::uint8_t>(16, 0));
    auto r = test::runCommand("qemu-img convert -f vhdx -O raw " + test::shellQuote(copy.string()) + " " +
                              test::shellQuote(raw.string()));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return raw;
}

TEST(VhdxLog, ExportIsTheDiskAfterTheReplayAndTheImageIsNotWritten)
{
    test::TempDir dir;
    auto image = test::fixture("vhdx-log.vhdx");
    const std::string before = test::fileSha256(image);
    auto out = dir / "disk.img";
    auto r = test::runQsalvage({"export", image.string(), "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The stale entry of the same log and the newer-numbered one of another
    // log both write over readme.txt: taking either would show here.
    EXPECT_TRUE(test::sameContents(out, test::fixture("vhdx-log.flat.raw")));
    EXPECT_EQ(test::fileSha256(image), before);
}

TEST(VhdxLog, InfoSaysTheLogWasReplayedWithItsEntryCount)
{
    auto r = test::runQsalvage({"info", test::fixture("vhdx-log.vhdx").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Format: VHDX"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("The VHDX log held 2 entries not yet applied"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Damage:"), std::string::npos) << r.out;
}

TEST(VhdxLog, ListAndSaveReadTheFilesAsTheLogLeftThem)
{
    test::TempDir dir;
    auto image = test::fixture("vhdx-log.vhdx");
    auto list = test::runQsalvage({"list", image.string(), "--volume", "0"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("readme.txt"), std::string::npos) << list.out;

    auto out = dir / "out";
    auto save = test::runQsalvage({"save", image.string(), "--volume", "0", "--output", out.string()});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    EXPECT_EQ(readText(out / "readme.txt"), kReplayedReadme);
    // Files the log did not touch (sums from nopart-ext4.manifest.txt).
    EXPECT_EQ(test::fileSha256(out / "docs/data.bin"),
              "35aaa692abf9b4b1eb2e072f0acbcd45cdff3717203c6b6ed142a9c3c610fcaa");
    EXPECT_EQ(test::fileSha256(out / "docs/old/note.txt"),
              "8bab9a2e67066611f2c41e68aca6f5b6de9678e7b5d15d3d6080f0516d7043f6");
}

// A log that does not hold up is ignored as a whole: the disk reads as the
// file holds it (what qemu-img reads with the log cleared from the header),
// and info says why.
struct IgnoredLog {
    const char* name;
    std::function<void(const fs::path&)> damage;
    const char* why;
    // qemu-img opens it once the header names no log (not a file cut short
    // of its blocks, nor a log region it finds overlapping the BAT).
    bool qemuOpensIt = true;
};

class VhdxLogIgnored : public ::testing::TestWithParam<IgnoredLog> {};

TEST_P(VhdxLogIgnored, DiskReadsAsTheFileHoldsItAndInfoSaysWhy)
{
    test::TempDir dir;
    auto image = test::fixtureCopy("vhdx-log.vhdx", dir, "dirty.vhdx");
    GetParam().damage(image);

    auto info = test::runQsalvage({"info", image.string()});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("Damage: The VHDX log was ignored because " + std::string(GetParam().why)),
              std::string::npos)
        << info.out;

    if (!GetParam().qemuOpensIt)
        return;
    auto out = dir / "disk.img";
    auto r = test::runQsalvage({"export", image.string(), "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(test::sameContents(out, qemuRawWithoutLog(image, dir)));
}

INSTANTIATE_TEST_SUITE_P(
    Damage, VhdxLogIgnored,
    ::testing::Values(
        // The sequence's first entry (its tail) fails its checksum, so the
        // newer entry has no complete sequence; the stale entry of the same
        // log at 64 KiB has none either (its tail points at nothing).
        IgnoredLog{"TailEntryChecksum",
                   [](const fs::path& p) { test::patchFile(p, kLogAt + 4096 + 100, {0x5A}); },
                   "no sequence of its entries is complete"},
        IgnoredLog{"HeaderNamesAnotherLog",
                   [](const fs::path& p) { patchCurrentHeader(p, 0x30, std::vector<std::uint8_t>(16, 0x77)); },
                   "the header names a log but no entry of it is valid"},
        IgnoredLog{"LogLongerThanSearched",
                   [](const fs::path& p) { patchCurrentHeader(p, 0x44, le(1024 * kMiB, 4)); },
                   "it is 1024 MiB long, more than is searched", false},
        IgnoredLog{"LogPastTheEnd", [](const fs::path& p) { patchCurrentHeader(p, 0x48, le(1024 * kMiB, 8)); },
                   "it reaches past the end of the file"},
        IgnoredLog{"FileShorterThanFlushed",
                   [](const fs::path& p) { fs::resize_file(p, fs::file_size(p) - kMiB); },
                   "the file (24117248 bytes) is shorter than its log entry", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VhdxLog, ABrokenNewestEntryLeavesTheSequenceBeforeIt)
{
    // Entry 1001 (at 16 KiB into the log) allocates block 2; with it damaged,
    // entry 1000 alone is the newest complete sequence: readme.txt is
    // rewritten, block 2 is still unallocated.
    test::TempDir dir;
    auto image = test::fixtureCopy("vhdx-log.vhdx", dir, "dirty.vhdx");
    test::patchFile(image, kLogAt + 16 * 1024 + 200, {0x5A});
    FileReadSeekVHDX reader;
    ASSERT_TRUE(reader.open(image));
    EXPECT_TRUE(reader.damage.empty());

    std::vector<std::uint8_t> flat = test::readWholeFile(test::fixture("vhdx-log.flat.raw"));
    const std::string needle = kReplayedReadme;
    auto at = std::search(flat.begin(), flat.end(), needle.begin(), needle.end());
    ASSERT_NE(at, flat.end());
    std::vector<std::uint8_t> readme(needle.size());
    ASSERT_TRUE(reader.readAt(static_cast<std::uint64_t>(at - flat.begin()), readme));
    EXPECT_EQ(std::string(readme.begin(), readme.end()), needle);

    std::vector<std::uint8_t> allocated(sizeof kAllocatedSector - 1);
    bool present = true;
    reader.allocationRun(static_cast<std::int64_t>(kAllocatedBlockAt), 4096, present);
    EXPECT_FALSE(present);
    ASSERT_TRUE(reader.readAt(kAllocatedBlockAt, allocated));
    EXPECT_EQ(allocated, std::vector<std::uint8_t>(allocated.size(), 0));

    FileReadSeekVHDX whole;
    ASSERT_TRUE(whole.open(test::fixture("vhdx-log.vhdx")));
    whole.allocationRun(static_cast<std::int64_t>(kAllocatedBlockAt), 4096, present);
    EXPECT_TRUE(present);
    ASSERT_TRUE(whole.readAt(kAllocatedBlockAt, allocated));
    EXPECT_EQ(std::string(allocated.begin(), allocated.end()), kAllocatedSector);
}

} // namespace
} // namespace qis
