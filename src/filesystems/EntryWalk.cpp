#include "filesystems/EntryWalk.h"

#include <unordered_set>

namespace qis {
namespace {

struct Walk {
    const VolumeParser& parser;
    const std::function<void(EntryHandle, const std::vector<std::u16string>&)>& visit;
    std::unordered_set<EntryHandle> seen;
    std::vector<std::u16string> path;

    void entry(EntryHandle e)
    {
        if (!seen.insert(e).second)
            return;
        path.push_back(parser.name(e));
        visit(e, path);
        if (parser.isFolder(e) && path.size() < kMaxTreeDepth)
            for (EntryHandle c = parser.firstChild(e); c != kNoEntry && !seen.count(c); c = parser.nextSibling(c))
                entry(c);
        path.pop_back();
    }
};

} // namespace

void walkTree(const VolumeParser& parser,
              const std::function<void(EntryHandle, const std::vector<std::u16string>& path)>& visit)
{
    Walk walk{parser, visit, {}, {}};
    for (EntryHandle top : parser.topLevel())
        walk.entry(top);
}

} // namespace qis
