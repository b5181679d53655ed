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
        if (parser.isFolder(e) && path.size() < kMaxTreeDepth) {
            // An entry met before (a file that two folders hold) is passed
            // over, not the end of the list; a list that comes back on
            // itself ends.
            std::unordered_set<EntryHandle> inThisList;
            for (EntryHandle c = parser.firstChild(e); c != kNoEntry && inThisList.insert(c).second;
                 c = parser.nextSibling(c))
                entry(c);
        }
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
