// FAT16 and FAT32 parsing on volumes laid out by hand: the cases real
// formatting tools do not make (loops, damaged links, odd names).

#include "filesystems/EntryWalk.h"
#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
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

using test::SyntheticFat;
using test::shortSlot;
using test::longNameSlots;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Scan {
    FileReadSeekRaw reader;
    std::unique_ptr<FatVolume> volume;
    std::unique_ptr<VolumeParser> view;
    bool recognised = false;
    std::vector<std::string> messages;

    // Every entry as "path" ("path/" for folders, " (deleted)" marked).
    std::vector<std::string> listing() const { return test::treeListing(*view); }
    EntryHandle find(const std::string& path) const { return test::findTreeEntry(*view, path); }
    std::vector<std::uint8_t> contents(const std::string& path, bool* complete = nullptr)
    {
        return test::savedContents(*view, path, complete);
    }
};

struct MessageLog : NullReporter {
    std::vector<std::string>* out;
    explicit MessageLog(std::vector<std::string>* o) : out(o) {}
    MessageResult showMessage(std::string_view text, MessageIcon, MessageButtons) override
    {
        out->emplace_back(text);
        return MessageResult::Ok;
    }
};

template <typename Class>
std::unique_ptr<Scan> scan(const std::filesystem::path& image, bool formatted = false)
{
    auto s = std::make_unique<Scan>();
    EXPECT_TRUE(s->reader.open(image));
    auto volume = std::make_unique<Class>(s->reader);
    volume->isDriveFormatted = formatted;
    MessageLog log(&s->messages);
    PauseGate gate;
    JobContext job(log, gate);
    s->recognised = volume->runScan(job);
    s->view = std::make_unique<FatFamilyView<FatVolume>>(*volume);
    s->volume = std::move(volume);
    return s;
}

std::vector<std::uint8_t> filled(std::size_t n, std::uint8_t seed)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(seed + i * 7);
    return v;
}

TEST(FatBootSector, SaneParametersAreAcceptedWhateverTheOemName)
{
    test::TempDir dir;
    for (const char* oem : {"mkfs.fat", "MSWIN4.1", "MSDOS5.0", "BSD  4.4", "        "}) {
        SyntheticFat fat16(false), fat32(true);
        std::memcpy(fat16.bytes.data() + 3, oem, 8);
        std::memcpy(fat32.bytes.data() + 3, oem, 8);
        EXPECT_TRUE(scan<Fat16Class>(fat16.write(dir, "16.img"))->recognised) << oem;
        EXPECT_TRUE(scan<Fat32Class>(fat32.write(dir, "32.img"))->recognised) << oem;
    }
}

TEST(FatBootSector, OtherVolumesAreRefusedWithTheFormatMessage)
{
    test::TempDir dir;
    SyntheticFat fat16(false), fat32(true);
    // Each kind refuses the other's boot sector.
    auto a = scan<Fat32Class>(fat16.write(dir, "16.img"));
    EXPECT_FALSE(a->recognised);
    EXPECT_THAT(a->messages, ElementsAre("Selected Drive is not in Fat32 Format"));
    auto b = scan<Fat16Class>(fat32.write(dir, "32.img"));
    EXPECT_FALSE(b->recognised);
    EXPECT_THAT(b->messages, ElementsAre("Selected Drive is not in Fat16 Format"));
    // A sector of zeros, or a BPB with a cluster size that is no power of two, is no FAT.
    SyntheticFat broken(true);
    broken.bytes[13] = 3;
    EXPECT_FALSE(scan<Fat32Class>(broken.write(dir, "broken.img"))->recognised);
    std::fill(broken.bytes.begin(), broken.bytes.begin() + 512, 0);
    EXPECT_FALSE(scan<Fat32Class>(broken.write(dir, "zero.img"))->recognised);
}

TEST(Fat32Root, IsReadFromTheRootClusterAndFollowsItsWholeChain)
{
    // The root starts at cluster 9, not 2, and is fragmented: 9 → 5 → 30.
    // FAT entry 1 holds 0x0FFFFFFF as mkfs.fat writes it.
    test::TempDir dir;
    SyntheticFat v(true);
    v.rootCluster = 9;
    std::uint8_t* b = v.bytes.data();
    b[44] = 9;
    v.chain({9, 5, 30});
    for (std::uint32_t c : {9u, 5u, 30u}) {
        std::vector<test::Slot> slots;
        for (int i = 0; i < 16; ++i) {
            char name[12];
            std::snprintf(name, sizeof name, "F%02u_%02d  TXT", c, i);
            slots.push_back(shortSlot(name, 0x20, 0, 0));
        }
        SyntheticFat::put(v.cluster(c), slots);
    }
    auto s = scan<Fat32Class>(v.write(dir));
    auto lines = s->listing();
    ASSERT_EQ(lines.size(), 48u);
    EXPECT_EQ(lines.front(), "F09_00.TXT");
    EXPECT_EQ(lines[16], "F05_00.TXT");
    EXPECT_EQ(lines.back(), "F30_15.TXT");
}

