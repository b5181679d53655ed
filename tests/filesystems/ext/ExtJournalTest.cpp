// The jbd2 reader on journals laid out block by block: each tag size, the
// flags a tag carries, transactions that did or did not commit, copies of
// one block in several transactions, revokes, a log that wraps, and what a
// crafted journal must not make the reader do.

#include "filesystems/ext/ExtJournal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qis::extjournal {
namespace {

constexpr std::uint32_t kBlock = 1024;

void be32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
void be16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

// A journal in memory: block 0 its superblock, the log from block 1.
struct Journal {
    JournalSuperblock sb;
    std::vector<std::vector<std::uint8_t>> blocks;

    explicit Journal(std::uint32_t incompat = 0, std::uint32_t length = 32)
    {
        blocks.assign(length, std::vector<std::uint8_t>(kBlock, 0));
        auto& s = blocks[0];
        be32(s, 0, kMagic);
        be32(s, 4, kSuperblockV2);
        be32(s, 0x0C, kBlock);
        be32(s, 0x10, length);
        be32(s, 0x14, 1);
        be32(s, 0x18, 1);
        be32(s, 0x28, incompat);
        sb = *JournalSuperblock::parse(s);
    }

    void header(std::uint32_t at, std::uint32_t type, std::uint32_t seq)
    {
        blocks[at].assign(kBlock, 0);
        be32(blocks[at], 0, kMagic);
        be32(blocks[at], 4, type);
        be32(blocks[at], 8, seq);
    }

    // A descriptor at `at` naming fsBlocks, the data (each block filled
    // with a byte saying which tag it is) right after it; the first tag
    // carries a UUID, the others SAME_UUID; extra flags per tag.
    void descriptor(std::uint32_t at, std::uint32_t seq, std::vector<std::uint64_t> fsBlocks,
                    std::vector<std::uint32_t> flags = {})
    {
        header(at, kDescriptorBlock, seq);
        const bool v3 = sb.featureIncompat & kIncompatCsumV3;
        std::size_t p = 12;
        for (std::size_t k = 0; k < fsBlocks.size(); ++k) {
            std::uint32_t f = (k == 0 ? 0 : kTagSameUuid) | (k + 1 == fsBlocks.size() ? kTagLast : 0) |
                              (k < flags.size() ? flags[k] : 0);
            be32(blocks[at], p, static_cast<std::uint32_t>(fsBlocks[k]));
            if (v3)
                be32(blocks[at], p + 4, f);
            else
                be16(blocks[at], p + 6, static_cast<std::uint16_t>(f));
            if (sb.is64Bit())
                be32(blocks[at], p + 8, static_cast<std::uint32_t>(fsBlocks[k] >> 32));
            p += sb.tagBytes() + (k == 0 ? 16 : 0);
            std::uint32_t d = sb.first + (at - sb.first + 1 + static_cast<std::uint32_t>(k)) % (sb.maxLen - sb.first);
            blocks[d].assign(kBlock, static_cast<std::uint8_t>(0xA0 + k));
        }
    }
    void commit(std::uint32_t at, std::uint32_t seq) { header(at, kCommitBlock, seq); }
    void revoke(std::uint32_t at, std::uint32_t seq, std::vector<std::uint32_t> fsBlocks)
    {
        header(at, kRevokeBlock, seq);
        be32(blocks[at], 12, static_cast<std::uint32_t>(16 + 4 * fsBlocks.size()));
        for (std::size_t k = 0; k < fsBlocks.size(); ++k)
            be32(blocks[at], 16 + 4 * k, fsBlocks[k]);
    }

