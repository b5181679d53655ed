#pragma once

#include "filesystems/VolumeParser.h"

#include <optional>
#include <span>
#include <string>

namespace qis {

// The full path a file had before it went to the recycle bin, from its $I
// file: version 1 keeps it at byte 24 (260 units), version 2 (Windows 10
// and later) keeps its length at 24 and the path from 28.
std::optional<std::u16string> recycledOriginalPath(std::span<const std::uint8_t> info);

// Gives each $R file in the volume's recycle bins ("$RECYCLE.BIN",
// "$RECYCLEBIN" at the top of the tree) the name its $I file recorded.
// Returns how many were renamed.
std::size_t restoreRecycleBinNames(VolumeParser& parser);

} // namespace qis
