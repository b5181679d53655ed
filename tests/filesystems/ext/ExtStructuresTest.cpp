// ext structures and block maps on bytes laid out by hand: what mke2fs
// never writes (loops, wrong depths, pointers off the volume) and the
// decoding rules themselves.

#include "filesystems/ext/ExtBlockMap.h"
#include "filesystems/ext/ExtStructures.h"
#include "filesystems/ext/ExtVolumeView.h"
#include "filesystems/ext/ext2Class.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/Fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace qis {
namespace {

using namespace extdisk;

void le16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void le32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> superblockBytes(std::uint32_t logBlockSize, std::uint16_t inodeSize = 256)
{
    std::vector<std::uint8_t> sb(1024, 0);
    le32(&sb[0x00], 1024);  // inodes
    le32(&sb[0x04], 4096);  // blocks
    le32(&sb[0x14], logBlockSize == 0 ? 1 : 0);
    le32(&sb[0x18], logBlockSize);
    le32(&sb[0x20], 8192);
    le32(&sb[0x28], 1024);
    le16(&sb[0x38], 0xEF53);
    le32(&sb[0x4C], 1); // dynamic revision: the inode size field counts
    le16(&sb[0x58], inodeSize);
    return sb;
}

TEST(ExtSuperblock, BlockSizesUpTo64KiBAreReadAndNonsenseIsRefused)
{
    EXPECT_EQ(Superblock::parse(superblockBytes(2))->blockSize(), 4096u);
    // 16 KiB and 64 KiB blocks are valid ext4 (large-page systems make them).
    EXPECT_EQ(Superblock::parse(superblockBytes(4))->blockSize(), 16384u);
    EXPECT_EQ(Superblock::parse(superblockBytes(6))->blockSize(), 65536u);
    EXPECT_FALSE(Superblock::parse(superblockBytes(7)));
    EXPECT_FALSE(Superblock::parse(superblockBytes(2, 100)));  // inode size no power of two
    EXPECT_FALSE(Superblock::parse(superblockBytes(0, 2048))); // inode larger than a block
    auto wide = superblockBytes(2);
    le32(&wide[0x60], 0x80); // 64bit, but a descriptor size of 0
    EXPECT_FALSE(Superblock::parse(wide));
    le16(&wide[0xFE], 64);
    EXPECT_EQ(Superblock::parse(wide)->descriptorSize, 64u);
}

TEST(ExtDirectory, EntriesAreWalkedByRecordLengthAndBadRecordsEndTheBlock)
{
    std::vector<std::uint8_t> block(1024, 0);
    auto put = [&](std::size_t at, std::uint32_t inode, std::uint16_t recLen, const char* name, std::uint8_t type) {
        le32(&block[at], inode);
        le16(&block[at + 4], recLen);
        block[at + 6] = static_cast<std::uint8_t>(std::strlen(name));
        block[at + 7] = type;
        std::memcpy(&block[at + 8], name, std::strlen(name));
    };
    put(0, 12, 20, "notes.txt", 1);
    put(20, 0, 16, "gone", 1); // an unused slot keeps its place in the walk
    put(36, 13, 988, "Photos", 2);
    auto entries = directoryEntries(block, true);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(std::string(entries[2].name.begin(), entries[2].name.end()), "Photos");
    EXPECT_EQ(entries[2].fileType, 2);
    // Without the file-type feature the name length has 16 bits: 1025 cannot fit.
    block[7] = block[20 + 7] = 0;
    le16(&block[36 + 6], 1025);
    EXPECT_EQ(directoryEntries(block, false).size(), 2u);
    // A record length of 0 or past the block ends the walk there.
    le16(&block[20 + 4], 0);
    EXPECT_EQ(directoryEntries(block, true).size(), 1u);
}

TEST(ExtDirectory, RemovedEntriesAreFoundInTheRecordBeforeThem)
{
    std::vector<std::uint8_t> block(1024, 0);
    auto put = [&](std::size_t at, std::uint32_t inode, std::uint16_t recLen, const char* name) {
        le32(&block[at], inode);
        le16(&block[at + 4], recLen);
        block[at + 6] = static_cast<std::uint8_t>(std::strlen(name));
        block[at + 7] = 1;
        std::memcpy(&block[at + 8], name, std::strlen(name));
    };
    // "draft.txt" at 16 was removed: "kept" at 0 now spans it.
    put(16, 30, 24, "draft.txt");
    put(40, 31, 984, "later.txt");
    put(0, 29, 40, "kept");
    auto removed = deletedEntries(block, true);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].inode, 30u);
    EXPECT_EQ(std::string(removed[0].name.begin(), removed[0].name.end()), "draft.txt");
    // Leftover bytes that make no entry give nothing.
    std::memset(&block[16], 0xAB, 24);
    EXPECT_TRUE(deletedEntries(block, true).empty());
}

