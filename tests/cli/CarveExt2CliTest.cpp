// qsalvage carve on ext2 volumes made at test time by
// tests/fixtures/make-carve-ext2.sh: every file there is longer than twelve
// blocks, so an indirect block (with 1 KiB blocks also a double-indirect
// one) interrupts its data, and one file goes on in another place. Carved
// from the volume (the superblock gives the block size) or from the whole
// disk (the layout is worked out from the pointers), each comes back whole.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace qis {
namespace {

TEST(CarveExt2, FilesInterruptedByIndirectBlocksComeBackWhole)
{
    test::TempDir dir;
    const auto made = test::runCommand(
        "bash " + test::shellQuote(std::string(QIS_TEST_DATA_DIR) + "/../fixtures/make-carve-ext2.sh") + " " +
        test::shellQuote(dir.path().string()) + " " + test::shellQuote(test::fixture("carve.img").string()));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    std::set<std::string> originals;
    for (const auto& e : std::filesystem::directory_iterator(dir / "files"))
        originals.insert(test::fileSha256(e.path()));
    ASSERT_EQ(originals.size(), 9u);

    const struct {
        const char* what;
        const char* image;
        std::vector<std::string> where;
        std::size_t copies; // of every file
    } kCases[] = {
        {"1 KiB blocks, by the volume", "ext2-1k.img", {"--volume", "0"}, 1},
        {"4 KiB blocks, by the volume", "ext2-4k.img", {"--volume", "0"}, 1},
        {"both volumes of an MBR disk, by the whole disk", "disk.img", {"--disk"}, 2},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const auto out = dir / (std::string(c.image) + ".out");
        std::vector<std::string> args = {"carve", (dir / c.image).string()};
        args.insert(args.end(), c.where.begin(), c.where.end());
        args.insert(args.end(), {"--output", out.string(), "--json"});
        const auto r = test::runQsalvage(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::multiset<std::string> carved;
        for (const auto& e : std::filesystem::recursive_directory_iterator(out))
            if (e.is_regular_file())
                carved.insert(test::fileSha256(e.path()));
        for (const std::string& sha : originals)
            EXPECT_EQ(carved.count(sha), c.copies) << "a file of " << c.image << " with SHA-256 " << sha;
        // Each file shows where its pieces lie.
        const std::regex pieces("\"pieces\": \\[\\{\"offset\": [0-9]+, \"length\": [0-9]+\\}, \\{");
        const auto shown =
            std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), pieces), std::sregex_iterator());
        EXPECT_GE(static_cast<std::size_t>(shown), originals.size() * c.copies) << r.out;
    }
}

} // namespace
} // namespace qis
