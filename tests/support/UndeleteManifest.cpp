#include "support/UndeleteManifest.h"

#include "support/Fixtures.h"
#include "support/TabFields.h"

#include <fstream>

namespace qis::test {

std::vector<UndeleteManifestLine> undeleteManifest(const std::string& name)
{
    std::vector<UndeleteManifestLine> lines;
    std::ifstream in(std::filesystem::path(QIS_TEST_DATA_DIR) / name);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        auto f = tabFields(line);
        if (f.size() != 7)
            continue;
        lines.push_back({f[0], f[1] == "deleted", std::stoull(f[3]), f[4], f[5], f[6]});
    }
    return lines;
}

} // namespace qis::test
