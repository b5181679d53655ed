#include "support/ListingJson.h"

#include <regex>
#include <sstream>

namespace qis::test {

std::map<std::string, Listed> parseJsonListing(const std::string& out)
{
    std::map<std::string, Listed> entries;
    std::regex line(R"re(\{"path": "((?:[^"\\]|\\.)*)", "type": "(dir|file)", "deleted": (true|false), "size": (\d+), "ctime": [^,]*, "atime": [^,]*, "mtime": (null|"[^"]*"), "attributes": "([^"]*)"(?:, "recoverability": "([^"]*)")?\})re");
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) {
        std::smatch m;
        if (!std::regex_search(l, m, line))
            continue;
        Listed e{m[2], m[3] == "true", std::stoull(m[4]), m[5] == "null" ? "" : std::string(m[5]).substr(1, 20), m[6],
                 m[7]};
        entries[m[1]] = e;
    }
    return entries;
}

} // namespace qis::test
