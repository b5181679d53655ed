#include "cli/EntryLookup.h"

#include "cli/ListedName.h"

namespace qis::cli {

std::optional<EntryHandle> findTreePath(const VolumeParser& parser, const std::string& path)
{
    std::vector<std::string> parts = listedPathParts(path);
    if (parts.empty())
        return kNoEntry;
    std::vector<EntryHandle> level = parser.topLevel();
    EntryHandle found = kNoEntry;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        found = kNoEntry;
        for (EntryHandle e : level)
            if (parser.nameUtf8(e) == parts[i]) {
                found = e;
                break;
            }
        if (found == kNoEntry)
            return std::nullopt;
        level.clear();
        std::size_t guard = 0;
        for (EntryHandle c = parser.firstChild(found); c != kNoEntry && guard++ < 10'000'000; c = parser.nextSibling(c))
            level.push_back(c);
    }
    return found;
}

} // namespace qis::cli
