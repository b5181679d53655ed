// qsalvage search on the sample disk's NTFS volume.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <regex>

namespace qis {
namespace {

std::vector<std::string> foundPaths(const std::string& out)
{
    std::vector<std::string> paths;
    std::regex path(R"re("path": "((?:[^"\\]|\\.)*)")re");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), path); it != std::sregex_iterator(); ++it)
        paths.push_back((*it)[1]);
    return paths;
}

struct SearchCase {
    const char* pattern;
    std::vector<std::string> expected;
};

TEST(SearchCli, PatternsMatchNamesAnywhereInAnyCase)
{
    const SearchCase cases[] = {
        // Alternatives; folders are never listed; deleted files are.
        {"jpg|md", {"Photos/holiday.jpg", "Photos/deleted-photo.jpg", "readme.md"}},
        {"^R", {"Documents/report.txt", "readme.md", "data/random.bin"}},
        {"TXT$",
         {"Documents/report.txt", "Documents/deleted-letter.txt", "Documents/notes/todo.txt",
          "Ünïcødé résumé – long file name.txt", "empty.txt"}},
        {"résumé", {"Ünïcødé résumé – long file name.txt"}},
        {"no such name", {}},
        {"", {}},
    };
    auto image = test::fixture("sample.vhdx").string();
    for (const auto& c : cases) {
        auto r = test::runQsalvage({"search", image, "--gpt", "--volume", "0", c.pattern, "--json"});
        ASSERT_EQ(r.exitCode, 0) << c.pattern << r.err;
        EXPECT_EQ(foundPaths(r.out), c.expected) << c.pattern;
        EXPECT_NE(r.err.find("Searching Finished"), std::string::npos) << c.pattern;
        if (!c.expected.empty()) {
            EXPECT_NE(r.err.find("searched file " + std::to_string(c.expected.size())), std::string::npos) << r.err;
        }
    }
}

TEST(SearchCli, AnInvalidPatternIsRefused)
{
    auto r = test::runQsalvage({"search", test::fixture("sample.vhdx").string(), "--gpt", "--volume", "0", "*.jpg"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("the search pattern \"*.jpg\" is not a regular expression"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Searching Finished"), std::string::npos) << r.err;
}

} // namespace
} // namespace qis
