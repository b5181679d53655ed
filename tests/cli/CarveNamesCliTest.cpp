// qsalvage carve on a volume whose file system still lists the deleted
// files it finds (carve-fs.vhdx, tests/fixtures/make-carve-fixtures.sh):
// each carved file that starts where a deleted entry's data began is saved
// under that entry's path, byte for byte; a live file keeps its offset name.

#include "support/Fixtures.h"
#include "support/TabFields.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>

namespace qis {
namespace {

struct Known {
    std::uint64_t offset = 0; // from the volume's start
    std::string sha256, path;
    bool deleted = false;
};

// The manifest's files of one volume, read from its notes ("deleted NTFS Pictures/snow.jpg (record 67 ...").
std::vector<Known> manifest(const std::string& fileSystem, std::uint64_t volumeStart)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/carve-fs.manifest.txt");
    const std::regex note("^(deleted|live) " + fileSystem + " (\\S+) ");
    std::vector<Known> files;
    for (std::string line; std::getline(in, line);) {
        auto f = test::tabFields(line);
        if (!f.empty() && f[0] == "#live")
            f.erase(f.begin());
        std::smatch m;
        if (f.size() < 7 || f[0].empty() || f[0][0] == '#' || !std::regex_search(f[6], m, note))
            continue;
        files.push_back({std::stoull(f[0]) - volumeStart, f[3], m[2], m[1] == "deleted"});
    }
    return files;
}

struct Carved {
    std::string entryPath; // "null" when unnamed
    std::string path;      // where it was saved, below the output folder
};

struct NamedVolume {
    const char* index;
    const char* fileSystem;
    std::uint64_t startSector;
    // A deleted FAT entry's first byte is 0xE5: a name that fit 8.3 (short
    // entry only) shows it as "å", and the carved file is named as the scan
    // shows it.
    bool fat;
};

void PrintTo(const NamedVolume& v, std::ostream* os) { *os << v.fileSystem; }

class CarveNames : public ::testing::TestWithParam<NamedVolume> {};

TEST_P(CarveNames, DeletedEntriesNameTheFilesCarvedAtTheirFirstClusterAndLiveOnesKeepTheirOffsets)
{
    const NamedVolume& v = GetParam();
    const auto known = manifest(v.fileSystem, v.startSector * 512);
    ASSERT_GE(known.size(), 8u);
    test::TempDir dir;
    const auto image = test::fixture("carve-fs.vhdx").string();
    auto r = test::runQsalvage({"carve", image, "--volume", v.index, "--output", (dir / "json").string(), "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::map<std::uint64_t, Carved> carved;
    const std::regex file("\"offset\": ([0-9]+), \"length\": [0-9]+, \"validated\": [a-z]+, "
                          "\"path\": \"([^\"]+)\", \"entryPath\": (null|\"[^\"]*\")");
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), file), end; it != end; ++it)
        carved[std::stoull((*it)[1])] = {(*it)[3], (*it)[2]};

    std::size_t deleted = 0, live = 0;
    for (const Known& k : known) {
        // Plain text is not carved: a live text file is passed over.
        ASSERT_TRUE(carved.count(k.offset) || !k.deleted) << k.path << " was not carved";
        if (!carved.count(k.offset))
            continue;
        const Carved& c = carved[k.offset];
        const std::string category = c.path.substr(0, c.path.find('/'));
        if (!k.deleted) {
            ++live;
            EXPECT_EQ(c.entryPath, "null") << k.path;
            EXPECT_EQ(c.path, category + "/" + std::to_string(k.offset) + " ." + k.path.substr(k.path.rfind('.') + 1));
            continue;
        }
        ++deleted;
        std::string shown = k.path;
        const std::size_t name = shown.rfind('/') + 1;
        if (v.fat && shown.find('.', name) - name <= 8)
            shown.replace(name, 1, "\u00e5");
        EXPECT_EQ(c.entryPath, "\"" + shown + "\"");
        EXPECT_EQ(c.path, category + "/" + shown);
        EXPECT_EQ(test::fileSha256(dir / "json" / c.path), k.sha256) << c.path;
    }
    ASSERT_GE(deleted, 5u);
    ASSERT_GE(live, 2u);

    r = test::runQsalvage({"carve", image, "--volume", v.index, "--output", (dir / "text").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\n" + std::to_string(deleted) + " carved files were named from deleted entries.\n"),
              std::string::npos)
        << r.out;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CarveNames,
                         ::testing::Values(NamedVolume{"0", "FAT32", 2048, true}, NamedVolume{"1", "NTFS", 83968, false}),
                         [](const auto& info) { return std::string(info.param.fileSystem); });

} // namespace
} // namespace qis
