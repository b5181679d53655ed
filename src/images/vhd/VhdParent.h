#pragma once

#include "images/vhd/VhdLayout.h"
#include "platform/ImageFile.h"

#include <string>
#include <vector>

namespace qis::vhd {

// Longest path a parent locator may hold: a Windows path of 32767 UTF-16 units.
inline constexpr std::uint32_t kMaxLocatorBytes = 65534;

// The names a differencing VHD gives its parent, in the order to try them:
// relative paths (W2ru), absolute ones (W2ku), the old 8-bit forms (Wi2r,
// then Wi2k), then the Unicode name in the header; each once. A locator is
// read only where it lies wholly inside the file and is at most
// kMaxLocatorBytes long; one that does not is passed over, as are the Mac
// forms (an alias blob, a file URL) that name no path on this system.
std::vector<std::string> parentNames(ImageFile& file, const VhdLayout& layout);

} // namespace qis::vhd
