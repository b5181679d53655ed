// list, search and carve keep only what their filters ask for: deleted or
// live entries, extensions, sizes and modification times, on the sample
// disk's NTFS volume (mkntfs, ntfs-3g) and the carving disk.

#include "support/Fixtures.h"
#include "support/ListingJson.h"

#include <gtest/gtest.h>

#include <set>

namespace qis {
namespace {

std::set<std::string> pathsListed(const std::vector<std::string>& filter, const char* verb = "list")
{
    std::vector<std::string> words = {verb, test::fixture("sample.vhdx").string(), "--volume", "0"};
    if (std::string(verb) == "search")
        words.push_back(".");
    words.insert(words.end(), filter.begin(), filter.end());
    words.push_back("--json");
    auto r = test::runQsalvage(words);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> paths;
    for (const auto& [path, entry] : test::parseJsonListing(r.out))
        paths.insert(path);
    return paths;
}

TEST(FilterCli, ListAndSearchKeepWhatTheFiltersAsk)
{
    using Paths = std::set<std::string>;
    const Paths deleted = {"Documents/deleted-letter.txt", "Photos/deleted-photo.jpg"};
    const struct {
        std::vector<std::string> filter;
        Paths kept;
    } cases[] = {
        {{"--deleted"}, deleted},
        {{"--ext", "JPG,.txt", "--deleted"}, deleted},
        {{"--live", "--ext", "jpg"}, {"Photos/holiday.jpg"}},
        {{"--ext", "jpg", "--min-size", "2400"}, {"Photos/holiday.jpg"}},
        {{"--ext", "jpg", "--max-size", "2K"}, {}},
        {{"--ext", "jpg", "--max-size=3K", "--min-size", "2189"}, {"Photos/holiday.jpg", "Photos/deleted-photo.jpg"}},
        {{"--modified-before", "2024-01-01"}, {"Documents/report.txt"}},
        // At or after the one, before the other: the second a file was written is in.
        {{"--ext", "md,jpg", "--modified-after", "2024-03-15T10:30:00Z", "--modified-before", "@1710498601"},
         {"Photos/holiday.jpg", "readme.md"}},
    };
    for (const auto& c : cases) {
        std::string named;
        for (const auto& w : c.filter)
            named += w + " ";
        EXPECT_EQ(pathsListed(c.filter), c.kept) << named;
        EXPECT_EQ(pathsListed(c.filter, "search"), c.kept) << "search " << named;
    }
    // Without a filter, folders and files are all there.
    EXPECT_GT(pathsListed({}).size(), 20u);
}

// save makes only the folders that hold a file it keeps.
TEST(FilterCli, SaveWritesOnlyTheFilesKept)
{
    test::TempDir dir;
    const auto out = dir / "out";
    auto r = test::runQsalvage({"save", test::fixture("sample.vhdx").string(), "--volume", "0", "--deleted", "--ext",
                                "jpg,txt", "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> written;
    for (const auto& f : std::filesystem::recursive_directory_iterator(out))
        written.insert(std::filesystem::relative(f.path(), out).string());
    EXPECT_EQ(written, (std::set<std::string>{"Documents", "Documents/deleted-letter.txt", "Photos",
                                              "Photos/deleted-photo.jpg"}));
}

TEST(FilterCli, AValueThatDoesNotParseIsAUsageErrorBeforeTheScan)
{
    for (std::vector<std::string> bad : {std::vector<std::string>{"--min-size", "10Q"},
                                         {"--max-size", "-1"},
                                         {"--modified-after", "2024-13-01"},
                                         {"--modified-before", "yesterday"},
                                         {"--ext", ","},
                                         {"--deleted", "--live"}}) {
        std::vector<std::string> words = {"list", "/nonexistent/disk.vhdx", "--volume", "0"};
        words.insert(words.end(), bad.begin(), bad.end());
        auto r = test::runQsalvage(words);
        EXPECT_EQ(r.exitCode, 2) << bad[0] << "\n" << r.err;
        EXPECT_EQ(r.err.find("cannot open"), std::string::npos) << r.err;
    }
    // A carved file has no time or deleted state to filter by.
    auto carve = test::runQsalvage({"carve", "/nonexistent/disk.img", "--disk", "--deleted", "--output", "/tmp"});
    EXPECT_EQ(carve.exitCode, 2) << carve.err;
}

TEST(FilterCli, CarveSavesOnlyTheKindsAndSizesAsked)
{
    test::TempDir dir;
    const std::string image = test::fixture("carve.img").string();
    auto all = test::runQsalvage({"carve", image, "--disk", "--output", (dir / "all").string()});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    auto some = test::runQsalvage({"carve", image, "--disk", "--ext", "JPG", "--min-size", "1", "--output",
                                   (dir / "some").string()});
    ASSERT_EQ(some.exitCode, 0) << some.err;
    std::size_t jpgs = 0, others = 0;
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir / "all"))
        if (f.is_regular_file())
            (f.path().extension() == ".jpg" ? jpgs : others) += 1;
    std::size_t kept = 0;
    for (const auto& f : std::filesystem::recursive_directory_iterator(dir / "some"))
        if (f.is_regular_file()) {
            EXPECT_EQ(f.path().extension(), ".jpg") << f.path();
            ++kept;
        }
    ASSERT_GT(jpgs, 0u);
    ASSERT_GT(others, 0u);
    EXPECT_EQ(kept, jpgs);
    EXPECT_NE(some.out.find("Files saved of the kinds and sizes asked for: " + std::to_string(jpgs) + " (of "),
              std::string::npos)
        << some.out;
}

} // namespace
} // namespace qis