TEST(FatChains, AFolderFarLongerThanTwentyClustersIsReadWhole)
{
    // 40 clusters of 16 entries each, the chain with the reserved top bits
    // set in every link (they must be masked, not taken as "end").
    test::TempDir dir;
    SyntheticFat v(true);
    SyntheticFat::put(v.cluster(2), {shortSlot("DCIM       ", 0x10, 100, 0)});
    v.chain({2});
    std::vector<std::uint32_t> clusters;
    for (std::uint32_t i = 0; i < 40; ++i)
        clusters.push_back(100 + 2 * i);
    v.chain(clusters);
    for (std::size_t i = 0; i + 1 < clusters.size(); ++i)
        v.setFat(clusters[i], clusters[i + 1] | 0xF0000000);
    int n = 0;
    for (std::size_t k = 0; k < clusters.size(); ++k) {
        std::vector<test::Slot> slots;
        if (k == 0)
            slots = SyntheticFat::dotEntries(100, 0);
        while (slots.size() < 16) {
            char name[24];
            std::snprintf(name, sizeof name, "IMG%05dJPG", n++);
            slots.push_back(shortSlot(name, 0x20, 0, 0));
        }
        SyntheticFat::put(v.cluster(clusters[k]), slots);
    }
    auto s = scan<Fat32Class>(v.write(dir));
    auto lines = s->listing();
    ASSERT_EQ(lines.size(), 1u + static_cast<std::size_t>(n));
    EXPECT_EQ(lines.back(), "DCIM/IMG" + std::to_string(n - 1 + 100000).substr(1) + ".JPG");
}

TEST(FatChains, LoopsAndFoldersThatNameTheirAncestorsEnd)
{
    test::TempDir dir;
    SyntheticFat v(true);
    // The root's chain loops 2 → 3 → 2; folder A names the root's cluster
    // and folder B names itself as a subfolder.
    v.setFat(2, 3);
    v.setFat(3, 2);
    std::vector<test::Slot> root = {shortSlot("A          ", 0x10, 2, 0), shortSlot("B          ", 0x10, 40, 0)};
    while (root.size() < 16)
        root.push_back(test::deleted({shortSlot("FILLER  TXT", 0x20, 0, 0)})[0]);
    SyntheticFat::put(v.cluster(2), root);
    SyntheticFat::put(v.cluster(3), {shortSlot("C       TXT", 0x20, 0, 0)});
    auto b = SyntheticFat::dotEntries(40, 0);
    b.push_back(shortSlot("SELF       ", 0x10, 40, 0));
    b.push_back(shortSlot("INNER   TXT", 0x20, 0, 0));
    SyntheticFat::put(v.cluster(40), b);
    v.setFat(40, 40);
    auto s = scan<Fat32Class>(v.write(dir));
    auto lines = s->listing();
    lines.erase(std::remove(lines.begin(), lines.end(), "\u00E5ILLER.TXT (deleted)"), lines.end());
    EXPECT_THAT(lines, ElementsAre("A/", "B/", "B/SELF/", "B/INNER.TXT", "C.TXT"));
}

TEST(FatNames, LongNamesOfUpTo255CharactersStayWhole)
{
    test::TempDir dir;
    SyntheticFat v(true);
    v.chain({2});
    std::u16string n130(130, u'x'), n200, n255;
    for (int i = 0; i < 200; ++i)
        n200.push_back(static_cast<char16_t>(u'a' + i % 26));
    for (int i = 0; i < 255; ++i)
        n255.push_back(i % 2 ? u'\u00E9' : u'\u65E5');
    std::vector<test::Slot> slots;
    for (const auto* n : {&n130, &n200, &n255}) {
        auto set = longNameSlots(*n, shortSlot(n == &n130 ? "XXXXXX~1   " : n == &n200 ? "ABCDEF~1   " : "LONG~1     ",
                                                0x20, 0, 0));
        slots.insert(slots.end(), set.begin(), set.end());
    }
    ASSERT_GT(slots.size(), 16u); // spans clusters 2 and 3
    v.chain({2, 3, 4, 5});
    std::vector<std::uint8_t> root(4 * 512);
    ASSERT_LE(slots.size() * 32, root.size());
    SyntheticFat::put(root.data(), slots);
    for (std::uint32_t k = 0; k < 4; ++k)
        std::memcpy(v.cluster(2 + k), root.data() + 512 * k, 512);
    auto s = scan<Fat32Class>(v.write(dir));
    EXPECT_THAT(s->listing(), ElementsAre(utf16ToUtf8(n130), utf16ToUtf8(n200), utf16ToUtf8(n255)));
}

