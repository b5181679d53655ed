#pragma once

#include "filesystems/VolumeParser.h"

#include <cstdint>
#include <string>

namespace qis {

// The child item that gives a folder whose children are not in the tree yet
// its expand button.
inline const std::u16string placeholderItem = u"..DUMY..";

// The tree control as the core sees it: the GUI shows items, the CLI
// prints them, tests record them.
class TreeSink {
public:
    using ItemId = std::uint64_t;
    virtual ~TreeSink() = default;
    virtual ItemId addItem(ItemId parent, EntryHandle entry, const std::u16string& text, bool folder, bool red) = 0;
    virtual void addPlaceholder(ItemId parent) = 0;
};

// The volume's top level under `root`, deleted entries red, and a
// placeholder under every folder that has children: the tree fills lazily.
void fillTopLevelTree(const VolumeParser& parser, TreeSink& sink, TreeSink::ItemId root);

// A folder's children under its item, each folder with children getting a
// placeholder. Expanding by the button shows every child in the normal
// colour; populating by a click on the label colours deleted ones red.
enum class Population { Expand, Click };
void fillFolderItem(const VolumeParser& parser, TreeSink& sink, TreeSink::ItemId item, EntryHandle folder,
                    Population how);

} // namespace qis
