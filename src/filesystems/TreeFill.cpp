#include "filesystems/TreeFill.h"

#include <unordered_set>

namespace qis {
namespace {

void addEntry(const VolumeParser& parser, TreeSink& sink, TreeSink::ItemId parent, EntryHandle e, bool red)
{
    bool folder = parser.isFolder(e);
    TreeSink::ItemId item = sink.addItem(parent, e, parser.name(e), folder, red);
    if (folder && parser.firstChild(e) != kNoEntry)
        sink.addPlaceholder(item);
}

} // namespace

void fillTopLevelTree(const VolumeParser& parser, TreeSink& sink, TreeSink::ItemId root)
{
    for (EntryHandle e : parser.topLevel())
        addEntry(parser, sink, root, e, parser.isDeleted(e));
}

void fillFolderItem(const VolumeParser& parser, TreeSink& sink, TreeSink::ItemId item, EntryHandle folder,
                    Population how)
{
    std::unordered_set<EntryHandle> seen;
    for (EntryHandle c = parser.firstChild(folder); c != kNoEntry && seen.insert(c).second; c = parser.nextSibling(c))
        addEntry(parser, sink, item, c, how == Population::Click && parser.isDeleted(c));
}

} // namespace qis