TEST(FatNames, ShortNamesShowAsWindowsShowsThem)
{
    test::TempDir dir;
    for (bool fat32 : {false, true}) {
        SyntheticFat v(fat32);
        v.chain({2});
        std::vector<test::Slot> slots = {
            shortSlot("README     ", 0x20, 0, 0), shortSlot("DOCS       ", 0x10, 10, 0),
            shortSlot("README  TXT", 0x20, 0, 0, 0x08), shortSlot("NOTES   TXT", 0x20, 0, 0, 0x10),
            shortSlot("A B     C  ", 0x20, 0, 0),
            // A long name whose checksum belongs to another short name is not this entry's.
            shortSlot("\x05SCAPE  DAT", 0x20, 0, 0)};
        auto stray = longNameSlots(u"Not mine.txt", shortSlot("OTHER   TXT", 0x20, 0, 0));
        stray.pop_back();
        stray.push_back(shortSlot("PLAIN   TXT", 0x20, 0, 0));
        slots.insert(slots.end(), stray.begin(), stray.end());
        auto docs = SyntheticFat::dotEntries(10, 0);
        v.chain({10});
        SyntheticFat::put(v.cluster(10), docs);
        SyntheticFat::put(fat32 ? v.cluster(2) : v.rootRegion(), slots);
        auto s = fat32 ? scan<Fat32Class>(v.write(dir)) : scan<Fat16Class>(v.write(dir));
        EXPECT_THAT(s->listing(), ElementsAre("README", "DOCS/", "readme.TXT", "NOTES.txt", "A B.C", "\u00E5SCAPE.DAT",
                                              "PLAIN.TXT"))
            << (fat32 ? "FAT32" : "FAT16");
    }
}

TEST(FatDirectories, FreeSlotEndsAFat32FolderButNotTheFat16Root)
{
    test::TempDir dir;
    std::vector<test::Slot> slots = {shortSlot("FIRST   TXT", 0x20, 0, 0), test::Slot{}, shortSlot("AFTER   TXT", 0x20, 0, 0)};
    SyntheticFat v16(false), v32(true);
    SyntheticFat::put(v16.rootRegion(), slots);
    v32.chain({2});
    SyntheticFat::put(v32.cluster(2), slots);
    EXPECT_THAT(scan<Fat16Class>(v16.write(dir, "16.img"))->listing(), ElementsAre("FIRST.TXT", "AFTER.TXT"));
    EXPECT_THAT(scan<Fat32Class>(v32.write(dir, "32.img"))->listing(), ElementsAre("FIRST.TXT"));
}

TEST(FatDirectories, ClusterNotStartingWithDotHoldsNoFolder)
{
    test::TempDir dir;
    SyntheticFat v(false);
    SyntheticFat::put(v.rootRegion(), {shortSlot("GONE       ", 0x10, 20, 0), shortSlot("HIDDEN     ", 0x32, 30, 0)});
    // Cluster 20 now holds a file's data; 30 is a real (hidden, archived) folder.
    std::memset(v.cluster(20), 'Q', 512);
    v.setFat(20, 21);
    auto hidden = SyntheticFat::dotEntries(30, 0);
    hidden.push_back(shortSlot("INSIDE  TXT", 0x20, 0, 0));
    SyntheticFat::put(v.cluster(30), hidden);
    v.chain({30});
    auto s = scan<Fat16Class>(v.write(dir));
    EXPECT_THAT(s->listing(), ElementsAre("GONE/", "HIDDEN/", "HIDDEN/INSIDE.TXT"));
}

