#include "support/SampleManifest.h"

#include <fstream>
#include <sstream>

namespace qis::test {

std::vector<SampleEntry> sampleManifest(int partition)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/sample-manifest.txt");
    std::vector<SampleEntry> entries;
    int current = 0;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');)
            f.push_back(x);
        if (f.empty() || f[0].empty() || f[0][0] == '#')
            continue;
        if (f[0] == "volume")
            current = std::stoi(f[1]);
        else if (current != partition)
            continue;
        else if (f[0] == "dir" && f.size() == 3)
            entries.push_back({"dir", f[2], 0, "", f[1]});
        else if (f[0] == "file" && f.size() == 5)
            entries.push_back({"file", f[4], std::stoull(f[1]), f[2], f[3]});
        else if (f[0] == "deleted" && f.size() == 4)
            entries.push_back({"deleted", f[3], std::stoull(f[1]), f[2], ""});
    }
    return entries;
}

} // namespace qis::test
