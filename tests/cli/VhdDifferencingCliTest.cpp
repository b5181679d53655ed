// A differencing VHD read through qsalvage over its parent: the disk the
// chain makes, the child's version of a rewritten file, and a parent that is
// missing, changed or the child itself.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

using test::runQsalvage;

constexpr char kChildNotes[] = "Child version of the notes: rewritten after the checkpoint!\n";

// The child and its parent, side by side in a folder of the test's own.
struct Chain {
    test::TempDir dir;
    std::filesystem::path child = test::fixtureCopy("diff-child.vhd", dir);
    std::filesystem::path parent = test::fixtureCopy("diff-base.vhd", dir);
};

TEST(VhdDifferencingCli, ExportListCatAndSaveReadTheChain)
{
    Chain chain;
    auto out = chain.dir / "disk.img";
    auto exported = runQsalvage({"export", chain.child.string(), "--output", out.string()});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_TRUE(test::sameContents(out, test::fixture("diff-chain-vhd.raw")));

    auto list = runQsalvage({"list", chain.child.string(), "--volume", "0"});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("NOTES.TXT"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("BIG.BIN"), std::string::npos) << list.out;

    auto cat = runQsalvage({"cat", chain.child.string(), "--volume", "0", "--path", "NOTES.TXT"});
    ASSERT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_EQ(cat.out, kChildNotes);

    auto saved = chain.dir / "saved";
    auto save = runQsalvage({"save", chain.child.string(), "--volume", "0", "--output", saved.string()});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    auto notes = test::readWholeFile(saved / "NOTES.TXT");
    EXPECT_EQ(std::string(notes.begin(), notes.end()), kChildNotes);

    auto info = runQsalvage({"info", chain.child.string()});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("Format: VHD\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("This is a differencing VHD."), std::string::npos) << info.out;
    // Read from the child's own headers: said also when the parent is gone.
    std::filesystem::remove(chain.parent);
    auto orphan = runQsalvage({"info", chain.child.string()});
    EXPECT_NE(orphan.out.find("Its parent is named .\\diff-base.vhd."), std::string::npos) << orphan.out;
}

TEST(VhdDifferencingCli, AParentMissingChangedOrTheChildItself)
{
    struct Case {
        const char* what;
        std::function<std::vector<std::string>(const test::TempDir&, const std::filesystem::path& child)> setUp;
        int exitCode;
        std::string inErr; // a piece of what stderr must say
    };
    const std::vector<Case> cases = {
        {"no parent beside it", [](auto&, auto&) { return std::vector<std::string>{}; }, 1,
         "The parent image \".\\diff-base.vhd\" of diff-child.vhd was not found."},
        {"a parent whose unique id changed",
         [](const test::TempDir& dir, auto&) {
             auto parent = test::fixtureCopy("diff-base.vhd", dir);
             const auto size = std::filesystem::file_size(parent);
             for (std::uint64_t footer : {std::uint64_t{0}, size - 512})
                 test::patchFile(parent, footer + 0x44, {0xDE, 0xAD});
             return std::vector<std::string>{};
         },
         0, "The parent diff-base.vhd is not the image this one was made from (its identifier differs)"},
        {"the child under its parent's name",
         [](const test::TempDir& dir, const std::filesystem::path& child) {
             std::filesystem::rename(child, dir / "diff-base.vhd");
             return std::vector<std::string>{};
         },
         1, "The chain of images loops back to diff-base.vhd."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        auto child = test::fixtureCopy("diff-child.vhd", dir);
        auto extra = c.setUp(dir, child);
        if (!std::filesystem::exists(child))
            child = dir / "diff-base.vhd";
        std::vector<std::string> args = {"cat", child.string(), "--volume", "0", "--path", "NOTES.TXT"};
        args.insert(args.end(), extra.begin(), extra.end());
        auto r = runQsalvage(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.inErr), std::string::npos) << r.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(r.out, kChildNotes);
        }
    }
}

} // namespace
} // namespace qis
