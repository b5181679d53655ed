// A checkpoint (differencing VHDX) over its parent, through qsalvage: what
// the child does not hold comes from the parent, sector by sector in its
// partially present block (tests/fixtures/make-vhdx-diff-fixtures.sh).

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace qis {
namespace {

namespace fs = std::filesystem;
using test::runQsalvage;

constexpr char kChildText[] = "The checkpoint rewrote this readme.txt: the child holds this text, not so.";
constexpr char kParentText[] = "The parent's readme.txt";

TEST(VhdxChain, ExportListSaveAndCatShowTheChildOverItsParent)
{
    test::fixture("diff-base.vhdx");
    const std::string child = test::fixture("diff-child.avhdx").string();
    const std::string flat = test::fixture("diff-chain-vhdx.raw").string();
    test::TempDir dir;

    auto exported = runQsalvage({"export", child, "--output", (dir / "disk.img").string()});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_TRUE(test::sameContents(dir / "disk.img", flat));

    auto info = runQsalvage({"info", child});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("Format: VHDX\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("This is a differencing VHDX; its parent is diff-base.vhdx."), std::string::npos)
        << info.out;

    auto listed = runQsalvage({"list", child, "--volume", "0"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("readme.txt"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("5242880"), std::string::npos) << listed.out; // filler.bin, from the parent's FAT

    auto cat = runQsalvage({"cat", child, "--volume", "0", "--path", "readme.txt"});
    ASSERT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_EQ(cat.out.size(), 1200u);
    EXPECT_EQ(cat.out.rfind(kChildText, 0), 0u) << cat.out.substr(0, 80);
    EXPECT_EQ(cat.out.find(kParentText), std::string::npos);

    // Saved through the chain, every file is as the flat disk has it: the
    // changed and the zeroed block of filler.bin as well as readme.txt.
    for (const auto& [image, folder] : {std::pair{child, "chain"}, std::pair{flat, "flat"}}) {
        auto saved = runQsalvage({"save", image, "--volume", "0", "--output", (dir / folder).string()});
        ASSERT_EQ(saved.exitCode, 0) << saved.err;
    }
    for (const char* name : {"readme.txt", "filler.bin"})
        EXPECT_TRUE(test::sameContents(dir / "chain" / name, dir / "flat" / name)) << name;
}

TEST(VhdxChain, ALogNeverAppliedChangesTheChildsBitmapAndBlocksNotTheParent)
{
    test::fixture("diff-base.vhdx");
    const std::string child = test::fixture("diff-child-log.avhdx").string();
    test::TempDir dir;
    auto exported = runQsalvage({"export", child, "--output", (dir / "disk.img").string()});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_TRUE(test::sameContents(dir / "disk.img", test::fixture("diff-chain-vhdx-log.raw")));
    auto info = runQsalvage({"info", child});
    EXPECT_NE(info.out.find("The VHDX log held 1 entry not yet applied"), std::string::npos) << info.out;
}

struct ParentCase {
    const char* name;
    // Lays the images out in `dir`; returns the image to export.
    std::function<fs::path(const test::TempDir& dir)> arrange;
    int exitCode;
    const char* message; // in stderr
};

// The child's parent_linkage value with its first hex digit changed: the
// parent no longer is the one it was made from.
void changeLinkage(const fs::path& child)
{
    auto bytes = test::readWholeFile(child);
    std::vector<std::uint8_t> key;
    for (char c : std::string("parent_linkage{"))
        key.insert(key.end(), {static_cast<std::uint8_t>(c), 0});
    // The writer stores each key with its value right after it.
    auto at = std::search(bytes.begin(), bytes.end(), key.begin(), key.end());
    ASSERT_NE(at, bytes.end());
    const std::size_t digit = static_cast<std::size_t>(at - bytes.begin()) + key.size();
    test::patchFile(child, digit, {static_cast<std::uint8_t>(bytes[digit] == '0' ? '1' : '0')});
}

// A checkpoint whose parent was renamed and moved: named with --parent, the
// chain reads whole and info shows both images.
TEST(VhdxChain, AParentNamedOnTheCommandLine)
{
    test::TempDir dir;
    const fs::path child = dir / "a" / "checkpoint.avhdx";
    const fs::path parent = dir / "b" / "renamed.vhdx";
    for (const auto& [from, to] : {std::pair{"diff-child.avhdx", child}, std::pair{"diff-base.vhdx", parent}}) {
        fs::create_directories(to.parent_path());
        fs::copy_file(test::fixture(from), to);
    }
    auto exported = runQsalvage({"export", child.string(), "--parent", parent.string(), "--output",
                                 (dir / "disk.img").string()});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_TRUE(test::sameContents(dir / "disk.img", test::fixture("diff-chain-vhdx.raw")));
    auto info = runQsalvage({"info", child.string(), "--parent", parent.string()});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("Chain: " + child.string() + ": VHDX"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("   on: " + parent.string() + ": VHDX"), std::string::npos) << info.out;
}

class VhdxChainParent : public ::testing::TestWithParam<ParentCase> {};

TEST_P(VhdxChainParent, IsFoundOrNamedInTheFailure)
{
    test::TempDir dir;
    const fs::path child = GetParam().arrange(dir);
    auto r = runQsalvage({"export", child.string(), "--output", (dir / "disk.img").string()});
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.err;
    EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
    if (GetParam().exitCode == 0)
        EXPECT_TRUE(test::sameContents(dir / "disk.img", test::fixture("diff-chain-vhdx.raw")));
    else
        EXPECT_FALSE(fs::exists(dir / "disk.img"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VhdxChainParent,
    ::testing::Values(
        ParentCase{"Missing",
                   [](const test::TempDir& dir) {
                       return test::fixtureCopy("diff-child.avhdx", dir, "checkpoint.avhdx");
                   },
                   1, "The parent image \"diff-base.vhdx\" of checkpoint.avhdx was not found. Looked for: "},
        // Copied under its parent's name, the child names itself.
        ParentCase{"Loop",
                   [](const test::TempDir& dir) {
                       return test::fixtureCopy("diff-child.avhdx", dir, "diff-base.vhdx");
                   },
                   1, "The chain of images loops back to diff-base.vhdx."},
        ParentCase{"ChangedSinceTheCheckpoint",
                   [](const test::TempDir& dir) {
                       fs::copy_file(test::fixture("diff-base.vhdx"), dir / "diff-base.vhdx");
                       auto child = test::fixtureCopy("diff-child.avhdx", dir, "checkpoint.avhdx");
                       changeLinkage(child);
                       return child;
                   },
                   0, "The parent diff-base.vhdx is not the image this one was made from (its identifier differs)"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qis
