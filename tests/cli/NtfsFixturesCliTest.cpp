// qsalvage list and save on NTFS volumes made by mkntfs and filled through
// ntfs-3g, against the listing Sleuth Kit gave of them
// (tests/data/ntfs-*.manifest.txt): every file and folder is listed, every
// live file and every intact deleted one comes back byte for byte, with its
// modification time.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace qis {
namespace {

struct ManifestLine {
    std::string kind, state, sha, intact, mtime, properties, path;
};

std::vector<ManifestLine> readManifest(const std::string& name)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/" + name);
    std::vector<ManifestLine> lines;
    for (std::string l; std::getline(in, l);) {
        if (l.empty() || l[0] == '#')
            continue;
        std::vector<std::string> f;
        std::istringstream s(l);
        for (std::string x; std::getline(s, x, '\t');)
            f.push_back(x);
        if (f.size() < 11)
            continue;
        // Recycle-bin data files are shown under the names their $I files recorded.
        std::string path = f[10];
        for (auto [stored, restored] : {std::pair{"$RAB12CD.docx", "report.docx"}, {"$RXY98ZW.txt", "old notes.txt"}})
            if (auto at = path.rfind(stored); at != std::string::npos && at + std::strlen(stored) == path.size())
                path = path.substr(0, at) + restored;
        lines.push_back({f[0], f[1], f[5], f[7], f[8], f[9], path});
    }
    return lines;
}

class NtfsFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(NtfsFixture, ListShowsEveryEntrySleuthKitShows)
{
    std::string name = GetParam();
    auto r = test::runQsalvage({"list", test::fixture(name + ".vhdx").string(), "--volume", "0", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> listed;
    std::regex path(R"re("path": "((?:[^"\\]|\\.)*)", "type": "(dir|file)", "deleted": (true|false))re");
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), path); it != std::sregex_iterator(); ++it)
        listed.insert((*it)[1].str() + "|" + (*it)[2].str() + "|" + (*it)[3].str());
    for (const auto& m : readManifest(name + ".manifest.txt")) {
        if (m.kind == "stream")
            continue;
        std::string key = m.path + "|" + m.kind + "|" + (m.state == "deleted" ? "true" : "false");
        EXPECT_TRUE(listed.count(key)) << key;
    }
}

TEST_P(NtfsFixture, SaveWritesLiveAndIntactDeletedFilesByteForByte)
{
    std::string name = GetParam();
    test::TempDir dir;
    auto out = dir / "out";
    auto r = test::runQsalvage({"save", test::fixture(name + ".vhdx").string(), "--volume", "0", "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    int checked = 0;
    for (const auto& m : readManifest(name + ".manifest.txt")) {
        if (m.kind != "file" || m.intact != "yes")
            continue;
        auto file = out / m.path;
        ASSERT_TRUE(std::filesystem::exists(file)) << m.path;
        EXPECT_EQ(test::fileSha256(file), m.sha) << m.path << " (" << m.properties << ")";
        if (m.state == "live") {
            EXPECT_EQ(test::fileMtimeIso(file), m.mtime) << m.path;
        }
        ++checked;
    }
    EXPECT_GT(checked, 5);
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsFixture, ::testing::Values("ntfs-features", "ntfs-512"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (c == '-')
                                     c = '_';
                             return n;
                         });

} // namespace
} // namespace qis
