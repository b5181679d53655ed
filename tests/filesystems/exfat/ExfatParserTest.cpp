// exFAT parsing on volumes laid out by hand.

#include "filesystems/EntryWalk.h"
#include "filesystems/exfat/Fat64Class.h"
#include "filesystems/fatfamily/FatFamilyView.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/SyntheticFat.h"
#include "support/TreeListing.h"
#include "util/Utf.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace qis {
namespace {

using test::SyntheticExfat;
using test::exfatSet;
using ::testing::ElementsAre;

struct Messages : NullReporter {
    std::vector<std::string> texts;
    MessageResult showMessage(std::string_view text, MessageIcon, MessageButtons) override
    {
        texts.emplace_back(text);
        return MessageResult::Ok;
    }
};

struct Scan {
    FileReadSeekRaw reader;
    std::unique_ptr<Fat64Class> volume;
    std::unique_ptr<VolumeParser> view;
    bool recognised = false;
    Messages messages;

    explicit Scan(const std::filesystem::path& image, bool formatted = false)
    {
        EXPECT_TRUE(reader.open(image));
        volume = std::make_unique<Fat64Class>(reader);
        volume->isDriveFormatted = formatted;
        PauseGate gate;
        JobContext job(messages, gate);
        recognised = volume->runScan(job);
        view = std::make_unique<FatFamilyView<Fat64Class>>(*volume);
    }
    std::vector<std::string> listing() const { return test::treeListing(*view); }
    EntryHandle find(const std::string& path) const { return test::findTreeEntry(*view, path); }
    std::vector<std::uint8_t> contents(const std::string& path, bool* complete = nullptr)
    {
        return test::savedContents(*view, path, complete);
    }
};

std::vector<std::uint8_t> filled(std::size_t n, std::uint8_t seed)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(seed * 13 + i * 5);
    return v;
}

// Lays sets one after another over a directory's clusters (16 slots each).
void putAcross(SyntheticExfat& v, const std::vector<std::uint32_t>& clusters, const std::vector<test::Slot>& slots)
{
    for (std::size_t i = 0; i < slots.size(); ++i)
        std::memcpy(v.cluster(clusters.at(i / 16)) + (i % 16) * 32, slots[i].data(), 32);
}

TEST(ExfatBootSector, OnlyASaneExfatBootSectorIsAccepted)
{
    test::TempDir dir;
    SyntheticExfat good;
    good.chain({4});
    EXPECT_TRUE(Scan(good.write(dir)).recognised);
    for (auto [offset, value] : {std::pair{3, 'N'}, std::pair{108, '\x08'}, std::pair{109, '\x20'}}) {
        SyntheticExfat bad;
        bad.bytes[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(value);
        Scan s(bad.write(dir));
        EXPECT_FALSE(s.recognised) << offset;
        EXPECT_THAT(s.messages.texts, ElementsAre("Selected Drive is not in exFat Format"));
    }
}

TEST(ExfatDirectories, TheRootChainIsFollowedAndSetsMayCrossClusters)
{
    // Root 4 → 9 → 6, 20 names of 20 characters each (4 slots per set),
    // so sets straddle cluster ends.
    test::TempDir dir;
    SyntheticExfat v;
    v.chain({4, 9, 6});
    std::vector<test::Slot> slots;
    std::vector<std::string> expected;
    for (int i = 0; i < 12; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "twenty-char-name-%03d", i);
        std::u16string n(name, name + 20);
        auto set = exfatSet(n, 0x20, 0, 0);
        slots.insert(slots.end(), set.begin(), set.end());
        expected.push_back(name);
    }
    putAcross(v, {4, 9, 6}, slots);
    Scan s(v.write(dir));
    EXPECT_EQ(s.listing(), expected);
}

