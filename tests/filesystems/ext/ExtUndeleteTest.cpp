// Deleted inodes offered to the ext parser from somewhere other than the
// inode table (as an older copy of an inode would be): the name left in a
// folder pairs with the copy, and the entry is judged and saved through it.

#include "filesystems/ext/ext2Class.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/Fixtures.h"
#include "support/TabFields.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace qis {
namespace {

struct Scanned {
    FileReadSeekRaw reader;
    std::unique_ptr<ext2Class> ext;
    NullReporter quiet;
    PauseGate gate;
    JobContext job{quiet, gate};
};

// The first sector of undelete-ext.img's volume `index` (0 ext2, 2 ext4).
std::string volumeStart(int index)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/undelete-ext.manifest.txt");
    for (std::string line; std::getline(in, line);) {
        auto f = test::tabFields(line);
        if (f.size() >= 4 && f[0] == "volume" && f[1] == std::to_string(index))
            return f[3];
    }
    return {};
}

const ExtEntry* named(const ext2Class& ext, const std::string& name)
{
    for (const ExtEntry& e : ext.entryMap)
        if (e.name == name)
            return &e;
    return nullptr;
}

class ExtOfferedInode : public ::testing::TestWithParam<int> {};

TEST_P(ExtOfferedInode, NameLeftInAFolderPairsWithTheCopyAndSavesThroughIt)
{
    Scanned s;
    ASSERT_TRUE(s.reader.open(test::fixture("undelete-ext.img")));
    s.ext = std::make_unique<ext2Class>(s.reader);
    ext2Class& ext = *s.ext;
    ext.volumeStartSector = std::stoull(volumeStart(GetParam()));
    ext.volumeSizeText = "6";
    ASSERT_TRUE(ext.attachVolume());
    ASSERT_TRUE(ext.findSuperblock(s.job));
    ASSERT_TRUE(ext.readGroupDescriptors());
    ext.readInodeTables(s.job);

    // Inode 36 is the orphan (lost.txt, 3000 bytes, its map kept); 37 is
    // Cleared/old.txt, whose map and size are cleared; 22 is the live
    // Keep/small.txt. Offer 36's bytes as an older copy of 37 and of 22.
    extdisk::Inode copy;
    const std::uint64_t table = ext.descriptors.at(0).inodeTable;
    ASSERT_TRUE(ext.readInode(table, 35, copy));
    ASSERT_EQ(copy.size, 3000u);
    EXPECT_TRUE(ext.addDeletedInode(37, copy));
    EXPECT_TRUE(ext.addDeletedInode(22, copy));
    extdisk::Inode cleared;
    ASSERT_TRUE(ext.readInode(table, 36, cleared));
    EXPECT_FALSE(ext.addDeletedInode(37, cleared)) << "a copy with no map is of no use";
    extdisk::Inode symlink = copy;
    symlink.mode = 0120777;
    EXPECT_FALSE(ext.addDeletedInode(38, symlink));
    EXPECT_FALSE(ext.addDeletedInode(0, copy));
    EXPECT_FALSE(ext.addDeletedInode(1u << 30, copy));

    ext.readDirectories(s.job);
    ext.buildEntryMap(s.job);
    ext.linkEntries(s.job);

    const ExtEntry* old = named(ext, "old.txt");
    ASSERT_NE(old, nullptr);
    EXPECT_TRUE(old->deleted);
    EXPECT_EQ(old->size, 3000u);
    const auto oldAt = ext.positionOf(old->key);
    EXPECT_EQ(ext.recoverabilityOf(oldAt), Recoverability::Whole);
    MemorySink saved(1 << 20);
    EXPECT_TRUE(ext.saveEntryContents(oldAt, saved));
    const std::string head = std::string(GetParam() == 0 ? "ext2" : "ext4") + " lost KiB 000000\n";
    ASSERT_EQ(saved.bytes.size(), 3000u);
    EXPECT_EQ(std::string(saved.bytes.begin(), saved.bytes.begin() + static_cast<std::ptrdiff_t>(head.size())), head);

    // A live inode's number is not taken over by a copy offered for it.
    const ExtEntry* small = named(ext, "small.txt");
    ASSERT_NE(small, nullptr);
    EXPECT_FALSE(small->deleted);
    EXPECT_EQ(small->size, 300u);
    EXPECT_EQ(ext.recoverabilityOf(ext.positionOf(small->key)), Recoverability::Live);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExtOfferedInode, ::testing::Values(0, 2),
                         [](const auto& info) { return std::string(info.param == 0 ? "ext2" : "ext4"); });

} // namespace
} // namespace qis
