#include "support/FatManifest.h"

#include "support/TabFields.h"

#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace qis::test {
bool FatManifestEntry::has(const std::string& property) const
{
    std::istringstream in(properties);
    for (std::string p; std::getline(in, p, ',');)
        if (p == property || p.rfind(property + "=", 0) == 0)
            return true;
    return false;
}

std::uint64_t FatManifestEntry::clusters() const
{
    auto at = properties.find("clusters=");
    return at == std::string::npos ? 0 : std::stoull(properties.substr(at + 9));
}

FatManifest fatManifest(const std::string& name)
{
    std::ifstream in(std::string(QIS_TEST_DATA_DIR) + "/" + name);
    if (!in)
        throw std::runtime_error("no manifest " + name);
    FatManifest m;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        auto f = tabFields(line);
        if (f[0] == "volume" && f.size() >= 5) {
            m.fileSystem = f[2];
            m.startSector = std::stoull(f[4]);
        } else if (f[0] == "label" && f.size() >= 2) {
            m.label = f[1];
        } else if (f[0] == "layout") {
            for (const auto& part : f)
                if (part.rfind("cluster=", 0) == 0)
                    m.clusterBytes = std::stoull(part.substr(8));
        } else if ((f[0] == "file" || f[0] == "dir") && f.size() >= 11) {
            FatManifestEntry e;
            e.kind = f[0];
            e.deleted = f[1] == "deleted";
            e.path = f[2];
            e.size = std::stoull(f[3]);
            e.sha256 = f[4];
            e.source = f[5];
            e.intact = f[6] == "yes";
            e.contiguous = f[7] == "yes";
            e.mtime = f[8];
            e.attributes = f[9];
            e.properties = f[10];
            m.entries.push_back(e);
        }
    }
    return m;
}

std::string shownPath(const FatManifest& manifest, const std::string& path)
{
    std::set<std::string> marked;
    for (const auto& e : manifest.entries)
        if (e.deleted && e.has("short-only"))
            marked.insert(e.path);
    std::string shown, prefix;
    std::istringstream in(path);
    for (std::string part; std::getline(in, part, '/');) {
        prefix += (prefix.empty() ? "" : "/") + part;
        if (marked.count(prefix) && !part.empty() && part[0] == '_')
            part = "\u00E5" + part.substr(1);
        shown += (shown.empty() ? "" : "/") + part;
    }
    return shown;
}

} // namespace qis::test
