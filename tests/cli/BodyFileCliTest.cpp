// list --bodyfile on each volume of the sample disk against the body file
// Sleuth Kit's `fls -r -m /` wrote of it (tests/data/sample-N.body.txt),
// and read back by mactime.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace qis {
namespace {

using Fields = std::vector<std::string>;

// Body lines by name (as the second field says it), files only: folders'
// sizes and the file systems' own entries differ by design.
std::map<std::string, Fields> bodyFiles(std::istream& in)
{
    std::map<std::string, Fields> files;
    for (std::string line; std::getline(in, line);) {
        Fields f;
        std::stringstream fields(line);
        for (std::string part; std::getline(fields, part, '|');)
            f.push_back(part);
        if (f.size() == 11 && f[3].size() > 2 && f[3][2] == 'r')
            files[f[1]] = f;
    }
    return files;
}

struct BodyCase {
    int volume;
    bool posix;        // the file system keeps modes and owners
    bool sameNumbers;  // its entry numbers are the ones fls prints
    // exFAT and FAT keep times in 2-second steps plus 10 ms ones that may
    // add a second; fls leaves that second out.
    int slack;
    std::size_t least; // files both list
};

class BodyFileCli : public ::testing::TestWithParam<BodyCase> {};

TEST_P(BodyFileCli, TimesSizesAndNumbersAreWhatFlsWrote)
{
    const BodyCase c = GetParam();
    auto r = test::runQsalvage(
        {"list", test::fixture("sample.vhdx").string(), "--volume", std::to_string(c.volume), "--bodyfile"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream ours(r.out);
    std::ifstream theirs(std::filesystem::path(QIS_TEST_DATA_DIR) / ("sample-" + std::to_string(c.volume) + ".body.txt"));
    auto mine = bodyFiles(ours), fls = bodyFiles(theirs);
    std::size_t compared = 0;
    for (const auto& [name, f] : fls) {
        auto it = mine.find(name);
        // NTFS's own files ($MFT) are shown as the volume tree shows them.
        if (it == mine.end() || name.rfind("/$", 0) == 0)
            continue;
        const Fields& m = it->second;
        ++compared;
        EXPECT_EQ(m[6], f[6]) << name << " size";
        for (std::size_t i = 7; i < 11; ++i) // atime, mtime, ctime, crtime
            EXPECT_LE(std::abs(std::stoll(m[i]) - std::stoll(f[i])), c.slack) << name << " field " << i << ": " << m[i]
                                                                               << " against " << f[i];
        if (c.sameNumbers)
            EXPECT_EQ(m[2], f[2].substr(0, f[2].find('-'))) << name;
        if (c.posix)
            for (std::size_t i = 3; i < 6; ++i)
                EXPECT_EQ(m[i], f[i]) << name << " field " << i;
    }
    EXPECT_GE(compared, c.least);
}

INSTANTIATE_TEST_SUITE_P(SampleDisk, BodyFileCli,
                         ::testing::Values(BodyCase{0, false, true, 0, 8}, BodyCase{1, false, false, 1, 8},
                                           BodyCase{2, false, false, 1, 8}, BodyCase{3, true, true, 0, 7}),
                         [](const auto& info) { return "volume" + std::to_string(info.param.volume); });

TEST(BodyFileCliTimeline, MactimeReadsItIntoATimeline)
{
    test::TempDir dir;
    auto r = test::runQsalvage({"list", test::fixture("sample.vhdx").string(), "--volume", "3", "--bodyfile"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    test::writeWholeFile(dir / "body", std::vector<std::uint8_t>(r.out.begin(), r.out.end()));
    auto timeline = test::runCommand("mactime -b " + test::shellQuote((dir / "body").string()) + " -z UTC -d");
    ASSERT_EQ(timeline.exitCode, 0) << timeline.err;
    EXPECT_NE(timeline.out.find("Thu Nov 02 2023 08:15:30,162,m...,r/rrw-r--r--,0,0,13,\"/Documents/report.txt\""),
              std::string::npos)
        << timeline.out;
    // The deleted files fls shows only as orphans are there by name.
    EXPECT_NE(timeline.out.find("\"/Documents/deleted-letter.txt (deleted)\""), std::string::npos) << timeline.out;
}

} // namespace
} // namespace qis
