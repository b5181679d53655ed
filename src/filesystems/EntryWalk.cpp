#include "filesystems/EntryWalk.h"

#include <unordered_set>

namespace qis {
namespace {

struct Walk {
    const VolumeParser& parser;
    const std::function<void(EntryHandle, std::size_t)>& visit;
    std::unordered_set<EntryHandle> seen;

    void entry(EntryHandle e, std::size_t depth)
    {
        if (!seen.insert(e).second)
            return;
        visit(e, depth);
        if (!parser.isFolder(e) || depth + 1 >= kMaxTreeDepth)
            return;
        // An entry met before (a file that two folders hold) is passed over,
        // not the end of the list. A list that comes back on itself ends
        // once the loop is found: Brent's method, which needs no memory.
        EntryHandle mark = kNoEntry;
        std::size_t power = 1, length = 0;
        for (EntryHandle c = parser.firstChild(e); c != kNoEntry; c = parser.nextSibling(c)) {
            if (c == mark)
                break;
            entry(c, depth + 1);
            if (++length == power) {
                mark = c;
                power *= 2;
                length = 0;
            }
        }
    }
};

} // namespace

void walkTreeEntries(const VolumeParser& parser, const std::function<void(EntryHandle, std::size_t depth)>& visit)
{
    Walk walk{parser, visit, {}};
    for (EntryHandle top : parser.topLevel())
        walk.entry(top, 0);
}

void walkTree(const VolumeParser& parser,
              const std::function<void(EntryHandle, const std::vector<std::u16string>& path)>& visit)
{
    std::vector<std::u16string> path;
    walkTreeEntries(parser, [&](EntryHandle e, std::size_t depth) {
        path.resize(depth);
        path.push_back(parser.name(e));
        visit(e, path);
    });
}

} // namespace qis
