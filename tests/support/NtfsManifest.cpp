#include "support/NtfsManifest.h"

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace qis::test {

std::vector<NtfsManifestLine> ntfsManifest(const std::string& name)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/" + name);
    std::vector<NtfsManifestLine> lines;
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

void expectListedAsNtfsManifest(const std::string& listJson, const std::string& manifest)
{
    std::set<std::string> listed;
    std::regex path(R"re("path": "((?:[^"\\]|\\.)*)", "type": "(dir|file)", "deleted": (true|false))re");
    for (auto it = std::sregex_iterator(listJson.begin(), listJson.end(), path); it != std::sregex_iterator(); ++it)
        listed.insert((*it)[1].str() + "|" + (*it)[2].str() + "|" + (*it)[3].str());
    auto lines = ntfsManifest(manifest);
    EXPECT_GE(lines.size(), 5u) << "a manifest that lost its lines";
    for (const auto& m : lines) {
        if (m.kind == "stream")
            continue;
        std::string key = m.path + "|" + m.kind + "|" + (m.state == "deleted" ? "true" : "false");
        EXPECT_TRUE(listed.count(key)) << key;
    }
}

int expectSavedAsNtfsManifest(const std::filesystem::path& out, const std::string& manifest)
{
    int checked = 0;
    for (const auto& m : ntfsManifest(manifest)) {
        if (m.kind != "file" || m.intact != "yes")
            continue;
        auto file = out / m.path;
        if (!std::filesystem::exists(file)) {
            ADD_FAILURE() << m.path << " was not saved";
            continue;
        }
        EXPECT_EQ(fileSha256(file), m.sha) << m.path << " (" << m.properties << ")";
        if (m.state == "live") {
            EXPECT_EQ(fileMtimeIso(file), m.mtime) << m.path;
        }
        ++checked;
    }
    return checked;
}

} // namespace qis::test
