#pragma once

#include "images/vhd/VhdStructures.h"
#include "platform/ImageFile.h"
#include "util/Parsed.h"

#include <string>
#include <vector>

namespace qis::vhd {

struct VhdLayout {
    bool fixed = false;          // data at the start, footer at the end
    Footer footer;               // the footer in force
    std::uint64_t tableOffset = kDefaultTableOffset;
    std::uint32_t maxTableEntries = 0;
    std::uint32_t blockSize = kDefaultBlockSize;
    DynamicHeader header; // as read; its parent fields matter to a differencing disk
};

// Finds the footer (start copy first, then the one at the end) and, for a
// dynamic disk, its header. A damaged Block Size or Table Offset falls back
// to the usual 2 MiB blocks and a table right after the header.
Parsed<VhdLayout> readVhdLayout(ImageFile& file);

// Loads Max Table Entries BAT entries (those inside the file), big-endian.
Parsed<std::vector<std::uint64_t>> readVhdBlockTable(ImageFile& file, const VhdLayout& layout);

} // namespace qis::vhd