    JournalIndex index(const JournalLimits& limits = {}) const
    {
        return indexJournal(
            sb,
            [this](std::uint32_t n, std::span<std::uint8_t> out) {
                if (n >= blocks.size())
                    return false;
                std::memcpy(out.data(), blocks[n].data(), out.size());
                return true;
            },
            limits);
    }
};

// "block:sequence@journalBlock" for each copy, newest first, with "!"
// when escaped and "r" when revoked later.
std::string copies(const JournalIndex& index, std::uint64_t fsBlock)
{
    std::string s;
    for (const JournalCopy& c : index.copiesOf(fsBlock)) {
        s += (s.empty() ? "" : " ") + std::to_string(c.fsBlock) + ":" + std::to_string(c.sequence) + "@" +
             std::to_string(c.journalBlock);
        if (c.escaped)
            s += "!";
        if (c.revokedLater)
            s += "r";
    }
    return s;
}

TEST(ExtJournal, EachTagSizeIsReadAndTheUuidAfterAFirstTagIsSkipped)
{
    struct Case {
        const char* what;
        std::uint32_t incompat;
        std::size_t tagBytes;
        std::uint64_t high; // a block number above 32 bits, kept only with 64bit
        std::string expectHigh;
    };
    const Case cases[] = {
        {"32-bit", 0, 8, 0x100000007ull, ""},
        {"64-bit", kIncompat64Bit, 12, 0x100000007ull, "4294967303:3@4"},
        {"checksum v2, 32-bit", kIncompatCsumV2, 10, 0x100000007ull, ""},
        {"checksum v3, 32-bit", kIncompatCsumV3, 16, 0x100000007ull, ""},
        {"checksum v3, 64-bit", kIncompatCsumV3 | kIncompat64Bit, 16, 0x100000007ull, "4294967303:3@4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Journal j(c.incompat);
        EXPECT_EQ(j.sb.tagBytes(), c.tagBytes);
        j.descriptor(1, 3, {100, 200, c.high});
        j.commit(5, 3);
        JournalIndex index = j.index();
        EXPECT_EQ(copies(index, 100), "100:3@2");
        EXPECT_EQ(copies(index, 200), "200:3@3");
        EXPECT_EQ(copies(index, c.high), c.expectHigh);
        EXPECT_EQ(index.transactionCount(), 1u);
    }
}

TEST(ExtJournal, OnlyTransactionsWhoseCommitBlockFollowsCount)
{
    struct Case {
        const char* what;
        void (*build)(Journal&);
        std::string expect;
    };
    const Case cases[] = {
        {"commit right after the data", [](Journal& j) { j.descriptor(1, 7, {50}); j.commit(3, 7); }, "50:7@2"},
        {"no commit block", [](Journal& j) { j.descriptor(1, 7, {50}); }, ""},
        {"a commit of another transaction", [](Journal& j) { j.descriptor(1, 7, {50}); j.commit(3, 8); }, ""},
        {"a commit one block too far", [](Journal& j) { j.descriptor(1, 7, {50}); j.commit(4, 7); }, ""},
        {"two descriptors, then the commit",
         [](Journal& j) { j.descriptor(1, 7, {50}); j.descriptor(3, 7, {50}); j.commit(5, 7); }, "50:7@4 50:7@2"},
        {"a revoke block between data and commit",
         [](Journal& j) { j.descriptor(1, 7, {50}); j.revoke(3, 7, {60}); j.commit(4, 7); }, "50:7@2"},
        {"a journal block where the data should be",
         [](Journal& j) { j.descriptor(1, 7, {50, 51}); j.commit(3, 7); j.commit(4, 7); }, "50:7@2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Journal j;
        c.build(j);
        EXPECT_EQ(copies(j.index(), 50), c.expect);
    }
}

TEST(ExtJournal, CopiesOfOneBlockComeNewestFirstWhereverTheyLie)
{
    // The newer transactions were written over the start of the log after
    // a remount; the older, checkpointed one further on is still there.
    Journal j;
    j.descriptor(1, 20, {9});
    j.commit(3, 20);
    j.descriptor(4, 21, {9, 10});
    j.commit(7, 21);
    j.descriptor(10, 12, {9});
    j.commit(12, 12);
    JournalIndex index = j.index();
    EXPECT_EQ(copies(index, 9), "9:21@5 9:20@2 9:12@11");
    EXPECT_EQ(index.transactionCount(), 3u);

    // Sequence numbers wrap: 0 came after 0xFFFFFFFF.
    Journal w;
    w.descriptor(1, 0, {9});
    w.commit(3, 0);
    w.descriptor(4, 0xFFFFFFFFu, {9});
    w.commit(6, 0xFFFFFFFFu);
    EXPECT_EQ(copies(w.index(), 9), "9:0@2 9:4294967295@5");
}

TEST(ExtJournal, DataRunsOnAtTheStartOfTheLogAndEscapedBlocksAreMarked)
{
    Journal j(0, 8); // log blocks 1-7
    j.descriptor(6, 4, {70, 71, 72}, {0, kTagEscape, 0});
    j.commit(3, 4);
    JournalIndex index = j.index();
    EXPECT_EQ(copies(index, 70), "70:4@7");
    EXPECT_EQ(copies(index, 71), "71:4@1!");
    EXPECT_EQ(copies(index, 72), "72:4@2");

    std::vector<std::uint8_t> block(kBlock, 0);
    restoreEscapedMagic(block);
    EXPECT_EQ(BlockHeader::parse(block).has_value(), true);
}

TEST(ExtJournal, ACopyIsMarkedWhenTheSameOrALaterTransactionRevokedItsBlock)
{
    Journal j;
    j.descriptor(1, 5, {30, 31, 32});
    j.commit(5, 5);
    j.revoke(6, 6, {30});
    j.commit(7, 6);
    j.revoke(8, 4, {31}); // older than the copy: says nothing about it
    j.commit(9, 4);
    j.revoke(10, 9, {32}); // never committed
    JournalIndex index = j.index();
    EXPECT_EQ(copies(index, 30), "30:5@2r");
    EXPECT_EQ(copies(index, 31), "31:5@3");
    EXPECT_EQ(copies(index, 32), "32:5@4");
}

TEST(ExtJournal, SuperblocksThatMakeNoSenseAreRefused)
{
    Journal j;
    auto s = j.blocks[0];
    EXPECT_TRUE(JournalSuperblock::parse(s).has_value());
    auto bad = s;
    be32(bad, 0x0C, 1000); // not a power of two
    EXPECT_FALSE(JournalSuperblock::parse(bad).has_value());
    bad = s;
    be32(bad, 0x14, 32); // the log would start at its end
    EXPECT_FALSE(JournalSuperblock::parse(bad).has_value());
    bad = s;
    be32(bad, 4, kDescriptorBlock);
    EXPECT_FALSE(JournalSuperblock::parse(bad).has_value());
    // Version 1 has no feature fields: whatever lies there is not read.
    bad = s;
    be32(bad, 4, kSuperblockV1);
    be32(bad, 0x28, kIncompatCsumV3);
    EXPECT_EQ(JournalSuperblock::parse(bad)->tagBytes(), 8u);
    // Fast-commit blocks at the end are not part of the log.
    bad = s;
    be32(bad, 0x28, kIncompatFastCommit);
    be32(bad, 0x54, 8);
    EXPECT_EQ(JournalSuperblock::parse(bad)->logEnd(), 24u);
}

TEST(ExtJournal, CraftedJournalsStayWithinTheirBounds)
{
    // Every block a descriptor of one transaction with no data: the chain
    // comes back on itself and nothing commits.
    Journal loop(0, 16);
    for (std::uint32_t b = 1; b < 16; ++b) {
        loop.header(b, kDescriptorBlock, 1);
        be16(loop.blocks[b], 12 + 6, kTagLast | kTagSameUuid);
    }
    EXPECT_EQ(loop.index().copyCount(), 0u);

    // A descriptor with more tags than the log has blocks.
    // Its data would wrap onto the descriptor and the commit themselves.
    Journal big;
    big.descriptor(1, 2, {1, 2, 3, 4, 5, 6, 7});
    Journal small(0, 6);
    small.blocks[1] = big.blocks[1];
    small.commit(4, 2);
    for (std::uint32_t b : {2u, 3u, 5u})
        small.blocks[b].assign(kBlock, 0xA5);
    EXPECT_EQ(small.index().copyCount(), 0u);

    // The copies kept are bounded, and the index says it stopped short.
    Journal many;
    many.descriptor(1, 3, {1, 2, 3});
    many.commit(5, 3);
    many.descriptor(6, 4, {4, 5, 6});
    many.commit(10, 4);
    JournalLimits limits;
    limits.maxCopies = 4;
    JournalIndex index = many.index(limits);
    EXPECT_EQ(index.copyCount(), 3u);
    EXPECT_TRUE(index.truncated());

    // Tags run no further than the block, its checksum tail left out.
    Journal full(kIncompatCsumV3);
    full.header(1, kDescriptorBlock, 1);
    for (std::size_t p = 12 + 16 + 16; p + 16 <= kBlock; p += 16)
        be32(full.blocks[1], p + 4, kTagSameUuid);
    EXPECT_EQ(descriptorTags(full.blocks[1], full.sb).size(), (kBlock - 12 - 4 - 16) / 16);
}

} // namespace
} // namespace qis::extjournal
