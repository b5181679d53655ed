#pragma once

#include "filesystems/VolumeParser.h"

#include <functional>
#include <string>
#include <vector>

namespace qis {

// Visits every entry reachable from the top of the tree, depth first in
// chain order. Each entry is visited once, however its links loop, and no
// deeper than a bound, so a damaged volume cannot make the walk endless.
// The path holds the names from the top down to the entry.
void walkTree(const VolumeParser& parser,
              const std::function<void(EntryHandle, const std::vector<std::u16string>& path)>& visit);

// The same walk without names: the depth of each entry (0 at the top).
void walkTreeEntries(const VolumeParser& parser, const std::function<void(EntryHandle, std::size_t depth)>& visit);

inline constexpr std::size_t kMaxTreeDepth = 512;

} // namespace qis
