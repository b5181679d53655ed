// FAT16, FAT32 and exFAT volumes made by real tools with their boot
// sectors zeroed afterwards: the advanced mode finds the FAT, the cluster
// size and (exFAT) the cluster heap on the volume itself, and recovers
// what Sleuth Kit listed on the intact volume.

#include "support/CandidatesJson.h"
#include "support/FatListingCheck.h"
#include "support/FatManifest.h"
#include "support/Fixtures.h"
#include "support/ListingJson.h"
#include "filesystems/exfat/ExfatStructures.h"
#include "volumes/FatBpb.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qis {
namespace {

struct DamagedFat {
    const char* name;
    const char* image;
    const char* manifest;
    std::uint64_t startSector;
    std::uint64_t sizeMb;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> zeroed; // sectors from the volume start
};

class DamagedFatVolumes : public ::testing::TestWithParam<DamagedFat> {
protected:
    std::filesystem::path damaged()
    {
        const DamagedFat& f = GetParam();
        std::vector<std::pair<std::uint64_t, std::uint64_t>> zeroed;
        for (auto [first, count] : f.zeroed)
            zeroed.emplace_back(f.startSector + first, count);
        return test::damagedRawCopy(f.image, "vhdx", zeroed, std::string("damaged-") + f.name);
    }
    // The intact volume's boot sector.
    std::vector<std::uint8_t> intactBootSector()
    {
        auto raw = test::qemuRawReference(test::fixture(GetParam().image), "vhdx");
        std::ifstream in(raw, std::ios::binary);
        std::vector<std::uint8_t> sector(512);
        in.seekg(static_cast<std::streamoff>(GetParam().startSector * 512));
        in.read(reinterpret_cast<char*>(sector.data()), 512);
        return sector;
    }
    test::CommandResult run(std::vector<std::string> words)
    {
        const DamagedFat& f = GetParam();
        words.insert(words.begin() + 1, damaged().string());
        std::vector<std::string> volume = {"--start-sector", std::to_string(f.startSector), "--fs",
                                           test::fatManifest(f.manifest).fileSystem == "exFAT" ? "FAT64" : "",
                                           "--size-mb", std::to_string(f.sizeMb)};
        if (volume[3].empty())
            volume[3] = test::fatManifest(f.manifest).fileSystem; // FAT16 or FAT32
        words.insert(words.begin() + 2, volume.begin(), volume.end());
        return test::runQsalvage(words);
    }
};

TEST_P(DamagedFatVolumes, TheStandardScanRefusesTheVolume)
{
    auto r = run({"list"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("Format"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--mode advanced"), std::string::npos) << r.err;
}

TEST_P(DamagedFatVolumes, CandidatesOfferTheVolumesOwnLayoutFirst)
{
    auto r = run({"candidates", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto fats = test::offeredNumbers(r.out, "candidates", "offset");
    auto clusters = test::offeredNumbers(r.out, "clusterSizes", "clusterBytes");
    ASSERT_FALSE(fats.empty()) << r.out;
    ASSERT_FALSE(clusters.empty()) << r.out;
    EXPECT_LE(fats.size(), 3u);
    auto boot = intactBootSector();
    if (auto bpb = FatBpb::parse(boot)) {
        EXPECT_EQ(fats[0], std::uint64_t{bpb->reservedSectors} * bpb->bytesPerSector);
        EXPECT_EQ(clusters[0], bpb->clusterBytes());
        if (fats.size() > 1) {
            EXPECT_EQ(fats[1], fats[0] + bpb->fatSectors() * bpb->bytesPerSector) << "the second copy";
        }
    } else {
        auto exfat = exfatdisk::ExfatBootSector::parse(boot);
        ASSERT_TRUE(exfat.has_value());
        EXPECT_EQ(fats[0], std::uint64_t{exfat->fatOffset} * exfat->bytesPerSector());
        EXPECT_EQ(clusters[0], exfat->clusterBytes());
        auto heaps = test::offeredNumbers(r.out, "heaps", "offset");
        ASSERT_FALSE(heaps.empty()) << r.out;
        EXPECT_LE(heaps.size(), 4u) << "at most the maximum and one more";
        EXPECT_EQ(heaps[0], std::uint64_t{exfat->heapOffset} * exfat->bytesPerSector());
    }
}

TEST_P(DamagedFatVolumes, AdvancedModeWithTheFirstChoicesListsTheIntactTree)
{
    auto manifest = test::fatManifest(GetParam().manifest);
    auto r = run({"list", "--mode", "advanced", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Nothing was left unreached on these volumes: the orphans' folder is empty.
    test::expectListingMatchesManifest(manifest, test::parseJsonListing(r.out), {"ORPHAN ENTRY"});
}

TEST_P(DamagedFatVolumes, AdvancedModeSavesEveryLiveFileByteForByte)
{
    auto manifest = test::fatManifest(GetParam().manifest);
    test::TempDir dir;
    auto out = dir / "out";
    auto r = run({"save", "--mode", "advanced", "--output", out.string()});
    // 3: saved, and some deleted files are guessed or hold zeros.
    ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 3) << r.err;
    test::expectLiveFilesSaved(manifest, out);
}

TEST_P(DamagedFatVolumes, AWrongClusterSizeDoesNotPassForTheRightOne)
{
    auto manifest = test::fatManifest(GetParam().manifest);
    const bool exfat = manifest.fileSystem == "exFAT";
    // Four times the real size: every cluster lands somewhere else.
    unsigned wrong = exfat ? 5 : 16;
    if (manifest.clusterBytes == 512u * (exfat ? 32 : 16))
        wrong = exfat ? 3 : 4;
    auto r = run({"list", "--mode", "advanced", "--sectors-per-cluster", std::to_string(wrong), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto listedEntries = test::parseJsonListing(r.out);
    std::size_t found = 0;
    for (const auto& m : manifest.entries)
        found += listedEntries.count(test::shownPath(manifest, m.path));
    EXPECT_LT(found, manifest.entries.size());
}

TEST(DamagedFat32, ALostBootSectorIsReadFromItsCopyAtSectorSix)
{
    auto image = test::damagedRawCopy("fat32.vhdx", "vhdx", {{83968, 1}}, "fat32-noboot-only");
    auto r = test::runQsalvage({"list", image.string(), "--start-sector", "83968", "--fs", "FAT32", "--size-mb", "259",
                                "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    test::expectListingMatchesManifest(test::fatManifest("fat32-1.manifest.txt"), test::parseJsonListing(r.out));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, DamagedFatVolumes,
    ::testing::Values(DamagedFat{"fat16", "fat16.vhdx", "fat16.manifest.txt", 2048, 40, {{0, 1}}},
                      // FAT32 keeps a copy of its boot sector at sector 6: both are gone.
                      DamagedFat{"fat32_512", "fat32.vhdx", "fat32-0.manifest.txt", 2048, 40, {{0, 1}, {6, 1}}},
                      DamagedFat{"fat32_4k", "fat32.vhdx", "fat32-1.manifest.txt", 83968, 259, {{0, 1}, {6, 1}}},
                      // Both exFAT boot regions, main and backup.
                      DamagedFat{"exfat", "exfat.vhdx", "exfat.manifest.txt", 2048, 40, {{0, 24}}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qis