TEST(FatDirectories, TwoEntriesForOneFolderClusterAreOneFolderNamedByTheLater)
{
    test::TempDir dir;
    SyntheticFat v(false);
    auto old = test::deleted({shortSlot("OLDNAME    ", 0x10, 20, 0)});
    SyntheticFat::put(v.rootRegion(), {old[0], shortSlot("NEWNAME    ", 0x10, 20, 0)});
    auto f = SyntheticFat::dotEntries(20, 0);
    f.push_back(shortSlot("KEPT    TXT", 0x20, 0, 0));
    SyntheticFat::put(v.cluster(20), f);
    v.chain({20});
    auto s = scan<Fat16Class>(v.write(dir));
    EXPECT_THAT(s->listing(), ElementsAre("NEWNAME/", "NEWNAME/KEPT.TXT"));
}

TEST(FatDirectories, ALiveFolderKeepsTheClusterADeletedFolderOnceHad)
{
    // The deleted folder comes first in the root, but its cluster now
    // belongs to a live folder elsewhere; the live folder keeps its files.
    test::TempDir dir;
    SyntheticFat v(false);
    auto gone = test::deleted({shortSlot("XOLD       ", 0x10, 20, 0)});
    SyntheticFat::put(v.rootRegion(), {gone[0], shortSlot("PARENT     ", 0x10, 30, 0)});
    auto parent = SyntheticFat::dotEntries(30, 0);
    parent.push_back(shortSlot("LIVE       ", 0x10, 20, 0));
    SyntheticFat::put(v.cluster(30), parent);
    auto live = SyntheticFat::dotEntries(20, 30);
    live.push_back(shortSlot("MINE    TXT", 0x20, 0, 0));
    SyntheticFat::put(v.cluster(20), live);
    v.chain({20});
    v.chain({30});
    auto s = scan<Fat16Class>(v.write(dir));
    EXPECT_THAT(s->listing(), ElementsAre("\u00E5OLD/ (deleted)", "PARENT/", "PARENT/LIVE/", "PARENT/LIVE/MINE.TXT"));
}

TEST(FatSaving, LiveFilesFollowTheirChainAndCutTheLastCluster)
{
    test::TempDir dir;
    for (bool fat32 : {false, true}) {
        SyntheticFat v(fat32);
        auto data = filled(1300, 3);
        // Fragmented: 50 → 51 → 80; a second file of exactly one cluster; an empty one.
        v.chain({50, 51, 80});
        std::memcpy(v.cluster(50), data.data(), 1024);
        std::memcpy(v.cluster(80), data.data() + 1024, 276);
        auto one = filled(512, 9);
        v.chain({90});
        std::memcpy(v.cluster(90), one.data(), 512);
        std::vector<test::Slot> slots = {shortSlot("FRAG    BIN", 0x20, 50, 1300), shortSlot("ONE     BIN", 0x21, 90, 512),
                                         shortSlot("EMPTY   TXT", 0x20, 0, 0)};
        v.chain({2});
        SyntheticFat::put(fat32 ? v.cluster(2) : v.rootRegion(), slots);
        auto s = fat32 ? scan<Fat32Class>(v.write(dir)) : scan<Fat16Class>(v.write(dir));
        bool complete = false;
        EXPECT_EQ(s->contents("FRAG.BIN", &complete), data);
        EXPECT_TRUE(complete);
        // Saving again gives the same bytes: what parsing visited does not count.
        EXPECT_EQ(s->contents("FRAG.BIN"), data);
        EXPECT_EQ(s->contents("ONE.BIN"), one);
        EXPECT_THAT(s->contents("EMPTY.TXT", &complete), IsEmpty());
        EXPECT_TRUE(complete);
        EXPECT_EQ(s->view->describe(s->find("ONE.BIN")).attributeText, "-R-A");
    }
}

TEST(FatSaving, ABrokenChainKeepsALiveFileItsSizeAndSaysSo)
{
    test::TempDir dir;
    SyntheticFat v(true);
    auto data = filled(1536, 5);
    std::memcpy(v.cluster(50), data.data(), 512);
    v.setFat(50, 0); // the chain was lost after the first cluster
    v.chain({2});
    SyntheticFat::put(v.cluster(2), {shortSlot("LOST    BIN", 0x20, 50, 1536)});
    auto s = scan<Fat32Class>(v.write(dir));
    bool complete = true;
    auto got = s->contents("LOST.BIN", &complete);
    EXPECT_FALSE(complete);
    ASSERT_EQ(got.size(), 1536u);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 512, data.begin()));
    EXPECT_TRUE(std::all_of(got.begin() + 512, got.end(), [](std::uint8_t b) { return b == 0; }));
}

