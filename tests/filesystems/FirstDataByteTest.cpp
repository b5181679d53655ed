// Where each parser says a deleted file's data began must be where saving
// it reads its first bytes from, on volumes made by real tools: FAT16,
// FAT32, exFAT, NTFS, ext2/3/4 (block maps and extents) and HFS+.

#include "filesystems/EntryWalk.h"
#include "filesystems/VolumeScan.h"
#include "images/VolumeBytes.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qis {
namespace {

struct DeletedVolume {
    const char* name;
    const char* image;
    VolumeRecord volume;
    std::size_t atLeast; // deleted files with data whose first bytes are compared
};

void PrintTo(const DeletedVolume& v, std::ostream* os) { *os << v.name; }

class FirstDataByte : public ::testing::TestWithParam<DeletedVolume> {};

TEST_P(FirstDataByte, IsWhereTheSaveOfEachDeletedFileBegins)
{
    const DeletedVolume& v = GetParam();
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(test::fixture(v.image)));
    std::string whyNot;
    auto scan = makeVolumeScan(v.volume, reader, ScanOptions{}, whyNot);
    ASSERT_TRUE(scan) << whyNot;
    NullReporter quiet;
    PauseGate gate;
    JobContext job{quiet, gate};
    VolumeParser* parser = runVolumeScan(*scan, job);
    ASSERT_TRUE(parser);

    std::size_t compared = 0;
    walkTree(*parser, [&](EntryHandle e, const std::vector<std::u16string>& path) {
        // A save puts zeros or a guess where another file holds the data now.
        const Recoverability r = parser->recoverability(e);
        if (parser->isFolder(e) || !parser->isDeleted(e) || (r != Recoverability::Whole && r != Recoverability::Guessed))
            return;
        auto first = parser->firstDataByte(e);
        MemorySink saved(8u << 20);
        parser->saveEntry(e, saved);
        if (!first) {
            // Only a file whose data is in its record, or that has none, has no first byte.
            EXPECT_LE(saved.bytes.size(), 4096u) << utf16ToUtf8(path.back());
            return;
        }
        ASSERT_FALSE(saved.bytes.empty()) << utf16ToUtf8(path.back());
        std::vector<std::uint8_t> there(std::min<std::size_t>(saved.bytes.size(), 512));
        ASSERT_TRUE(readVolumeBytes(reader, *first, there));
        EXPECT_TRUE(std::equal(there.begin(), there.end(), saved.bytes.begin())) << utf16ToUtf8(path.back());
        ++compared;
    });
    EXPECT_GE(compared, v.atLeast);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, FirstDataByte,
    ::testing::Values(DeletedVolume{"Fat16", "undelete-fat.img", {"FAT16", "", "16", 2048}, 10},
                      DeletedVolume{"Fat32", "undelete-fat.img", {"FAT32", "", "34", 34816}, 10},
                      DeletedVolume{"Exfat", "undelete-fat.img", {"FAT64", "", "12", 104448}, 10},
                      DeletedVolume{"Ntfs", "undelete-ntfs.img", {"NTFS", "", "16", 2048}, 5},
                      DeletedVolume{"Ext2", "undelete-ext.img", {"extX", "", "6", 2048}, 8},
                      DeletedVolume{"Ext3", "undelete-ext.img", {"extX", "", "6", 16384}, 8},
                      DeletedVolume{"Ext4", "undelete-ext.img", {"extX", "", "6", 30720}, 8},
                      DeletedVolume{"Hfsplus", "undelete-hfsplus.img", {"HFS+", "", "4", 688}, 3}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qis
