#pragma once

#include "images/ImageFormat.h"
#include "util/Parsed.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qis {

// What a differencing image says of its parent.
struct ParentReference {
    // Paths as the image stores them, in the order to try. A relative one
    // ('\' or '/' separators, ".." allowed) is taken from the child's folder;
    // an absolute one as it is where it exists here, otherwise (a Windows
    // "C:\..." or "\\?\C:\...") by its last component in the child's folder.
    std::vector<std::string> names;
    // For an image that names its parent only by identity: whether a file is
    // the parent. Used when `names` is empty, over the files of the child's
    // folder and of the folder above it, in name order.
    std::function<bool(const std::filesystem::path&)> identifies;
    // How the parent is called in messages when no name is stored.
    std::string description;
};

// Finds and opens the parent of the image `child` was opened from: the
// first of child.parentPaths when the user named it, else by `ref`. The
// parent's format is told by its content, and its own parent is found the
// same way. Loops and chains of more than 64 images are refused. On success
// child.layers holds the whole chain, and a parent of another size or with
// damage of its own is noted in child.damage. On failure the message names
// the parent looked for and the places tried.
Parsed<std::unique_ptr<readWriteInterface>> openParent(const std::filesystem::path& childPath,
                                                       ImageFormat childFormat, readWriteInterface& child,
                                                       const ParentReference& ref);

// Says in child.damage that the parent just opened is not the image the
// child was made over: its `identifier` ("identifier", "UUID", "CID")
// differs from the one the child recorded. It is read all the same: for
// recovery a parent that changed since is better than none.
void noteChangedParent(readWriteInterface& child, std::string_view identifier);

// The places a stored parent name is looked for, in order (see ParentReference::names).
std::vector<std::filesystem::path> parentPlaces(const std::filesystem::path& childFolder, const std::string& name);

} // namespace qis
