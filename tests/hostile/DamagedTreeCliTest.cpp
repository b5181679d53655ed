// Damage that the standard scan reads through but must not believe: a folder
// that is its own ancestor, and a file whose recorded size is far beyond
// its volume.

#include "support/DamagedVolume.h"
#include "support/ListingJson.h"

#include <gtest/gtest.h>

#include <ostream>

namespace qis {
namespace {

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Loop {
    const char* name;
    test::FixtureVolume volume;
    std::string a, b; // two folders made each other's parent
    friend void PrintTo(const Loop& p, std::ostream* os) { *os << p.name; }
};

const Loop kLoops[] = {
    {"NtfsFolders", {"undelete-ntfs.img", 2048, "NTFS", 16}, "Docs", "Frag"},
    {"HfsPlusFolderAndSubfolder", {"hfsplus.img", 128, "HFS+", 2}, "Documents", "notes"},
};

class ParentLoops : public ::testing::TestWithParam<Loop> {};

// Everything the intact volume lists is still there: what was outside the
// loop where it was, what was in it under ORPHAN_ENTRY (where exactly
// depends on which folder the loop was cut at).
TEST_P(ParentLoops, KeepEverySubtreeUnderOrphanEntry)
{
    const Loop& l = GetParam();
    test::TempDir dir;
    auto intact = test::parseJsonListing(
        test::onVolume("list", test::damagedVolume(l.volume, {}, dir), l.volume, {"--json"}).out);
    const std::string damage = std::string(l.volume.fileSystem) == "NTFS" ? "ntfs-loop" : "hfs-loop";
    test::TempDir damagedDir;
    auto r =
        test::onVolume("list", test::damagedVolume(l.volume, {damage, l.a, l.b}, damagedDir), l.volume, {"--json"});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    auto damaged = test::parseJsonListing(r.out);
    std::size_t inLoop = 0;
    for (const auto& [path, entry] : intact) {
        const std::string slashed = "/" + path + "/";
        if (slashed.find("/" + l.a + "/") == std::string::npos && slashed.find("/" + l.b + "/") == std::string::npos) {
            EXPECT_TRUE(damaged.count(path)) << path;
            continue;
        }
        ++inLoop;
        const std::string leaf = path.substr(path.rfind('/') + 1);
        bool found = false;
        for (const auto& [p, e] : damaged)
            found = found || (p.rfind("ORPHAN_ENTRY/", 0) == 0 && endsWith(p, "/" + leaf) && e.type == entry.type &&
                              e.size == entry.size);
        EXPECT_TRUE(found) << path << "\n" << r.out;
    }
    EXPECT_GE(inLoop, 4u);
}

INSTANTIATE_TEST_SUITE_P(Folders, ParentLoops, ::testing::ValuesIn(kLoops),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qis

namespace qis {
namespace {

struct Oversized {
    const char* name;
    test::FixtureVolume volume;
    std::vector<std::string> damage; // the file's recorded size set far beyond the volume
    const char* path;
    friend void PrintTo(const Oversized& p, std::ostream* os) { *os << p.name; }
};

const Oversized kOversized[] = {
    {"FatDirectoryEntry", {"undelete-fat.img", 2048, "FAT16", 16}, {"fat-size", "REPORT  TXT"}, "Docs/Report.txt"},
    {"ExtInode", {"undelete-ext.img", 2048, "extX", 6}, {"ext-size", "24"}, "Keep/big.txt"},
    {"NtfsDataAttribute", {"undelete-ntfs.img", 2048, "NTFS", 16}, {"ntfs-size", "report.txt"}, "Docs/report.txt"},
};

class OversizedFiles : public ::testing::TestWithParam<Oversized> {};

TEST_P(OversizedFiles, AreSavedNoLargerThanTheVolumeAndCountedIncomplete)
{
    const Oversized& o = GetParam();
    test::TempDir dir;
    auto image = test::damagedVolume(o.volume, o.damage, dir);
    auto r = test::onVolume("save", image, o.volume, {"--path", o.path, "--output", (dir / "out").string()});
    const auto saved = dir / "out" / std::filesystem::path(o.path).filename();
    ASSERT_TRUE(std::filesystem::exists(saved)) << r.err;
    // The list gives sizes in whole MiB, rounded down: a volume reaches less than a MiB further.
    EXPECT_LE(std::filesystem::file_size(saved), (std::uint64_t{o.volume.sizeMb} + 1) << 20);
    EXPECT_NE(r.err.find("1 files: 1 written, 1 with unreadable parts"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Sizes, OversizedFiles, ::testing::ValuesIn(kOversized),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qis