// Deleted files on one FAT16 volume whose FAT holds only the live files'
// chains, each read from its first cluster and the free ones after it.
TEST(FatSaving, DeletedFilesAreReadFromTheFreeClustersThatFollowTheirFirst)
{
    test::TempDir dir;
    SyntheticFat v(false);
    const std::uint32_t last = 4201; // the volume's last cluster
    struct Case {
        const char* name;
        std::uint32_t first;
        std::uint32_t size;
        std::vector<std::uint32_t> clusters; // where its data was written; 0: a cluster overwritten since
        Recoverability expected;
    };
    const std::vector<Case> cases = {
        {"letter.txt", 60, 1200, {60, 61, 62}, Recoverability::Guessed},
        // 81 and 82 belong to a live file written before it: passed over.
        {"around.bin", 80, 1400, {80, 83, 84}, Recoverability::Guessed},
        // Its first cluster went to a live file: zeros there, the rest guessed.
        {"reused.bin", 100, 1024, {0, 101}, Recoverability::PartlyOverwritten},
        // Too few clusters left on the volume for its size.
        {"tail.bin", last, 1024, {last}, Recoverability::PartlyOverwritten},
        {"empty.txt", 0, 0, {}, Recoverability::Whole},
        {"nowhere.bin", 0, 700, {}, Recoverability::None},
    };
    std::vector<test::Slot> root = {shortSlot("LIVE    BIN", 0x20, 81, 1024), shortSlot("OWN     BIN", 0x20, 100, 512)};
    v.chain({81, 82});
    v.chain({100});
    std::memset(v.cluster(81), 'L', 1024);
    std::memset(v.cluster(100), 'O', 512);
    std::vector<std::vector<std::uint8_t>> expected;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const Case& c = cases[k];
        auto data = filled(c.size, static_cast<std::uint8_t>(k + 1));
        std::vector<std::uint8_t> want;
        for (std::size_t i = 0; i < c.clusters.size(); ++i) {
            std::size_t at = i * 512, n = std::min<std::size_t>(512, data.size() - at);
            if (c.clusters[i] != 0)
                std::memcpy(v.cluster(c.clusters[i]), data.data() + at, n);
            want.insert(want.end(), n, 0);
            if (c.clusters[i] != 0)
                std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), n, want.end() - static_cast<std::ptrdiff_t>(n));
        }
        if (c.first == 0)
            want.assign(c.size, 0); // no cluster to start from: the size is kept
        expected.push_back(want);
        std::u16string name(c.name, c.name + std::strlen(c.name));
        auto slots = test::deleted(longNameSlots(name, shortSlot("DELETED BIN", 0x20, c.first, c.size)));
        root.insert(root.end(), slots.begin(), slots.end());
    }
    SyntheticFat::put(v.rootRegion(), root);
    auto s = scan<Fat16Class>(v.write(dir));
    for (std::size_t k = 0; k < cases.size(); ++k) {
        SCOPED_TRACE(cases[k].name);
        bool complete = false;
        EXPECT_EQ(s->contents(cases[k].name, &complete), expected[k]);
        EXPECT_EQ(complete, cases[k].expected == Recoverability::Guessed || cases[k].expected == Recoverability::Whole);
        EXPECT_EQ(s->view->recoverability(s->find(cases[k].name)), cases[k].expected);
    }
    EXPECT_EQ(s->view->recoverability(s->find("LIVE.BIN")), Recoverability::Live);

    // Formatted, every file is its clusters in a row, in use or not.
    auto formatted = scan<Fat16Class>(v.write(dir), true);
    auto around = formatted->contents("around.bin");
    ASSERT_EQ(around.size(), 1400u);
    EXPECT_TRUE(std::all_of(around.begin() + 512, around.begin() + 1400, [](std::uint8_t b) { return b == 'L'; }));
    EXPECT_EQ(formatted->view->recoverability(formatted->find("letter.txt")), Recoverability::Guessed);
}