TEST(ExfatDirectories, FoldersWithoutAFatChainAreReadForTheirWholeLength)
{
    test::TempDir dir;
    SyntheticExfat v;
    v.chain({4});
    SyntheticExfat::put(v.cluster(4), exfatSet(u"Run", 0x10, 30, 2 * 512, 0x03));
    std::vector<test::Slot> inside;
    for (int i = 0; i < 8; ++i) {
        auto set = exfatSet(u"file" + std::u16string(1, static_cast<char16_t>(u'0' + i)), 0x20, 0, 0);
        inside.insert(inside.end(), set.begin(), set.end());
    }
    putAcross(v, {30, 31}, inside); // 24 slots: the second half in cluster 31, no FAT entries
    Scan s(v.write(dir));
    auto lines = s.listing();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines.back(), "Run/file7");
    // Formatted: the first cluster only.
    Scan f(v.write(dir), true);
    EXPECT_EQ(f.listing().size(), 1u + 5u);
}

TEST(ExfatDirectories, DeletedSetsAreListedAndLoopsEnd)
{
    test::TempDir dir;
    SyntheticExfat v;
    v.setFat(4, 5);
    v.setFat(5, 4); // the root's chain loops
    auto live = exfatSet(u"kept.txt", 0x20, 0, 0);
    auto gone = exfatSet(u"gone.txt", 0x20, 0, 0, 0x03, true);
    auto self = exfatSet(u"Self", 0x10, 4, 512, 0x01); // a folder that names the root's cluster
    std::vector<test::Slot> slots = live;
    slots.insert(slots.end(), gone.begin(), gone.end());
    slots.insert(slots.end(), self.begin(), self.end());
    SyntheticExfat::put(v.cluster(4), slots);
    SyntheticExfat::put(v.cluster(5), exfatSet(u"second.txt", 0x20, 0, 0));
    Scan s(v.write(dir));
    EXPECT_THAT(s.listing(), ElementsAre("kept.txt", "gone.txt (deleted)", "Self/", "second.txt"));
}

TEST(ExfatSaving, RunsChainsAndUnwrittenTails)
{
    test::TempDir dir;
    SyntheticExfat v;
    v.chain({4});
    auto run = filled(1500, 1);   // clusters 40-42, no FAT chain
    auto frag = filled(1100, 2);  // chain 50 → 70 → 51
    std::memcpy(v.cluster(40), run.data(), run.size());
    v.chain({50, 70, 51});
    std::memcpy(v.cluster(50), frag.data(), 512);
    std::memcpy(v.cluster(70), frag.data() + 512, 512);
    std::memcpy(v.cluster(51), frag.data() + 1024, 76);
    auto tail = exfatSet(u"prealloc.bin", 0x20, 40, 2000, 0x03);
    // Valid data 1500 of a 2000-byte file: the rest was never written.
    tail[1][8] = 1500 & 0xFF;
    tail[1][9] = 1500 >> 8;
    std::vector<test::Slot> slots = exfatSet(u"run.bin", 0x20, 40, 1500, 0x03);
    auto f = exfatSet(u"frag.bin", 0x21, 50, 1100, 0x01);
    slots.insert(slots.end(), f.begin(), f.end());
    slots.insert(slots.end(), tail.begin(), tail.end());
    putAcross(v, {4}, slots);
    Scan s(v.write(dir));
    bool complete = false;
    EXPECT_EQ(s.contents("run.bin", &complete), run);
    EXPECT_TRUE(complete);
    EXPECT_EQ(s.contents("frag.bin", &complete), frag);
    EXPECT_TRUE(complete);
    auto pre = s.contents("prealloc.bin");
    ASSERT_EQ(pre.size(), 2000u);
    EXPECT_TRUE(std::equal(run.begin(), run.end(), pre.begin()));
    EXPECT_TRUE(std::all_of(pre.begin() + 1500, pre.end(), [](std::uint8_t b) { return b == 0; }));
    EntryDetails d = s.view->describe(s.find("frag.bin"));
    EXPECT_EQ(d.size, 1100u);
    EXPECT_EQ(d.attributeText, "-R-A");
    EXPECT_EQ(d.modificationText, "03/15/2024  10:30 AM");
}

