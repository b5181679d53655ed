// HFS+ catalogs laid out by hand: deep mode's grouping under ORPHAN_ENTRY,
// files with overflow extents, large blocks, and the mode tokens.

#include "filesystems/hfsplus/HFSP.h"
#include "filesystems/hfsplus/HfsVolumeView.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/Fixtures.h"
#include "support/TreeListing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace qis {
namespace {

using ::testing::ElementsAre;

void be16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
void be32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
void be64(std::uint8_t* p, std::uint64_t v)
{
    be32(p, static_cast<std::uint32_t>(v >> 32));
    be32(p + 4, static_cast<std::uint32_t>(v));
}

struct Record {
    std::uint16_t type; // 1 folder, 2 file
    std::uint32_t parent, id;
    std::u16string name;
    std::uint64_t size = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> extents = {};
    std::uint32_t totalBlocks = 0;
    std::uint16_t mode = 0100644; // 0: no BSD info
};

// An HFS+ volume: header at 1024, catalog of a header node and one leaf
// node, optionally an extents overflow tree with one leaf.
class SyntheticHfs {
public:
    SyntheticHfs(std::uint32_t blockSize, std::uint16_t nodeSize, std::uint32_t blocks)
        : B(blockSize), nodeSize(nodeSize), bytes(std::size_t{blockSize} * blocks, 0)
    {
        std::uint8_t* h = bytes.data() + 1024;
        h[0] = 'H';
        h[1] = '+';
        be32(h + 0x28, B);
        be32(h + 0x2C, blocks);
        catalogBlock = (4096 + B - 1) / B; // past the volume header
        fork(h + 0x110, catalogBlock, 2 * nodeSize);
        headerNode(catalogBlock, 2);
    }
    void fork(std::uint8_t* at, std::uint32_t block, std::uint64_t length)
    {
        be64(at, length);
        std::uint32_t count = static_cast<std::uint32_t>((length + B - 1) / B);
        be32(at + 12, count);
        be32(at + 16, block);
        be32(at + 20, count);
    }
    std::uint8_t* node(std::uint32_t firstBlock, std::uint32_t index)
    {
        return bytes.data() + std::size_t{firstBlock} * B + std::size_t{index} * nodeSize;
    }
    void headerNode(std::uint32_t firstBlock, std::uint32_t totalNodes)
    {
        std::uint8_t* n = node(firstBlock, 0);
        n[8] = 1; // header node
        be16(n + 10, 3);
        be16(n + 14 + 18, nodeSize);
        be32(n + 14 + 22, totalNodes);
        be16(n + nodeSize - 2, 14);
    }
    // The catalog's leaf node (node 1) with these records.
    void catalogLeaf(const std::vector<Record>& records)
    {
        std::uint8_t* n = node(catalogBlock, 1);
        n[8] = 0xFF; // leaf
        n[9] = 1;
        be16(n + 10, static_cast<std::uint16_t>(records.size()));
        std::size_t at = 14;
        for (std::size_t k = 0; k < records.size(); ++k) {
            const Record& r = records[k];
            be16(n + nodeSize - 2 * (k + 1), static_cast<std::uint16_t>(at));
            std::uint16_t keyLength = static_cast<std::uint16_t>(6 + 2 * r.name.size());
            be16(n + at, keyLength);
            be32(n + at + 2, r.parent);
            be16(n + at + 6, static_cast<std::uint16_t>(r.name.size()));
            for (std::size_t i = 0; i < r.name.size(); ++i)
                be16(n + at + 8 + 2 * i, r.name[i]);
            std::uint8_t* d = n + at + 2 + keyLength;
            be16(d, r.type);
            be32(d + 8, r.id);
            be32(d + 12, 3793343340u); // createDate a minute before
            be32(d + 16, 3793343400u); // contentModDate 2024-03-15 10:30:00 UTC
            be32(d + 20, 3793343460u); // attributeModDate a minute after
            if (r.mode != 0) {
                be32(d + 32, 501); // owner
                be32(d + 36, 20);  // group
            }
            be16(d + 42, r.mode);
            if (r.type == 2) {
                be64(d + 88, r.size);
                be32(d + 100, r.totalBlocks);
                for (std::size_t i = 0; i < r.extents.size() && i < 8; ++i) {
                    be32(d + 104 + 8 * i, r.extents[i].first);
                    be32(d + 108 + 8 * i, r.extents[i].second);
                }
            }
            at += 2 + keyLength + (r.type == 1 ? 88 : 248);
        }
    }
    // An extents overflow tree whose one leaf holds (fileId, startBlock, extents).
    void overflow(std::uint32_t firstBlock, std::uint32_t fileId, std::uint32_t startBlock,
                  const std::vector<std::pair<std::uint32_t, std::uint32_t>>& extents, std::uint8_t forkType = 0)
    {
        fork(bytes.data() + 1024 + 0xC0, firstBlock, 2 * nodeSize);
        headerNode(firstBlock, 2);
        std::uint8_t* n = node(firstBlock, 1);
        n[8] = 0xFF;
        n[9] = 1;
        be16(n + 10, 1);
        be16(n + nodeSize - 2, 14);
        std::uint8_t* r = n + 14;
        be16(r, 10);
        r[2] = forkType;
        be32(r + 4, fileId);
        be32(r + 8, startBlock);
        for (std::size_t i = 0; i < extents.size(); ++i) {
            be32(r + 12 + 8 * i, extents[i].first);
            be32(r + 16 + 8 * i, extents[i].second);
        }
    }
    std::uint8_t* block(std::uint32_t n) { return bytes.data() + std::size_t{n} * B; }

