// qsalvage carve --unallocated: only the space the volume's file system
// marks free is searched, so deleted files whose clusters are still free
// come back and live files do not; and a volume whose file system cannot
// say what is free is refused rather than carved whole.

#include "support/Fixtures.h"
#include "support/TabFields.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

namespace qis {
namespace {

struct Expected {
    std::set<std::string> deleted, live; // SHA-256 of the files of kinds the default signatures find
};

// carve-fs.manifest.txt: the deleted files of one volume, and behind "#live" its live ones.
Expected fromCarveManifest(const std::string& fs)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/carve-fs.manifest.txt");
    Expected e;
    for (std::string line; std::getline(in, line);) {
        const bool live = line.rfind("#live\t", 0) == 0;
        if (line.empty() || (line[0] == '#' && !live))
            continue;
        auto f = test::tabFields(live ? line.substr(6) : line);
        if (f.size() < 7 || f[2] == "txt" || f[6].find(" " + fs + " ") == std::string::npos)
            continue;
        (live ? e.live : e.deleted).insert(f[3]);
    }
    return e;
}

// sample-manifest.txt: the JPEGs of volume `partition` (1-based), deleted and live.
Expected fromSampleManifest(const std::string& partition)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/sample-manifest.txt");
    Expected e;
    bool inVolume = false;
    for (std::string line; std::getline(in, line);) {
        auto f = test::tabFields(line);
        if (f.empty())
            continue;
        if (f[0] == "volume")
            inVolume = f.size() > 1 && f[1] == partition;
        else if (inVolume && f.back().ends_with(".jpg") && (f[0] == "deleted" || f[0] == "file"))
            (f[0] == "deleted" ? e.deleted : e.live).insert(f[2]);
    }
    return e;
}

struct Case {
    const char* name;
    const char* image;
    std::vector<std::string> volume;
    Expected expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class CarveUnallocated : public ::testing::TestWithParam<Case> {};

TEST_P(CarveUnallocated, FindsTheDeletedFilesAndNoLiveOne)
{
    const Case& c = GetParam();
    ASSERT_FALSE(c.expected.deleted.empty());
    ASSERT_FALSE(c.expected.live.empty());
    test::TempDir dir;
    std::vector<std::string> words = {"carve", test::fixture(c.image).string()};
    words.insert(words.end(), c.volume.begin(), c.volume.end());
    words.insert(words.end(), {"--unallocated", "--output", (dir / "out").string()});
    auto r = test::runQsalvage(words);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> carved;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir / "out"))
        if (e.is_regular_file())
            carved.insert(test::fileSha256(e.path()));
    for (const std::string& sha : c.expected.deleted)
        EXPECT_TRUE(carved.count(sha)) << "deleted file " << sha << " not carved";
    for (const std::string& sha : c.expected.live)
        EXPECT_FALSE(carved.count(sha)) << "live file " << sha << " carved from free space";

    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, std::regex("Scanned ([0-9.]+) MB of free space of ([0-9.]+) MB\\.")))
        << r.out;
    EXPECT_GT(std::stod(m[1]), 0.0);
    EXPECT_LT(std::stod(m[1]), std::stod(m[2]));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, CarveUnallocated,
    ::testing::Values(Case{"Fat32", "carve-fs.vhdx", {"--volume", "0"}, fromCarveManifest("FAT32")},
                      Case{"Ntfs", "carve-fs.vhdx", {"--volume", "1"}, fromCarveManifest("NTFS")},
                      Case{"Exfat", "sample.vhdx", {"--gpt", "--volume", "2"}, fromSampleManifest("3")},
                      Case{"Ext4", "sample.vhdx", {"--gpt", "--volume", "3"}, fromSampleManifest("4")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CarveUnallocated, IsRefusedWhereNoFileSystemSaysWhatIsFree)
{
    test::TempDir dir;
    // The whole disk has no file system of its own.
    auto disk = test::runQsalvage({"carve", test::fixture("carve-fs.vhdx").string(), "--disk", "--unallocated",
                                   "--output", (dir / "disk").string()});
    EXPECT_EQ(disk.exitCode, 2) << disk.err;

    // NTFS with the MFT record of $Bitmap (record 6) zeroed: the volume still
    // lists, but nothing says which clusters are free.
    const std::uint64_t volume = 83968;
    const auto raw = test::qemuRawReference(test::fixture("carve-fs.vhdx"), "vhdx");
    std::ifstream in(raw, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(volume * 512 + 0x30)); // the boot sector's MFT cluster number
    unsigned char lcn[8] = {};
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(lcn), 8));
    std::uint64_t mftCluster = 0;
    for (int i = 7; i >= 0; --i)
        mftCluster = mftCluster << 8 | lcn[i];
    const std::uint64_t record6 = volume + (mftCluster * 4096 + 6 * 1024) / 512;
    auto damaged = test::damagedRawCopy("carve-fs.vhdx", "vhdx", {{record6, 2}}, "carve-fs-no-bitmap.raw");
    auto r = test::runQsalvage({"carve", damaged.string(), "--volume", "1", "--unallocated", "--output",
                                (dir / "ntfs").string()});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("does not say which of its space is free"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "ntfs" / "Pictures"));
}

} // namespace
} // namespace qis
