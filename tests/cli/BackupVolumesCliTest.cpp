// Volumes that lost their first sectors (backup-volumes.img: exFAT under a
// Linux type code, FAT32, NTFS and ext4, each wiped with dd after it was
// filled) and a disk without partition table (nopart-ext4.vhdx, ext4 from
// sector 0), as a user meets them through qsalvage volumes, list and save.
// What each volume held is in tests/data/*.manifest.txt.

#include "support/Fixtures.h"
#include "support/ListingJson.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace qis {
namespace {

struct ManifestEntry {
    std::string kind; // dir, file
    int volume = 0;
    std::uint64_t size = 0;
    std::string sha256, mtime, path;
};

std::vector<ManifestEntry> manifest(const std::string& name, int volume)
{
    std::vector<ManifestEntry> out;
    std::ifstream file(std::filesystem::path(QIS_TEST_DATA_DIR) / name);
    std::string line;
    while (std::getline(file, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string part; std::getline(fields, part, '\t');)
            f.push_back(part);
        ManifestEntry e;
        if (f.size() == 3 && f[0] == "dir")
            e = {f[0], std::stoi(f[1]), 0, "", "", f[2]};
        else if (f.size() == 6 && f[0] == "file")
            e = {f[0], std::stoi(f[1]), std::stoull(f[2]), f[3], f[4], f[5]};
        else
            continue;
        if (e.volume == volume)
            out.push_back(e);
    }
    EXPECT_FALSE(out.empty()) << name << " has nothing for volume " << volume;
    return out;
}

const char kStatusClosing[] = "Finished Scanning.\nSelect volume and click next button...\n";

struct VolumesCase {
    const char* name;
    std::vector<std::string> options;
    const char* out;
    const char* err;
};

std::ostream& operator<<(std::ostream& os, const VolumesCase& c) { return os << c.name; }

const VolumesCase kVolumesCases[] = {
    // The exFAT volume sits under type 0x83: without its backup it would be called extX.
    {"TableNamesEachVolumeByItsBackup", {},
     "VOLUME  FILE_SYSTEM  VOLUME_SIZE  START_SECTOR  NOTE\n"
     "0       FAT64        8   MB       2048          named by its backup boot sector at sector 2060\n"
     "1       FAT32        36   MB      18432         named by its backup boot sector at sector 18438\n"
     "2       NTFS         16   MB      92160         named by its backup boot sector at sector 124927\n"
     "3       extX         12   MB      124928        named by its backup superblock at sector 141314\n",
     "found FAT64...\nVolume 0: named by its backup boot sector at sector 2060.\n"
     "found FAT 32...\nVolume 1: named by its backup boot sector at sector 18438.\n"
     "found NTFS 1...\nVolume 2: named by its backup boot sector at sector 124927.\n"
     "found ext2...\nVolume 3: named by its backup superblock at sector 141314.\n"},
    // Each volume at its real start, not at its copy's sector; the ext
    // superblock copy in the journal (sector 126716) is no volume.
    {"SearchPlacesEachVolumeAtItsStart", {"--deep"},
     "VOLUME  FILE_SYSTEM  VOLUME_SIZE  START_SECTOR  NOTE\n"
     "0       FAT64        8  MB        2048          found by its backup boot sector at sector 2060, starts at sector 2048\n"
     "1       FAT32        36  MB       18432         found by its backup boot sector at sector 18438, starts at sector 18432\n"
     "2       NTFS         15   MB      92160         found by its backup boot sector at sector 124927, starts at sector 92160\n"
     "3       extX         12  MB       124928        found by its backup superblock at sector 141314, starts at sector 124928\n",
     "Scanning partition.....\n"
     "found FAT 64...\nVolume 0: found by its backup boot sector at sector 2060, starts at sector 2048.\n"
     "found FAT 32...\nVolume 1: found by its backup boot sector at sector 18438, starts at sector 18432.\n"
     "found NTFS 1...\nVolume 2: found by its backup boot sector at sector 124927, starts at sector 92160.\n"
     "found extX...\nVolume 3: found by its backup superblock at sector 141314, starts at sector 124928.\n"
     "Scanned Partitions\npopulated partitions....\n"},
};

class BackupVolumesList : public ::testing::TestWithParam<VolumesCase> {};

TEST_P(BackupVolumesList, ListsEachWipedVolumeAsWhatItIs)
{
    const auto& c = GetParam();
    std::vector<std::string> args = {"volumes", test::fixture("backup-volumes.img").string()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    auto r = test::runQsalvage(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, std::string(c.err) + kStatusClosing);
}

INSTANTIATE_TEST_SUITE_P(BackupVolumes, BackupVolumesList, ::testing::ValuesIn(kVolumesCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- list and save each volume -------------------------------------------

struct Pick {
    const char* image;
    const char* manifestName;
    int volume;
    bool deep;
};

std::string pickName(const ::testing::TestParamInfo<Pick>& info)
{
    std::string image = info.param.image;
    return image.substr(0, image.find('.')).erase(image.find('-'), 1) + "Volume" + std::to_string(info.param.volume) +
           (info.param.deep ? "Deep" : "Table");
}

class ReadThroughTheBackup : public ::testing::TestWithParam<Pick> {
protected:
    std::vector<std::string> volumeArgs(const std::string& verb) const
    {
        const auto& p = GetParam();
        std::vector<std::string> args = {verb, test::fixture(p.image).string(), "--volume", std::to_string(p.volume)};
        if (p.deep)
            args.push_back("--deep");
        return args;
    }
};

TEST_P(ReadThroughTheBackup, ListShowsEveryFileAndFolder)
{
    auto args = volumeArgs("list");
    args.push_back("--json");
    auto r = test::runQsalvage(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto listed = test::parseJsonListing(r.out);
    for (const auto& m : manifest(GetParam().manifestName, GetParam().volume)) {
        auto it = listed.find(m.path);
        ASSERT_NE(it, listed.end()) << m.path << " is missing from\n" << r.out;
        EXPECT_EQ(it->second.type, m.kind) << m.path;
        EXPECT_FALSE(it->second.deleted) << m.path;
        if (m.kind == "file") {
            EXPECT_EQ(it->second.size, m.size) << m.path;
            EXPECT_EQ(it->second.mtime, m.mtime) << m.path;
        }
    }
}

TEST_P(ReadThroughTheBackup, SaveWritesEveryFileByteForByte)
{
    test::TempDir dir;
    auto out = dir / "out";
    auto args = volumeArgs("save");
    args.insert(args.end(), {"--output", out.string()});
    auto r = test::runQsalvage(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const auto& m : manifest(GetParam().manifestName, GetParam().volume)) {
        if (m.kind == "dir") {
            EXPECT_TRUE(std::filesystem::is_directory(out / m.path)) << m.path;
            continue;
        }
        EXPECT_EQ(test::fileSha256(out / m.path), m.sha256) << m.path;
        EXPECT_EQ(test::fileMtimeIso(out / m.path), m.mtime) << m.path;
    }
}

const Pick kPicks[] = {
    {"backup-volumes.img", "backup-volumes.manifest.txt", 0, false}, // exFAT
    {"backup-volumes.img", "backup-volumes.manifest.txt", 1, false}, // FAT32
    {"backup-volumes.img", "backup-volumes.manifest.txt", 2, false}, // NTFS
    {"backup-volumes.img", "backup-volumes.manifest.txt", 3, false}, // ext4
    {"backup-volumes.img", "backup-volumes.manifest.txt", 0, true},
    {"backup-volumes.img", "backup-volumes.manifest.txt", 1, true},
    {"backup-volumes.img", "backup-volumes.manifest.txt", 2, true},
    {"backup-volumes.img", "backup-volumes.manifest.txt", 3, true},
    {"nopart-ext4.vhdx", "nopart-ext4.manifest.txt", 0, false},
};

INSTANTIATE_TEST_SUITE_P(Volumes, ReadThroughTheBackup, ::testing::ValuesIn(kPicks), pickName);

// ---- a disk without partition table --------------------------------------

TEST(NoPartitionTableCli, TheExtVolumeAtSectorZeroIsTheDisksOneVolume)
{
    for (std::vector<std::string> options : {std::vector<std::string>{}, std::vector<std::string>{"--gpt"}}) {
        std::vector<std::string> args = {"volumes", test::fixture("nopart-ext4.vhdx").string()};
        args.insert(args.end(), options.begin(), options.end());
        auto r = test::runQsalvage(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "VOLUME  FILE_SYSTEM  VOLUME_SIZE  START_SECTOR  NOTE\n"
                         "0       extX         16   MB      0             whole disk, no partition table\n");
        EXPECT_EQ(r.err, std::string("found ext2...\nVolume 0: whole disk, no partition table.\n") + kStatusClosing);
    }
}

} // namespace
} // namespace qis
