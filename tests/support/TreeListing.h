#pragma once

#include "filesystems/VolumeParser.h"

#include <string>
#include <vector>

namespace qis::test {

// Every entry of a parsed volume as "path", folders as "path/", deleted
// ones with " (deleted)" after, in tree order.
std::vector<std::string> treeListing(const VolumeParser& parser);

// The entry at a path as treeListing prints it (without the marks), or kNoEntry.
EntryHandle findTreeEntry(const VolumeParser& parser, const std::string& path);

// What saving the entry at a path writes; *complete says whether it all could be read.
std::vector<std::uint8_t> savedContents(VolumeParser& parser, const std::string& path, bool* complete = nullptr);

} // namespace qis::test