// One case of the slack search: live records laid out by (offset, inode,
// record length, name), leftover entries written into their slack the same
// way, and the names the search must find.
struct SlackCase {
    const char* what;
    std::vector<std::tuple<std::size_t, std::uint32_t, std::uint16_t, std::string>> live, left;
    std::vector<std::string> found;
};

TEST(ExtDirectory, SlackSearchFindsWhatIsLeftAndStaysInsideTheBlock)
{
    const std::vector<SlackCase> cases = {
        {"two removed entries behind one record", {{0, 12, 1024, "a"}},
         {{12, 13, 20, "second.txt"}, {32, 14, 992, "third.txt"}}, {"second.txt", "third.txt"}},
        {"a removed entry whose own record still spans a later removed one", {{0, 12, 1024, "a"}},
         {{12, 13, 1012, "outer"}, {28, 14, 996, "inner"}}, {"outer", "inner"}},
        {"slack in the middle record, the last record live", {{0, 12, 12, "a"}, {12, 13, 40, "b"}, {52, 14, 972, "c"}},
         {{24, 15, 28, "gone.bin"}}, {"gone.bin"}},
        {"a left entry whose record runs off the block", {{0, 12, 1024, "a"}}, {{1000, 13, 64, "off"}}, {}},
        {"a left entry with a record length of zero", {{0, 12, 1024, "a"}}, {{12, 13, 0, "zero"}}, {}},
        {"a left entry whose record is shorter than its name", {{0, 12, 1024, "a"}}, {{12, 13, 12, "too long"}}, {}},
        {"a left entry with inode 0", {{0, 12, 1024, "a"}}, {{12, 0, 20, "noinode"}}, {}},
        {"a name past the hiding record's end", {{0, 12, 24, "a"}, {24, 13, 1000, "b"}}, {{12, 14, 20, "spill"}}, {}},
        {"a live record of length 0 ends the walk", {{0, 12, 0, "a"}}, {{12, 13, 20, "after"}}, {}},
        {"a live record running off the block ends the walk", {{0, 12, 2048, "a"}}, {{12, 13, 20, "after"}}, {}},
    };
    for (const SlackCase& c : cases) {
        std::vector<std::uint8_t> block(1024, 0);
        auto put = [&](std::size_t at, std::uint32_t inode, std::uint16_t recLen, const std::string& name) {
            le32(&block[at], inode);
            le16(&block[at + 4], recLen);
            block[at + 6] = static_cast<std::uint8_t>(name.size());
            block[at + 7] = 1;
            std::memcpy(&block[at + 8], name.data(), std::min(name.size(), block.size() - at - 8));
        };
        for (const auto& [at, inode, recLen, name] : c.left)
            put(at, inode, recLen, name);
        for (const auto& [at, inode, recLen, name] : c.live)
            put(at, inode, recLen, name);
        std::vector<std::string> names;
        for (const DirectoryEntry& e : deletedEntries(block, true)) {
            names.emplace_back(e.name.begin(), e.name.end());
            EXPECT_LE(e.offset + e.recordLength, block.size()) << c.what;
        }
        EXPECT_EQ(names, c.found) << c.what;
    }
}

