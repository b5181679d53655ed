// Files that are no image, or no file at all, given where an image belongs:
// every verb names the file and the reason, and nothing waits on a FIFO.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace qis {
namespace {

// qsalvage under a time limit: a verb blocked in open is killed (exit 124),
// so a hang fails the test instead of stalling the run.
test::CommandResult runLimited(const std::vector<std::string>& words)
{
    std::string line = "timeout 30 " + test::shellQuote(QIS_CLI_PATH);
    for (const auto& w : words)
        line += " " + test::shellQuote(w);
    return test::runCommand(line);
}

TEST(ImageOpeningCli, EveryVerbNamesTheFileAndWhyItCannotBeOpened)
{
    test::TempDir dir;
    const auto fifo = dir / "pipe.vhdx";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto missing = dir / "missing.vhdx";
    struct Input {
        std::filesystem::path path;
        const char* reason;
    };
    const Input inputs[] = {{fifo, "it is a FIFO (named pipe), not a regular file or a block device"},
                            {missing, "No such file or directory"},
                            {dir.path(), "it is a folder"}};
    const std::vector<std::vector<std::string>> verbs = {
        {"info"}, {"volumes"}, {"list", "--volume", "0"}, {"export", "--output", (dir / "out.img").string()}};
    for (const Input& input : inputs) {
        for (auto words : verbs) {
            words.insert(words.begin() + 1, input.path.string());
            SCOPED_TRACE(words[0] + " " + input.path.string());
            auto r = runLimited(words);
            EXPECT_EQ(r.exitCode, 1) << r.err;
            EXPECT_NE(r.err.find("cannot open " + input.path.string() + ": " + input.reason), std::string::npos)
                << r.err;
        }
    }
}

TEST(ImageOpeningCli, ABadSearchPatternIsAUsageErrorBeforeAnyScan)
{
    // The image is missing on purpose: the pattern is checked before the image is opened.
    for (const std::string pattern : {"*.jpg", "(unclosed", "[z-a]"}) {
        auto r = test::runQsalvage({"search", "/nonexistent/disk.vhdx", "--volume", "0", pattern});
        EXPECT_EQ(r.exitCode, 2) << pattern << "\n" << r.err;
        EXPECT_NE(r.err.find("search pattern \"" + pattern + "\" is not a regular expression: "), std::string::npos)
            << r.err;
    }
    auto fine = test::runQsalvage({"search", test::fixture("sample.vhdx").string(), "--gpt", "--volume", "1", "readme"});
    EXPECT_EQ(fine.exitCode, 0) << fine.err;
    EXPECT_NE(fine.out.find("readme.md"), std::string::npos) << fine.out;
}

} // namespace
} // namespace qis
