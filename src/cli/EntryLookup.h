#pragma once

#include "filesystems/VolumeParser.h"

#include <optional>
#include <string>
#include <vector>

namespace qis::cli {

// The entry at a tree path as `list` prints it ("Documents/notes", names
// escaped as listedName writes them), kNoEntry for the whole volume (an
// empty path), nullopt when there is none.
std::optional<EntryHandle> findTreePath(const VolumeParser& parser, const std::string& path);

} // namespace qis::cli