TEST(ExtDirectory, SlackSearchEndsOnAnyBlock)
{
    // Every record length and name length a crafted block can hold: the
    // search finishes, and what it returns lies inside the block.
    std::vector<std::uint8_t> block(1024);
    for (std::uint32_t seed = 1; seed < 400; ++seed) {
        std::uint32_t x = seed * 2654435761u;
        for (auto& b : block) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            b = static_cast<std::uint8_t>(x % 5 == 0 ? x >> 8 : x % 7);
        }
        le16(&block[4], static_cast<std::uint16_t>(12 + 4 * (seed % 200)));
        block[6] = 1;
        for (const DirectoryEntry& e : deletedEntries(block, seed % 2 == 0)) {
            EXPECT_LE(e.offset + 8 + e.name.size(), block.size());
            EXPECT_LE(e.offset + e.recordLength, block.size());
        }
    }
}

TEST(ExtModeText, PermissionBitsGiveTokensInFixedOrder)
{
    EXPECT_EQ(extModeText(0100755), "-OE-OR-GE-GR-UE-UW-UR");
    EXPECT_EQ(extModeText(0100644), "-OR-GR-UW-UR");
    EXPECT_EQ(extModeText(0040000), "");
}

TEST(ExtNames, Utf8WhereWellFormedElseWindows1252)
{
    EXPECT_EQ(extNameText("Fotos \xC3\x96l \xE6\x97\xA5"), u"Fotos \u00D6l \u65E5");
    EXPECT_EQ(extNameText("caf\xE9"), u"caf\u00E9");     // Latin-1 bytes from an old system
    EXPECT_EQ(extNameText("\xC0\xAF"), u"\u00C0\u00AF"); // an overlong '/' is not UTF-8
}

// A volume of 1 KiB blocks in a file, with extent nodes placed by hand.
class ExtBlockMapTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t B = 1024;
    void SetUp() override
    {
        image.assign(64 * B, 0);
        sb = *Superblock::parse(superblockBytes(0));
        sb.blocksCount = 64;
    }
    std::uint8_t* block(std::uint32_t n) { return image.data() + std::size_t{n} * B; }
    static void header(std::uint8_t* at, std::uint16_t entries, std::uint16_t max, std::uint16_t depth)
    {
        le16(at, 0xF30A);
        le16(at + 2, entries);
        le16(at + 4, max);
        le16(at + 6, depth);
    }
    static void extent(std::uint8_t* at, std::uint32_t logical, std::uint16_t length, std::uint32_t start)
    {
        le32(at, logical);
        le16(at + 4, length);
        le32(at + 8, start);
    }
    static void index(std::uint8_t* at, std::uint32_t logical, std::uint32_t child)
    {
        le32(at, logical);
        le32(at + 4, child);
    }
    std::vector<BlockRun> map(const Inode& inode, bool* complete, const BlockTest& taken = {})
    {
        test::writeWholeFile(dir / "ext.img", image);
        FileReadSeekRaw reader;
        EXPECT_TRUE(reader.open(dir / "ext.img"));
        return collectBlocks(reader, sb, inode, complete, taken);
    }
    test::TempDir dir;
    std::vector<std::uint8_t> image;
    Superblock sb;
};

// A deleted file's index node or indirect block that another file holds
// now is not read: what it points to is not the deleted file's.
TEST_F(ExtBlockMapTest, MapBlocksTakenAgainAreNotFollowed)
{
    Inode tree;
    tree.flags = kExtentsFlag;
    tree.size = 40 * B;
    header(tree.block, 2, 4, 1);
    index(tree.block + 12, 0, 10);
    index(tree.block + 24, 20, 11);
    header(block(10), 1, 84, 0);
    extent(block(10) + 12, 0, 3, 30);
    header(block(11), 1, 84, 0);
    extent(block(11) + 12, 20, 4, 50);

    Inode pointers;
    pointers.size = 14 * B;
    le32(pointers.block, 20);      // direct block 0
    le32(pointers.block + 48, 12); // the indirect block
    le32(block(12), 21);
    le32(block(12) + 4, 22);

    for (const Inode* inode : {&tree, &pointers}) {
        bool complete = true;
        EXPECT_EQ(map(*inode, &complete).size(), 2u);
        EXPECT_TRUE(complete);
    }
    auto taken = [](std::uint64_t b) { return b == 11 || b == 12; };
    bool complete = true;
    auto runs = map(tree, &complete, taken);
    EXPECT_FALSE(complete);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].physical, 30u);
    complete = true;
    runs = map(pointers, &complete, taken);
    EXPECT_FALSE(complete);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].physical, 20u);
}

