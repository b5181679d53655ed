// The advanced mode of the FAT parsers on volumes laid out by hand, boot
// sector zeroed: what the searches recognise, how the layout is worked
// out, and where entries no folder reaches end up.

#include "filesystems/exfat/Fat64Class.h"
#include "filesystems/fat/Fat16Class.h"
#include "filesystems/fat/Fat32Class.h"
#include "filesystems/fatfamily/FatFamilyView.h"
#include "filesystems/fatfamily/FatRecoveryScans.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/SyntheticFat.h"
#include "support/TreeListing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace qis {
namespace {

using test::shortSlot;
using test::SyntheticFat;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::uint8_t> sector(std::initializer_list<std::uint8_t> start)
{
    std::vector<std::uint8_t> s(512, 0);
    std::copy(start.begin(), start.end(), s.begin());
    return s;
}

TEST(FatTableSignatures, TellFat16Fat32ExfatAndTheHeapApart)
{
    using fatscan::TableSignature;
    auto fat16 = sector({0xF8, 0xFF, 0xFF, 0xFF});
    auto fat12 = sector({0xF8, 0xFF, 0xFF, 0x00});
    auto fat32Tool = sector({0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F}); // mkfs.fat
    auto fat32Windows = sector({0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF});
    auto exfat = sector({0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    auto heap = sector({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_TRUE(fatscan::matchesTable(TableSignature::Fat16, fat16));
    EXPECT_FALSE(fatscan::matchesTable(TableSignature::Fat16, fat12)) << "a FAT12 table is not a FAT16 one";
    EXPECT_TRUE(fatscan::matchesTable(TableSignature::Fat32, fat32Tool));
    EXPECT_TRUE(fatscan::matchesTable(TableSignature::Fat32, fat32Windows));
    EXPECT_FALSE(fatscan::matchesTable(TableSignature::Fat32, fat16));
    EXPECT_TRUE(fatscan::matchesTable(TableSignature::Exfat, exfat));
    EXPECT_FALSE(fatscan::matchesTable(TableSignature::Exfat, fat32Tool));
    EXPECT_TRUE(fatscan::matchesTable(TableSignature::ExfatHeap, heap));
    EXPECT_FALSE(fatscan::matchesTable(TableSignature::ExfatHeap, exfat));
}

TEST(FatEntryTests, DeletedFat16FoldersNeedNoSizeOrClusterAndLiveOnesDo)
{
    auto live = shortSlot("PHOTOS     ", 0x10, 7, 0);
    EXPECT_TRUE(fatscan::isFat16EntryCandidate(live, 100));
    auto sized = shortSlot("PHOTOS     ", 0x10, 7, 4096);
    EXPECT_FALSE(fatscan::isFat16EntryCandidate(sized, 100));
    auto beyond = shortSlot("PHOTOS     ", 0x10, 700, 0);
    EXPECT_FALSE(fatscan::isFat16EntryCandidate(beyond, 100));
    auto gone = beyond;
    gone[0] = 0xE5;
    gone[28] = 1;
    EXPECT_TRUE(fatscan::isFat16EntryCandidate(gone, 100));
    auto badDate = shortSlot("REPORT  TXT", 0x20, 7, 10);
    badDate[24] = 0; // day 0
    badDate[25] = 0;
    EXPECT_FALSE(fatscan::isFat16EntryCandidate(badDate, 100));
}

TEST(FatDataRegionVote, ClusterSizeAndStartComeFromTheDirectoriesFound)
{
    // Clusters of 2048 bytes from 40960 on: directories at clusters 5, 9 and 12,
    // and one stray "." cluster that disagrees.
    std::vector<fatscan::DirectoryCluster> found = {
        {40960 + 3 * 2048, 5}, {40960 + 7 * 2048, 9}, {40960 + 10 * 2048, 12}, {1000 * 512, 77}};
    auto region = fatscan::voteDataRegion(found, std::nullopt);
    ASSERT_TRUE(region);
    EXPECT_EQ(region->clusterBytes, 2048u);
    EXPECT_EQ(region->offset, 40960u);
    auto chosen = fatscan::voteDataRegion(found, 2048);
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->offset, 40960u);
    EXPECT_GE(chosen->votes, 3u);
}

struct Advanced {
    FileReadSeekRaw reader;
    std::unique_ptr<FatVolume> volume;
    std::unique_ptr<VolumeParser> view;
    std::vector<std::string> listing() const { return test::treeListing(*view); }
};

template <typename Class>
std::unique_ptr<Advanced> advanced(const std::filesystem::path& image, std::uint64_t mebibytes, unsigned spc)
{
    auto a = std::make_unique<Advanced>();
    EXPECT_TRUE(a->reader.open(image));
    auto v = std::make_unique<Class>(a->reader);
    v->volumeSizeText = std::to_string(mebibytes);
    NullReporter quiet;
    PauseGate gate;
    JobContext job(quiet, gate);
    v->attachVolume();
    v->checkBootSector();
    v->findFatCandidates(3, job);
    EXPECT_TRUE(v->runAdvancedScan(job, 0, spc));
    a->view = std::make_unique<FatFamilyView<FatVolume>>(*v);
    a->volume = std::move(v);
    return a;
}

// A FAT16 volume whose boot sector is gone, with a folder whose own entry
// was overwritten and a stray entry in a cluster that is no folder's start.
SyntheticFat damagedFat16()
{
    SyntheticFat v(false, 4200);
    SyntheticFat::put(v.rootRegion(), {shortSlot("DOCS       ", 0x10, 3, 0), shortSlot("ROOT    TXT", 0x20, 5, 5)});
    SyntheticFat::put(v.cluster(3), SyntheticFat::dotEntries(3, 0));
    SyntheticFat::put(v.cluster(3) + 64, {shortSlot("INSIDE  TXT", 0x20, 6, 6)});
    SyntheticFat::put(v.cluster(10), SyntheticFat::dotEntries(10, 3));
    SyntheticFat::put(v.cluster(10) + 64, {shortSlot("LOST    TXT", 0x20, 11, 4), shortSlot("SUB        ", 0x10, 12, 0)});
    SyntheticFat::put(v.cluster(12), SyntheticFat::dotEntries(12, 10));
    SyntheticFat::put(v.cluster(12) + 64, {shortSlot("DEEP    TXT", 0x20, 13, 4)});
    SyntheticFat::put(v.cluster(20) + 96, {shortSlot("STRAY   TXT", 0x20, 21, 5)});
    for (std::uint32_t c : {3u, 5u, 6u, 10u, 11u, 12u, 13u, 20u, 21u})
        v.chain({c});
    std::memcpy(v.cluster(5), "hello", 5);
    std::memcpy(v.cluster(21), "stray", 5);
    std::fill(v.bytes.begin(), v.bytes.begin() + 512, 0);
    return v;
}

TEST(FatAdvancedScan, EntriesNoFolderReachesAreKeptUnderOrphanEntry)
{
    test::TempDir dir;
    auto a = advanced<Fat16Class>(damagedFat16().write(dir), 2, 1);
    EXPECT_THAT(a->listing(), ::testing::UnorderedElementsAre("DOCS/", "DOCS/INSIDE.TXT", "ORPHAN ENTRY/", "ORPHAN ENTRY/LOST.TXT",
                                          "ORPHAN ENTRY/STRAY.TXT", "ORPHAN ENTRY/SUB/", "ORPHAN ENTRY/SUB/DEEP.TXT",
                                          "ROOT.TXT"));
    auto root = test::savedContents(*a->view, "ROOT.TXT");
    EXPECT_EQ(std::string(root.begin(), root.end()), "hello");
    auto stray = test::savedContents(*a->view, "ORPHAN ENTRY/STRAY.TXT");
    EXPECT_EQ(std::string(stray.begin(), stray.end()), "stray");
}

TEST(FatAdvancedScan, TheClusterSizeOfTheDirectoriesFoundIsOfferedFirst)
{
    test::TempDir dir;
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(damagedFat16().write(dir)));
    Fat16Class v(reader);
    v.volumeSizeText = "2";
    NullReporter quiet;
    PauseGate gate;
    JobContext job(quiet, gate);
    v.attachVolume();
    EXPECT_FALSE(v.checkBootSector());
    auto fats = v.findFatCandidates(3, job);
    EXPECT_THAT(fats, ElementsAre(512u));
    // One sector per cluster is odd, which the boot sector's own value may
    // not be; measured on the volume it is still offered, and first.
    EXPECT_EQ(v.clusterSizeChoices().front(), 1u);
}

TEST(FatAdvancedScan, LoopsAndFoldersNamingTheirAncestorsStayBounded)
{
    SyntheticFat v(true, 3000);
    SyntheticFat::put(v.cluster(2), {shortSlot("A          ", 0x10, 3, 0)});
    SyntheticFat::put(v.cluster(3), SyntheticFat::dotEntries(3, 0));
    // A folder whose entry names its own parent, and a chain that loops.
    SyntheticFat::put(v.cluster(3) + 64, {shortSlot("BACK       ", 0x10, 3, 0), shortSlot("LOOP       ", 0x10, 4, 0)});
    SyntheticFat::put(v.cluster(4), SyntheticFat::dotEntries(4, 3));
    v.setFat(2, 0x0FFFFFFF);
    v.setFat(3, 0x0FFFFFFF);
    v.setFat(4, 5);
    v.setFat(5, 4);
    std::fill(v.bytes.begin(), v.bytes.begin() + 512, 0);
    test::TempDir dir;
    auto a = advanced<Fat32Class>(v.write(dir), 2, 1);
    auto listing = a->listing();
    EXPECT_LT(listing.size(), 10u);
    EXPECT_THAT(listing, ::testing::Contains("A/LOOP/"));
}

TEST(ExfatAdvancedScan, WithoutAHeapCandidateNothingIsBuilt)
{
    test::SyntheticExfat v(600);
    std::fill(v.bytes.begin(), v.bytes.begin() + 24 * 512, 0);
    test::TempDir dir;
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(v.write(dir)));
    Fat64Class parser(reader);
    parser.volumeSizeText = "1";
    NullReporter quiet;
    PauseGate gate;
    JobContext job(quiet, gate);
    parser.attachVolume();
    parser.findFatCandidates(3, job);
    parser.heapCandidates.clear();
    EXPECT_FALSE(parser.runAdvancedScan(job, 0, 0, 0));
    EXPECT_THAT(parser.entryList, IsEmpty());
}

} // namespace
} // namespace qis
