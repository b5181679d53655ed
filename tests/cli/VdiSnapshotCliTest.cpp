// qsalvage through a snapshot VDI over its base (tests/fixtures/
// make-vdi-diff-fixtures.sh): the child stores readme.txt's block, marks the
// last MiB zero over the base's data and leaves every other block to the base.

#include "support/Fixtures.h"
#include "support/ListingJson.h"

#include <gtest/gtest.h>

#include <functional>

namespace qis {
namespace {

namespace fs = std::filesystem;
using test::runQsalvage;

constexpr std::uint64_t kCreate = 0x188, kModify = 0x198, kLinkage = 0x1A8;

// A header UUID as messages write it: the first three fields little-endian.
std::string uuidAt(const fs::path& image, std::uint64_t offset)
{
    auto b = test::readWholeFile(image);
    std::string text;
    for (int i : {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15})
        text += i < 0 ? "-"
                      : (std::string(1, "0123456789abcdef"[b.at(offset + i) >> 4]) +
                         "0123456789abcdef"[b.at(offset + i) & 15]);
    return text;
}

void linkTo(const fs::path& child, const fs::path& parent)
{
    auto b = test::readWholeFile(parent);
    test::patchFile(child, kLinkage, {b.begin() + kCreate, b.begin() + kCreate + 16});
}

// Export, info, list, cat and save as a user runs them: every file equals the
// one saved from the disk the chain must read as (readme.txt from the child's
// block, big.bin partly from the child and partly from the base, tail.txt and
// notes.txt from the base), and readme.txt is not the base's any more.
TEST(VdiSnapshotCli, ChildReadsAsTheDiskOfTheWholeChain)
{
    test::TempDir dir;
    auto base = test::fixtureCopy("diff-base.vdi", dir).string();
    auto child = test::fixtureCopy("diff-child.vdi", dir).string();
    auto flat = test::fixture("diff-chain-vdi.raw").string();

    auto r = runQsalvage({"export", child, "--output", (dir / "disk.img").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(test::sameContents(dir / "disk.img", flat));

    auto info = runQsalvage({"info", child});
    EXPECT_NE(info.out.find("This is a differencing VDI; its parent is the image " + uuidAt(base, kCreate) +
                            ".\nFormat: VDI\n"),
              std::string::npos)
        << info.out;
    EXPECT_NE(runQsalvage({"info", base, "--json"}).out.find("\"differencing\": false"), std::string::npos);

    auto listed = test::parseJsonListing(runQsalvage({"list", child, "--volume", "0", "--json"}).out);
    EXPECT_EQ(listed.count("big.bin") ? listed.at("big.bin").size : 0, 2102152u);
    for (const auto& [image, folder] : {std::pair{child, "child"}, {flat, "flat"}, {base, "base"}})
        ASSERT_EQ(runQsalvage({"save", image, "--volume", "0", "--output", (dir / folder).string()}).exitCode, 0);
    for (const char* name : {"readme.txt", "big.bin", "tail.txt", "notes.txt"})
        EXPECT_EQ(test::fileSha256(dir / "child" / name), test::fileSha256(dir / "flat" / name)) << name;
    EXPECT_NE(test::fileSha256(dir / "child" / "readme.txt"), test::fileSha256(dir / "base" / "readme.txt"));

    auto cat = runQsalvage({"cat", child, "--volume", "0", "--path", "readme.txt"});
    auto saved = test::readWholeFile(dir / "child" / "readme.txt");
    EXPECT_EQ(cat.out, std::string(saved.begin(), saved.end()));
}

struct ParentCase {
    const char* what;
    std::function<fs::path(const test::TempDir&)> layout; // lays the chain out, returns the child
    bool reads;                                           // exports the chain's disk
    std::string message;                                  // in stderr; "@base" stands for the base's creation UUID
};

void PrintTo(const ParentCase& c, std::ostream* os)
{
    *os << c.what;
}

class VdiSnapshotParent : public ::testing::TestWithParam<ParentCase> {};

TEST_P(VdiSnapshotParent, IsFoundOrRefusedAsTheUserExpects)
{
    test::TempDir dir;
    const ParentCase& c = GetParam();
    auto r = runQsalvage({"export", c.layout(dir).string(), "--output", (dir / "out.img").string()});
    std::string message = c.message;
    if (auto at = message.find("@base"); at != std::string::npos)
        message.replace(at, 5, uuidAt(test::fixture("diff-base.vdi"), kCreate));
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.exitCode, c.reads ? 0 : 1) << r.err;
    if (c.reads) {
        EXPECT_TRUE(test::sameContents(dir / "out.img", test::fixture("diff-chain-vdi.raw")));
    } else {
        EXPECT_FALSE(fs::exists(dir / "out.img"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Chains, VdiSnapshotParent,
    ::testing::Values(ParentCase{"BaseInTheFolderAbove",
                                 [](const test::TempDir& d) {
                                     test::fixtureCopy("diff-base.vdi", d, "base.vdi");
                                     fs::create_directory(d / "Snapshots");
                                     fs::copy_file(test::fixture("diff-child.vdi"), d / "Snapshots" / "{snap}.vdi");
                                     return d / "Snapshots" / "{snap}.vdi";
                                 },
                                 true, "Image Saved"},
                      ParentCase{"MissingBaseNamesItsUuid",
                                 [](const test::TempDir& d) { return test::fixtureCopy("diff-child.vdi", d); }, false,
                                 "The parent image @base of diff-child.vdi was not found"},
                      ParentCase{"BaseWrittenSinceIsNotedAndRead",
                                 [](const test::TempDir& d) {
                                     test::patchU32le(test::fixtureCopy("diff-base.vdi", d, "base.vdi"), kModify,
                                                      0x0BADF00D);
                                     return test::fixtureCopy("diff-child.vdi", d);
                                 },
                                 true, "base.vdi was changed after this snapshot was taken"},
                      ParentCase{"ChildNamingItselfIsNotItsOwnParent",
                                 [](const test::TempDir& d) {
                                     auto child = test::fixtureCopy("diff-child.vdi", d);
                                     linkTo(child, child);
                                     return child;
                                 },
                                 false, "was not found among the files of"},
                      ParentCase{"TwoChildrenNamingEachOtherAreRefused",
                                 [](const test::TempDir& d) {
                                     auto a = test::fixtureCopy("diff-child.vdi", d, "a.vdi");
                                     auto b = test::fixtureCopy("diff-child.vdi", d, "b.vdi");
                                     test::patchU32le(b, kCreate, 0x12345678);
                                     linkTo(a, b);
                                     linkTo(b, a);
                                     return a;
                                 },
                                 false, "The chain of images loops back to a.vdi."}),
    [](const auto& info) { return std::string(info.param.what); });

} // namespace
} // namespace qis