// A deleted folder whose directory outgrew its first cluster goes on in the
// next free cluster, when that reads as directory entries.
TEST(FatDirectories, ADeletedFolderGoesOnInTheNextFreeClusterThatHoldsEntries)
{
    test::TempDir dir;
    SyntheticFat v(false);
    v.chain({31}); // a live file's cluster between the folder's two
    SyntheticFat::put(v.rootRegion(), {shortSlot("KEEP    BIN", 0x20, 31, 512),
                                     test::deleted({shortSlot("XOLD       ", 0x10, 30, 0)})[0],
                                     test::deleted({shortSlot("XHALF      ", 0x10, 40, 0)})[0]});
    // 2 dot entries and 14 files fill cluster 30; the 15th is in cluster 32.
    auto full = SyntheticFat::dotEntries(30, 0);
    for (int i = 0; i < 14; ++i) {
        char n[12];
        std::snprintf(n, sizeof n, "XFILE%02dTXT", i);
        full.push_back(test::deleted({shortSlot(n, 0x20, 0, 0)})[0]);
    }
    SyntheticFat::put(v.cluster(30), full);
    SyntheticFat::put(v.cluster(32), test::deleted({shortSlot("XLAST   TXT", 0x20, 0, 0)}));
    // A folder that ends in a free slot is whole in its first cluster: the
    // entries in the free cluster after it are not its own.
    auto half = SyntheticFat::dotEntries(40, 0);
    half.push_back(test::deleted({shortSlot("XONE    TXT", 0x20, 0, 0)})[0]);
    SyntheticFat::put(v.cluster(40), half);
    SyntheticFat::put(v.cluster(41), test::deleted({shortSlot("XSTRAY  TXT", 0x20, 0, 0)}));
    auto s = scan<Fat16Class>(v.write(dir));
    auto listed = s->listing();
    auto count = [](const std::vector<std::string>& l, const char* folder, const char* name) {
        return std::count_if(l.begin(), l.end(), [&](const std::string& p) {
            return p.find(folder) != std::string::npos && p.find(name) != std::string::npos;
        });
    };
    EXPECT_EQ(count(listed, "OLD/", "FILE"), 14);
    EXPECT_EQ(count(listed, "OLD/", "LAST.TXT (deleted)"), 1);
    EXPECT_EQ(count(listed, "HALF/", "ONE.TXT (deleted)"), 1);
    EXPECT_EQ(count(listed, "", "STRAY.TXT"), 0);

    // Text in the free cluster after a full folder is no continuation.
    std::memcpy(v.cluster(32), "Some text, not a directory: the quick brown fox jumps", 53);
    auto text = scan<Fat16Class>(v.write(dir));
    auto again = text->listing();
    EXPECT_EQ(count(again, "", "LAST.TXT"), 0);
    EXPECT_EQ(again.size(), listed.size() - 1);
}

TEST(FatSaving, FormattedVolumesReadFoldersFromTheirFirstClusterOnly)
{
    test::TempDir dir;
    SyntheticFat v(false);
    SyntheticFat::put(v.rootRegion(), {shortSlot("BIG        ", 0x10, 20, 0)});
    v.chain({20, 21});
    auto first = SyntheticFat::dotEntries(20, 0);
    first.push_back(shortSlot("ONE     TXT", 0x20, 0, 0));
    SyntheticFat::put(v.cluster(20), first);
    SyntheticFat::put(v.cluster(21), {shortSlot("TWO     TXT", 0x20, 0, 0)});
    EXPECT_THAT(scan<Fat16Class>(v.write(dir))->listing(), ElementsAre("BIG/", "BIG/ONE.TXT", "BIG/TWO.TXT"));
    EXPECT_THAT(scan<Fat16Class>(v.write(dir), true)->listing(), ElementsAre("BIG/", "BIG/ONE.TXT"));
}

TEST(FatDescribe, DosTimesShowOnATwelveHourClockAndZeroDatesAsNone)
{
    test::TempDir dir;
    SyntheticFat v(false);
    auto noon = shortSlot("NOON    TXT", 0x20, 0, 0);
    noon[22] = 0;
    noon[23] = 12 << 3; // 12:00
    auto never = shortSlot("NEVER   TXT", 0x20, 0, 0);
    never[18] = never[19] = 0; // no access date
    SyntheticFat::put(v.rootRegion(), {noon, never});
    auto s = scan<Fat16Class>(v.write(dir));
    EntryDetails d = s->view->describe(s->find("NOON.TXT"));
    EXPECT_EQ(d.modificationText, "03/15/2024  12:00 PM");
    EXPECT_EQ(d.accessText, "03/15/2024 ");
    EXPECT_EQ(d.creationText, "03/15/2024  10:30 AM");
    ASSERT_TRUE(d.modification.has_value());
    EXPECT_EQ(d.modification->seconds, 1710504000); // 2024-03-15 12:00 UTC (TZ=UTC)
    EntryDetails n = s->view->describe(s->find("NEVER.TXT"));
    EXPECT_EQ(n.accessText, "");
    EXPECT_FALSE(n.access.has_value());
}

} // namespace
} // namespace qis
