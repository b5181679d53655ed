// Entry numbers as Sleuth Kit's fls prints them (and icat takes them), and
// the timeline fields istat shows, on volumes made by the real tools. FAT
// and exFAT number an entry by where its directory entry lies, which Sleuth
// Kit does its own way: there the numbers must be unique, stable and lead
// back to the entry's own slot.

#include "filesystems/EntryWalk.h"
#include "filesystems/VolumeScan.h"
#include "images/VolumeBytes.h"
#include "images/vhdx/FileReadSeekVHDX.h"
#include "support/Fixtures.h"
#include "support/TreeListing.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

namespace qis {
namespace {

struct Parsed {
    FileReadSeekVHDX reader;
    std::unique_ptr<VolumeScan> scan;
    VolumeParser* parser = nullptr;
};

std::unique_ptr<Parsed> parse(const std::string& image, const VolumeRecord& volume, int mode = 1)
{
    auto p = std::make_unique<Parsed>();
    std::string whyNot;
    if (p->reader.open(test::fixture(image)) &&
        (p->scan = makeVolumeScan(volume, p->reader, ScanOptions{.mode = mode}, whyNot))) {
        NullReporter quiet;
        PauseGate gate;
        JobContext job(quiet, gate);
        p->parser = runVolumeScan(*p->scan, job);
    }
    return p;
}

// Every entry's path (its own name only when byName), " *" after a deleted one.
std::map<std::string, std::vector<EntryHandle>> entriesByKey(const VolumeParser& parser, bool byName)
{
    std::map<std::string, std::vector<EntryHandle>> keys;
    walkTree(parser, [&](EntryHandle e, const std::vector<std::u16string>& path) {
        std::string key;
        for (std::size_t i = byName ? path.size() - 1 : 0; i < path.size(); ++i)
            key += (key.empty() ? "" : "/") + utf16ToUtf8(path[i]);
        keys[key + (parser.isDeleted(e) ? " *" : "")].push_back(e);
    });
    return keys;
}

struct FlsVolume {
    const char* name;
    const char* image;
    const char* listing; // `fls -r -p -o START` of the volume, kept beside the image
    VolumeRecord volume;
    int mode;            // 1 standard; 3 deep, where the tree hangs under ORPHAN_ENTRY
    std::size_t atLeast; // entries compared
};

void PrintTo(const FlsVolume& v, std::ostream* os)
{
    *os << v.name;
}

class FlsEntryNumbers : public ::testing::TestWithParam<FlsVolume> {};

TEST_P(FlsEntryNumbers, AreTheNumbersFlsPrints)
{
    const FlsVolume& v = GetParam();
    const bool byName = v.mode == 3;
    // "r/r * 67-128-2:\tpath": the number before any attribute type; '*' a
    // deleted name; "file:stream" is no entry of its own.
    std::map<std::string, std::vector<std::uint64_t>> fls;
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/" + v.listing);
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find(":\t");
        std::string path = tab == std::string::npos ? ":" : line.substr(tab + 2);
        if (path.find(':') != std::string::npos)
            continue;
        if (byName)
            path = path.substr(path.rfind('/') + 1);
        const std::string head = line.substr(0, tab);
        fls[path + (head.find(" * ") != std::string::npos ? " *" : "")].push_back(
            std::stoull(head.substr(head.rfind(' ') + 1)));
    }
    auto p = parse(v.image, v.volume, v.mode);
    ASSERT_NE(p->parser, nullptr);
    std::size_t compared = 0;
    for (const auto& [key, entries] : entriesByKey(*p->parser, byName)) {
        auto printed = fls.find(key);
        if (entries.size() != 1 || printed == fls.end() || printed->second.size() != 1)
            continue; // a name that stands for more than one entry on either side
        ++compared;
        EXPECT_EQ(p->parser->entryNumber(entries.front()), printed->second.front()) << key;
    }
    EXPECT_GE(compared, v.atLeast);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, FlsEntryNumbers,
    ::testing::Values(
        FlsVolume{"Ntfs512", "ntfs-512.vhdx", "ntfs-512.fls.txt", {"NTFS", "", "16", 2048}, 1, 20},
        FlsVolume{"NtfsFeatures", "ntfs-features.vhdx", "ntfs-features.fls.txt", {"NTFS", "", "64", 2048}, 1, 50},
        FlsVolume{"NtfsDeep", "ntfs-512.vhdx", "ntfs-512.fls.txt", {"NTFS", "", "16", 2048}, 3, 15},
        FlsVolume{"Ext2", "ext.vhdx", "ext-0.fls.txt", {"extX", "", "32", 2048}, 1, 340},
        FlsVolume{"Ext3", "ext.vhdx", "ext-1.fls.txt", {"extX", "", "48", 67584}, 1, 340},
        FlsVolume{"Ext4", "ext.vhdx", "ext-2.fls.txt", {"extX", "", "64", 165888}, 1, 340},
        FlsVolume{"Ext4Small", "ext.vhdx", "ext-3.fls.txt", {"extX", "", "64", 296960}, 1, 3000},
        FlsVolume{"HfsTree", "hfsplus-tree.vhdx", "hfsplus-tree.fls.txt", {"HFS+", "", "4", 688}, 1, 1500},
        FlsVolume{"HfsTreeDeep", "hfsplus-tree.vhdx", "hfsplus-tree.fls.txt", {"HFS+", "", "4", 688}, 3, 1500},
        FlsVolume{"Hfs512", "hfsplus-512.vhdx", "hfsplus-512.fls.txt", {"HFS+", "", "1", 252}, 1, 330}),
    [](const auto& info) { return std::string(info.param.name); });

class FatEntryNumbers : public ::testing::TestWithParam<std::pair<const char*, VolumeRecord>> {};

TEST_P(FatEntryNumbers, AreUniqueStableAndLeadToTheEntrysSlot)
{
    const auto& [image, volume] = GetParam();
    const bool exfat = volume.fileSystem == "FAT64";
    std::map<std::string, std::vector<std::uint64_t>> runs[2];
    for (auto& numbers : runs) {
        auto p = parse(image, volume);
        ASSERT_NE(p->parser, nullptr);
        std::set<std::uint64_t> seen;
        std::size_t deleted = 0;
        for (const auto& [key, entries] : entriesByKey(*p->parser, false))
            for (const EntryHandle e : entries) {
                const auto number = p->parser->entryNumber(e);
                ASSERT_TRUE(number.has_value()) << key;
                EXPECT_TRUE(seen.insert(*number).second) << key << " shares " << *number;
                numbers[key].push_back(*number);
                deleted += p->parser->isDeleted(e);
                // The slot: an exFAT file entry in use or not, a short entry
                // with the deletion mark, folder bit and size of the entry.
                std::array<std::uint8_t, 32> s{};
                ASSERT_TRUE(readVolumeBytes(p->reader, *number * 32, s));
                EXPECT_EQ((s[exfat ? 4 : 11] & 0x10) != 0, p->parser->isFolder(e)) << key;
                if (exfat) {
                    EXPECT_EQ(s[0], p->parser->isDeleted(e) ? 0x05 : 0x85) << key;
                } else {
                    EXPECT_EQ(s[0] == 0xE5, p->parser->isDeleted(e)) << key;
                    const std::uint64_t size = s[28] | s[29] << 8 | s[30] << 16 | std::uint64_t{s[31]} << 24;
                    if (!p->parser->isFolder(e)) {
                        EXPECT_EQ(size, p->parser->details(e).size) << key;
                    }
                }
            }
        EXPECT_GE(seen.size(), 400u);
        EXPECT_GE(deleted, 10u);
    }
    EXPECT_EQ(runs[0], runs[1]) << "a second scan numbers every entry the same";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FatEntryNumbers,
                         ::testing::Values(std::pair{"fat16.vhdx", VolumeRecord{"FAT16", "", "40", 2048}},
                                           std::pair{"fat32.vhdx", VolumeRecord{"FAT32", "", "40", 2048}},
                                           std::pair{"exfat.vhdx", VolumeRecord{"FAT64", "", "40", 2048}}),
                         [](const auto& info) { return info.param.second.fileSystem; });

// What istat (Sleuth Kit 4.11.1) showed of one entry of the fixture as the
// build made it; change and birth times there are the build's real clock.
struct Timeline {
    const char* name;
    const char* image;
    VolumeRecord volume;
    const char* path;
    std::optional<UnixTime> change, birth;
    std::optional<std::uint32_t> mode, uid, gid;
};

class TimelineFields : public ::testing::TestWithParam<Timeline> {};

TEST_P(TimelineFields, AreWhatIstatShows)
{
    const Timeline& t = GetParam();
    auto p = parse(t.image, t.volume);
    ASSERT_NE(p->parser, nullptr);
    const EntryHandle e = test::findTreeEntry(*p->parser, t.path);
    ASSERT_NE(e, kNoEntry) << t.path;
    auto exact = [](const std::optional<UnixTime>& u) {
        return u ? std::optional(std::pair(u->seconds, u->nanoseconds)) : std::nullopt;
    };
    for (const EntryDetails& d : {p->parser->describe(e), p->parser->details(e)}) {
        EXPECT_EQ(exact(d.change), exact(t.change));
        EXPECT_EQ(exact(d.birth), exact(t.birth));
        EXPECT_EQ(d.mode, t.mode);
        EXPECT_EQ(d.uid, t.uid);
        EXPECT_EQ(d.gid, t.gid);
    }
}

constexpr UnixTime kFixed{1710498600, 0}; // 2024-03-15 10:30:00 UTC, the scripts' time
constexpr auto kNone = std::nullopt;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Fixtures, TimelineFields, ::testing::Values(
    // MFT Modified 2026-12-09 09:36:34.526916200; NTFS keeps no POSIX mode.
    Timeline{"Ntfs", "ntfs-512.vhdx", {"NTFS", "", "16", 2048}, "Docs/readme.txt",
             UnixTime{1796808994, 526916200}, kNone, kNone, kNone, kNone},
    // ext2, 128-byte inodes, no i_crtime: Inode Modified 2026-12-09 12:31:58, rrw-------, 0 / 0.
    Timeline{"Ext2", "ext.vhdx", {"extX", "", "32", 2048}, "Modes/private.txt",
             UnixTime{1796819518, 0}, kNone, 0100600u, 0u, 0u},
    // Inode Modified 2026-12-09 12:32:03.411512422, File Created 2024-03-15 10:30:00, drwx------.
    Timeline{"Ext4", "ext.vhdx", {"extX", "", "64", 165888}, "Modes/locked folder",
             UnixTime{1796819523, 411512422}, kFixed, 040700u, 0u, 0u},
    // Written through the kernel, every time its own: Inode Modified
    // 2026-12-09 08:18:43.926871333, File Created 08:18:43.894871332, rrw-r--r--.
    Timeline{"Ext4Kernel", "sample.vhdx", {"extX", "", "32", 215040}, "Documents/report.txt",
             UnixTime{1796804323, 926871333}, UnixTime{1796804323, 894871332}, 0100644u, 0u, 0u},
    // Attributes Modified 2024-03-15 10:30:00, rrw-r--r--, uid / gid 0 / 0.
    Timeline{"Hfsplus", "hfsplus-tree.vhdx", {"HFS+", "", "4", 688}, "Level 1/one level down.txt",
             kFixed, kNone, 0100644u, 0u, 0u},
    Timeline{"Fat16", "fat16.vhdx", {"FAT16", "", "40", 2048}, "DOCS/readme.txt", kNone, kNone, kNone, kNone, kNone},
    Timeline{"Exfat", "exfat.vhdx", {"FAT64", "", "40", 2048}, "DOCS/readme.txt", kNone, kNone, kNone, kNone, kNone}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
} // namespace qis
