// Stop during a search ends the walk of one top-level folder; the search
// goes on with the next. On the sample disk's NTFS volume.

#include "filesystems/ntfs/NtfsVolumeParser.h"
#include "images/vhdx/FileReadSeekVHDX.h"
#include "recovery/NameSearch.h"
#include "support/Fixtures.h"
#include "support/StopAtStatus.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

using test::StopAtStatus;

TEST(NameSearch, StopSkipsTheRestOfOneTopLevelFolder)
{
    FileReadSeekVHDX reader;
    ASSERT_TRUE(reader.open(test::fixture("sample.vhdx")));
    ntfs parser(reader);
    parser.volumeStartSector = 2048;
    NullReporter quiet;
    PauseGate gate;
    JobContext scan(quiet, gate);
    parser.runScan(scan);
    NtfsVolumeParser view(parser);

    StopAtStatus page(parser.stopRequested, "searched file 1");
    JobContext job(page, gate);
    NameSearch search(view, parser.stopRequested);
    std::vector<std::string> found;
    auto matcher = NameSearch::compile("txt");
    ASSERT_TRUE(matcher);
    search.run(*matcher, job, [&](const NameSearch::Hit& h) { found.push_back(h.path); });
    // Documents/deleted-letter.txt and notes/todo.txt come after the stop.
    EXPECT_EQ(found, (std::vector<std::string>{"Documents/report.txt", "Ünïcødé résumé – long file name.txt",
                                               "empty.txt"}));
    EXPECT_FALSE(parser.stopRequested.load());
}

TEST(NameSearch, NamesTheMatcherCannotTakeAreNoMatch)
{
    auto matcher = NameSearch::compile("(a|b)*c");
    ASSERT_TRUE(matcher);
    EXPECT_TRUE(NameSearch::matches(*matcher, u"abac"));
    EXPECT_FALSE(NameSearch::matches(*matcher, std::u16string(5000, u'a'))); // long and damaged, no crash
    EXPECT_FALSE(NameSearch::compile("*.jpg"));
    EXPECT_FALSE(NameSearch::compile("(unclosed"));
}

} // namespace
} // namespace qis