// The allocation bitmap's entry, naming cluster `first`, and its bits: one
// per cluster, set for those in use.
void putBitmap(SyntheticExfat& v, std::uint32_t first, std::uint32_t clusters, const std::vector<std::uint32_t>& used,
               std::size_t slot)
{
    test::Slot e{};
    e[0] = 0x81;
    const std::uint32_t length = (clusters + 7) / 8;
    for (int i = 0; i < 4; ++i) {
        e[20 + i] = static_cast<std::uint8_t>(first >> (8 * i));
        e[24 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    }
    std::memcpy(v.cluster(v.rootCluster) + slot * 32, e.data(), 32);
    for (std::uint32_t c : used)
        v.cluster(first)[(c - 2) / 8] |= static_cast<std::uint8_t>(1u << ((c - 2) % 8));
}

TEST(ExfatSaving, DeletedFilesAreJudgedAndReadByTheAllocationBitmap)
{
    test::TempDir dir;
    SyntheticExfat v;
    v.chain({4, 5});
    v.chain({2}); // the bitmap
    struct Case {
        const char* name;
        std::uint32_t first;
        std::uint32_t size;
        std::uint8_t flags;                  // 0x03 one run, 0x01 a FAT chain (freed)
        std::vector<std::uint32_t> clusters; // where its data was written; 0: overwritten since
        Recoverability expected;
    };
    const std::vector<Case> cases = {
        {"run.bin", 40, 1500, 0x03, {40, 41, 42}, Recoverability::Whole},
        {"run, middle reused.bin", 60, 1300, 0x03, {60, 0, 62}, Recoverability::PartlyOverwritten},
        // 81 went to a live file before it was written: passed over.
        {"chain.bin", 80, 1100, 0x01, {80, 82, 83}, Recoverability::Guessed},
        {"chain, first reused.bin", 100, 700, 0x01, {0, 101}, Recoverability::PartlyOverwritten},
        {"empty.bin", 0, 0, 0x03, {}, Recoverability::Whole},
    };
    std::vector<std::uint32_t> used = {2, 4, 5, 61, 81, 100, 121};
    std::vector<test::Slot> slots;
    std::vector<std::vector<std::uint8_t>> expected;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        auto data = filled(c.size, static_cast<std::uint8_t>(k + 3));
        std::vector<std::uint8_t> want(c.size, 0);
        for (std::size_t i = 0; i < c.clusters.size(); ++i) {
            std::size_t at = i * 512, n = std::min<std::size_t>(512, data.size() - at);
            if (c.clusters[i] != 0) {
                std::memcpy(v.cluster(c.clusters[i]), data.data() + at, n);
                std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), n, want.begin() + static_cast<std::ptrdiff_t>(at));
            }
        }
        expected.push_back(want);
        std::u16string name(c.name, c.name + std::strlen(c.name));
        auto set = exfatSet(name, 0x20, c.first, c.size, c.flags, true);
        slots.insert(slots.end(), set.begin(), set.end());
    }
    std::memset(v.cluster(61), 'L', 512);
    std::memset(v.cluster(81), 'L', 512);
    std::memset(v.cluster(100), 'L', 512);
    // A deleted folder of two clusters whose chain was freed: 120, then
    // (121 being in use) 122.
    auto folder = exfatSet(u"old", 0x10, 120, 1024, 0x01, true);
    slots.insert(slots.end(), folder.begin(), folder.end());
    SyntheticExfat::put(v.cluster(122), exfatSet(u"inner.txt", 0x20, 0, 0, 0x03, true));
    SyntheticExfat::put(v.cluster(4) + 32, slots); // on into cluster 5, the root's second
    putBitmap(v, 2, 600, used, 0);
    Scan s(v.write(dir));
    for (std::size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE(cases[k].name);
        bool complete = false;
        auto got = s.contents(cases[k].name, &complete);
        EXPECT_EQ(got, expected[k]);
        EXPECT_EQ(complete, cases[k].expected != Recoverability::PartlyOverwritten);
        EXPECT_EQ(s.view->recoverability(s.find(cases[k].name)), cases[k].expected);
    }
    EXPECT_NE(s.find("old/inner.txt"), kNoEntry);
    EXPECT_EQ(s.view->recoverability(s.find("old")), Recoverability::Guessed);

    // Without a bitmap nothing says what is free.
    std::memset(v.cluster(4), 0, 32);
    Scan unknown(v.write(dir));
    EXPECT_EQ(unknown.view->recoverability(unknown.find("run.bin")), Recoverability::Unknown);
    EXPECT_EQ(unknown.contents("run.bin"), expected[0]);
}

} // namespace
} // namespace qis
