// qsalvage carve on files written around another: two pieces with foreign
// bytes between them come back byte for byte (JPEG by its Huffman codes,
// ZIP by its central directory and CRCs, PDF by its cross-reference table).

#include "support/Fixtures.h"
#include "support/TabFields.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>

namespace qis {
namespace {

std::multiset<std::string> carvedHashes(const std::vector<std::string>& words, const test::TempDir& dir)
{
    auto out = dir / "out";
    std::vector<std::string> all = words;
    all.insert(all.end(), {"--output", out.string()});
    auto r = test::runQsalvage(all);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::multiset<std::string> hashes;
    if (std::filesystem::exists(out))
        for (const auto& e : std::filesystem::recursive_directory_iterator(out))
            if (e.is_regular_file())
                hashes.insert(test::fileSha256(e.path()));
    return hashes;
}

// The hash the manifest gives the undelete fixture's file on that volume.
std::string undeleteHash(const std::string& fs, const std::string& path)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/undelete-fat.manifest.txt");
    for (std::string line; std::getline(in, line);) {
        auto f = test::tabFields(line);
        if (f.size() == 8 && f[0] == fs && f[7] == path)
            return f[4];
    }
    return {};
}

struct Volume {
    const char* fs;
    const char* index;
};

class CarveSplitFiles : public ::testing::TestWithParam<Volume> {};

TEST_P(CarveSplitFiles, APhotoAndAnArchiveWrittenAroundAnotherFileComeBackWhole)
{
    test::TempDir dir;
    auto hashes = carvedHashes({"carve", test::fixture("undelete-fat.img").string(), "--volume", GetParam().index}, dir);
    for (const char* path : {"Frag3/Split Photo.jpg", "Frag3/Split Bundle.zip"}) {
        const std::string hash = undeleteHash(GetParam().fs, path);
        ASSERT_FALSE(hash.empty()) << path;
        EXPECT_EQ(hashes.count(hash), 1u) << path << " on " << GetParam().fs;
    }
}

INSTANTIATE_TEST_SUITE_P(Volumes, CarveSplitFiles,
                         ::testing::Values(Volume{"fat16", "0"}, Volume{"fat32", "1"}, Volume{"exfat", "2"}),
                         [](const auto& info) { return std::string(info.param.fs); });

// Files of carve.img (made by their own programs) laid out on a bare disk
// made here, each cut at a block boundary with other bytes in between.
struct Split {
    const char* what;
    std::uint64_t offset, length; // in carve.img
    std::uint64_t split, gap;
    bool randomGap; // else the gap holds the start of another file (a PNG)
};

TEST(CarveSplitFiles, FilesCutAtABlockBoundaryWithForeignBytesBetweenComeBackWhole)
{
    const Split kCases[] = {
        {"baseline JPEG, random gap", 44032, 15542, 8192, 4096, true},
        {"JPEG cut in its EXIF block, PNG gap", 0, 38801, 1024, 3584, false},
        {"progressive JPEG, PNG gap", 89600, 20850, 12288, 8192, false},
        {"deflated ZIP (docx), random gap", 161792, 36900, 16384, 12288, true},
        {"small ZIP (odt) cut at its first sector, PNG gap", 212480, 1548, 512, 1024, false},
        {"PDF, random gap", 143872, 3097, 1024, 2048, true},
    };
    const auto image = test::readWholeFile(test::fixture("carve.img"));
    const std::vector<std::uint8_t> png(image.begin() + 40448, image.begin() + 40448 + 3201);
    std::mt19937 random(18);
    std::vector<std::uint8_t> disk;
    auto align = [&] { disk.resize((disk.size() + 65535) / 65536 * 65536 + 65536, 0); };
    std::vector<std::string> expected;
    test::TempDir dir;
    for (const Split& c : kCases) {
        const auto file = image.begin() + static_cast<std::ptrdiff_t>(c.offset);
        {
            std::vector<std::uint8_t> bytes(file, file + static_cast<std::ptrdiff_t>(c.length));
            test::writeWholeFile(dir / "one", bytes);
            expected.push_back(test::fileSha256(dir / "one"));
        }
        align();
        disk.insert(disk.end(), file, file + static_cast<std::ptrdiff_t>(c.split));
        for (std::uint64_t i = 0; i < c.gap; ++i)
            disk.push_back(c.randomGap ? static_cast<std::uint8_t>(random()) : png[i % png.size()]);
        disk.insert(disk.end(), file + static_cast<std::ptrdiff_t>(c.split), file + static_cast<std::ptrdiff_t>(c.length));
    }
    align();
    test::writeWholeFile(dir / "disk.img", disk);
    auto hashes = carvedHashes({"carve", (dir / "disk.img").string(), "--disk"}, dir);
    for (std::size_t i = 0; i < std::size(kCases); ++i)
        EXPECT_EQ(hashes.count(expected[i]), 1u) << kCases[i].what;
}

} // namespace
} // namespace qis
