// qsalvage carve on the carving fixtures (tests/fixtures/make-carve-fixtures.sh):
// known files of every default type laid out on a bare volume, and deleted
// files on FAT32 and NTFS volumes made by real tools. Every file stored in
// one piece must come back byte for byte, with the category counts.

#include "support/Fixtures.h"
#include "support/TabFields.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>

namespace qis {
namespace {

struct Known {
    std::uint64_t offset = 0, length = 0;
    std::string ext, sha256, layout;
};

std::vector<Known> manifest(const std::string& name)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/" + name);
    std::vector<Known> files;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue; // "#live" lines are files still in use: carved too, but not what the fixture tests
        auto f = test::tabFields(line);
        if (f.size() >= 5)
            files.push_back({std::stoull(f[0]), std::stoull(f[1]), f[2], f[3], f[4]});
    }
    return files;
}

std::string categoryOf(const std::string& ext)
{
    static const std::map<std::string, std::string> kCategories = {
        {"jpg", "Pictures"},  {"png", "Pictures"},  {"gif", "Pictures"}, {"bmp", "Pictures"}, {"tif", "Pictures"},
        {"pdf", "Documents"}, {"docx", "Documents"}, {"xlsx", "Documents"}, {"odt", "Documents"},
        {"sqlite", "Databases"}, {"zip", "Archives"}, {"7z", "Archives"}, {"gz", "Archives"}, {"mp3", "Audio"},
        {"ogg", "Audio"},     {"wav", "Audio"},     {"avi", "Video"},    {"mp4", "Video"},    {"mov", "Video"},
        {"mpg", "Video"},     {"elf", "Programs"},  {"exe", "Programs"}};
    return kCategories.at(ext);
}

struct Carved {
    std::map<std::string, std::uint64_t> counts;
    std::multiset<std::string> hashes;         // of every file written
    std::map<std::uint64_t, std::string> names; // by offset
};

Carved carve(const std::filesystem::path& image, const test::TempDir& dir)
{
    auto out = dir / "out";
    auto r = test::runQsalvage({"carve", image.string(), "--disk", "--output", out.string(), "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Carved c;
    std::regex category("\\{\"name\": \"([^\"]+)\", \"count\": ([0-9]+)\\}");
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), category), end; it != end; ++it)
        c.counts[(*it)[1]] = std::stoull((*it)[2]);
    std::regex file("\"name\": \"([^\"]+)\", \"offset\": ([0-9]+)");
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), file), end; it != end; ++it)
        c.names[std::stoull((*it)[2])] = (*it)[1];
    for (const auto& e : std::filesystem::recursive_directory_iterator(out))
        if (e.is_regular_file())
            c.hashes.insert(test::fileSha256(e.path()));
    return c;
}

class CarveVolume : public ::testing::TestWithParam<const char*> {};

TEST_P(CarveVolume, EveryFileStoredInOnePieceComesBackWholeAndTheCountsAddUp)
{
    test::TempDir dir;
    Carved c = carve(test::fixture(GetParam()), dir);
    auto known = manifest("carve.manifest.txt");
    ASSERT_GE(known.size(), 25u);
    std::map<std::string, std::uint64_t> expected;
    for (const Known& k : known) {
        ++expected[categoryOf(k.ext)];
        // Found where it starts, and named by its offset and its own kind.
        ASSERT_TRUE(c.names.count(k.offset)) << k.ext << " at " << k.offset;
        const std::string ext = k.ext == "sqlite" ? "db" : k.ext;
        EXPECT_EQ(c.names[k.offset], std::to_string(k.offset) + " ." + ext);
        // A JPEG, PDF or ZIP in two pieces is found whole across the gap too.
        if (k.layout == "contiguous" || k.ext == "jpg" || k.ext == "pdf" || k.ext == "zip") {
            EXPECT_EQ(c.hashes.count(k.sha256), 1u) << k.ext << " at " << k.offset << " is not whole";
        }
    }
    for (const auto& [category, count] : expected)
        EXPECT_EQ(c.counts[category], count) << category;
    EXPECT_EQ(c.names.size(), known.size()) << "nothing but the known files is carved from this volume";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CarveVolume, ::testing::Values("carve.img", "carve.vhdx"),
                         [](const auto& info) { return std::string(info.param).substr(6); });

TEST(CarveDisk, DeletedFilesOfFat32AndNtfsVolumesComeBackWhole)
{
    test::TempDir dir;
    Carved c = carve(test::fixture("carve-fs.vhdx"), dir);
    auto known = manifest("carve-fs.manifest.txt");
    ASSERT_GE(known.size(), 10u);
    for (const Known& k : known)
        EXPECT_EQ(c.hashes.count(k.sha256), 1u) << k.ext << " at " << k.offset;
}

} // namespace
} // namespace qis