    std::uint32_t B;
    std::uint16_t nodeSize;
    std::vector<std::uint8_t> bytes;
    std::uint32_t catalogBlock = 0;
};

struct Scan {
    FileReadSeekRaw reader;
    std::unique_ptr<HFSP> volume;
    std::unique_ptr<HfsVolumeView> view;
    bool ok = false;
};

std::unique_ptr<Scan> scan(const SyntheticHfs& hfs, const test::TempDir& dir, bool deep)
{
    test::writeWholeFile(dir / "hfs.img", hfs.bytes);
    auto s = std::make_unique<Scan>();
    EXPECT_TRUE(s->reader.open(dir / "hfs.img"));
    s->volume = std::make_unique<HFSP>(s->reader);
    s->volume->volumeSizeText = std::to_string(hfs.bytes.size() / 1048576);
    s->volume->deepMode = deep;
    NullReporter quiet;
    PauseGate gate;
    JobContext job(quiet, gate);
    s->ok = s->volume->runScan(job);
    s->view = std::make_unique<HfsVolumeView>(*s->volume);
    return s;
}

std::vector<Record> fiveRecords()
{
    return {{1, 2, 16, u"Sixteen"}, {2, 16, 17, u"seventeen.txt"}, {2, 16, 18, u"eighteen.txt"},
            {1, 2, 20, u"Twenty"},  {2, 20, 21, u"twenty-one.txt"}};
}

TEST(HfsDeepMode, FilesGoUnderTheFolderWithTheNearestLowerNodeId)
{
    test::TempDir dir;
    SyntheticHfs hfs(4096, 4096, 256);
    hfs.catalogLeaf(fiveRecords());
    auto s = scan(hfs, dir, true);
    ASSERT_TRUE(s->ok);
    EXPECT_THAT(test::treeListing(*s->view),
                ElementsAre("ORPHAN_ENTRY/", "ORPHAN_ENTRY/Twenty/", "ORPHAN_ENTRY/Twenty/twenty-one.txt",
                            "ORPHAN_ENTRY/Sixteen/", "ORPHAN_ENTRY/Sixteen/eighteen.txt",
                            "ORPHAN_ENTRY/Sixteen/seventeen.txt"));
    // The same catalog in standard mode: the records' own parents (a
    // folder's second child goes in front of its first).
    auto standard = scan(hfs, dir, false);
    ASSERT_TRUE(standard->ok);
    EXPECT_THAT(test::treeListing(*standard->view),
                ElementsAre("Sixteen/", "Sixteen/eighteen.txt", "Sixteen/seventeen.txt", "Twenty/",
                            "Twenty/twenty-one.txt"));
}

TEST(HfsDetails, ChangeIsTheAttributeDateAndTheOwnerComesWithTheBsdInfo)
{
    test::TempDir dir;
    SyntheticHfs hfs(4096, 4096, 256);
    std::vector<Record> records = fiveRecords();
    records[2].mode = 0; // eighteen.txt: BSD info never set
    hfs.catalogLeaf(records);
    auto s = scan(hfs, dir, false);
    ASSERT_TRUE(s->ok);
    EntryDetails d = s->view->describe(17);
    ASSERT_TRUE(d.change && d.creation && d.modification);
    EXPECT_EQ(d.change->seconds, 1710498660);
    EXPECT_EQ(d.modification->seconds, 1710498600);
    EXPECT_EQ(d.creation->seconds, 1710498540);
    EXPECT_FALSE(d.birth);
    EXPECT_EQ(d.mode, 0100644u);
    EXPECT_EQ(d.uid, 501u);
    EXPECT_EQ(d.gid, 20u);
    EXPECT_EQ(s->view->entryNumber(17), 17u);

    EntryDetails unset = s->view->describe(18);
    EXPECT_TRUE(unset.change);
    EXPECT_FALSE(unset.mode || unset.uid || unset.gid);

    // Deep mode keeps each record's node ID; the folder it makes up has none.
    auto deep = scan(hfs, dir, true);
    ASSERT_TRUE(deep->ok);
    const auto top = deep->view->topLevel();
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(deep->view->entryNumber(top.front()), std::nullopt);
    EXPECT_EQ(deep->view->entryNumber(test::findTreeEntry(*deep->view, "ORPHAN_ENTRY/Twenty/twenty-one.txt")), 21u);
}

TEST(HfsDeepMode, NodesTwiceTheBlockSizeAreFoundAtAnyBlock)
{
    test::TempDir dir;
    SyntheticHfs hfs(512, 1024, 4096);
    hfs.catalogLeaf(fiveRecords());
    auto s = scan(hfs, dir, true);
    ASSERT_TRUE(s->ok);
    EXPECT_EQ(test::treeListing(*s->view).size(), 6u);
}

TEST(HfsSaving, OverflowExtentsCompleteAFileAndTheirAbsenceLeavesItShort)
{
    test::TempDir dir;
    SyntheticHfs hfs(8192, 8192, 128); // blocks larger than 4096 bytes are valid HFS+
    std::vector<std::uint8_t> data(9 * 8192 + 100);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 31 + i / 8192);
    // Ten blocks: eight one-block extents in the record, two more blocks in the overflow tree.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> inRecord;
    for (std::uint32_t i = 0; i < 8; ++i)
        inRecord.push_back({40 + 2 * i, 1});
    for (std::uint32_t i = 0; i < 8; ++i)
        std::memcpy(hfs.block(40 + 2 * i), data.data() + i * 8192, 8192);
    std::memcpy(hfs.block(70), data.data() + 8 * 8192, data.size() - 8 * 8192);
    hfs.catalogLeaf({{2, 2, 30, u"fragmented.bin", data.size(), inRecord, 10}});
    auto missing = scan(hfs, dir, false);
    bool complete = true;
    auto shorter = test::savedContents(*missing->view, "fragmented.bin", &complete);
    EXPECT_FALSE(complete);
    EXPECT_EQ(shorter, std::vector<std::uint8_t>(data.begin(), data.begin() + 8 * 8192));
    // A resource fork's overflow record does not count for the data.
    hfs.overflow(100, 30, 8, {{70, 2}}, 0xFF);
    EXPECT_EQ(test::savedContents(*scan(hfs, dir, false)->view, "fragmented.bin").size(), 8u * 8192);
    hfs.overflow(100, 30, 8, {{70, 2}});
    auto whole = scan(hfs, dir, false);
    EXPECT_EQ(test::savedContents(*whole->view, "fragmented.bin", &complete), data);
    EXPECT_TRUE(complete);
    EntryDetails d = whole->view->describe(30);
    EXPECT_EQ(d.attributeText, "-Owner:W-Owner:R-OR-GR");
    ASSERT_TRUE(d.modification.has_value());
    EXPECT_EQ(d.modification->seconds, 1710498600);
}

TEST(HfsVolumeHeader, AVolumeThatIsNotHfsPlusIsAborted)
{
    test::TempDir dir;
    SyntheticHfs hfs(4096, 4096, 64);
    hfs.bytes[1024] = 'X';
    EXPECT_FALSE(scan(hfs, dir, false)->ok);
}

} // namespace
} // namespace qis