TEST_F(ExtBlockMapTest, IndexNodesAreFollowedAndRunsKeepTheirLogicalPlace)
{
    Inode inode;
    inode.flags = kExtentsFlag;
    inode.size = 40 * B;
    header(inode.block, 2, 4, 1); // two index entries in the inode
    index(inode.block + 12, 0, 10);
    index(inode.block + 24, 20, 11);
    header(block(10), 2, 84, 0);
    extent(block(10) + 12, 0, 3, 30);
    extent(block(10) + 24, 5, 2, 40); // blocks 3 and 4 are a hole
    header(block(11), 1, 84, 0);
    extent(block(11) + 12, 20, 32768 + 4, 50); // allocated, never written
    bool complete = false;
    auto runs = map(inode, &complete);
    EXPECT_TRUE(complete);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0].logical, 0u);
    EXPECT_EQ(runs[0].physical, 30u);
    EXPECT_EQ(runs[1].logical, 5u);
    EXPECT_EQ(runs[2].logical, 20u);
    EXPECT_EQ(runs[2].count, 4u);
    EXPECT_TRUE(runs[2].unwritten);
}

TEST_F(ExtBlockMapTest, LoopsWrongDepthsAndPointersOffTheVolumeEndQuietly)
{
    Inode inode;
    inode.flags = kExtentsFlag;
    inode.size = 10 * B;
    header(inode.block, 2, 4, 1);
    index(inode.block + 12, 0, 10);
    index(inode.block + 24, 5, 12);
    header(block(10), 1, 84, 1); // claims depth 1 again: loops back to itself
    index(block(10) + 12, 0, 10);
    header(block(12), 1, 84, 0);
    extent(block(12) + 12, 5, 2, 1000); // past the 64-block volume
    bool complete = true;
    EXPECT_TRUE(map(inode, &complete).empty());
    EXPECT_FALSE(complete);

    // Block pointers: zeros are holes, the single indirect block is followed.
    Inode old;
    old.size = 15 * B;
    le32(old.block, 20);
    le32(old.block + 8, 22);   // logical 1 is a hole
    le32(old.block + 48, 30);  // single indirect
    le32(block(30) + 4, 33);   // logical 13
    complete = false;
    auto runs = map(old, &complete);
    EXPECT_TRUE(complete);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[1].logical, 2u);
    EXPECT_EQ(runs[2].logical, 13u);
    EXPECT_EQ(runs[2].physical, 33u);
}

TEST(ExtScan, CountsTheVolumeCannotHoldCostNeitherMemoryNorTime)
{
    // One group claiming four billion inodes on a 1 MiB volume.
    test::TempDir dir;
    std::vector<std::uint8_t> image(1 << 20, 0);
    auto sb = superblockBytes(0);
    le32(&sb[0x00], 0xFFFFFFF0u);
    le32(&sb[0x04], 1024);
    le32(&sb[0x28], 0xFFFFFFF0u);
    std::memcpy(&image[1024], sb.data(), sb.size());
    le32(&image[2048 + 0x08], 5); // the group's inode table at block 5
    test::writeWholeFile(dir / "ext.img", image);
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(dir / "ext.img"));
    ext2Class ext(reader);
    ext.volumeSizeText = "1";
    NullReporter quiet;
    PauseGate gate;
    JobContext job(quiet, gate);
    EXPECT_TRUE(ext.runScan(job));
    EXPECT_TRUE(ext.topLevelEntries().empty());
    EXPECT_LE(ext.entryMap.size(), 1u); // ROOT alone
}

} // namespace
} // namespace qis
