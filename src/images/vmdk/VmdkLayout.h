#pragma once

#include "images/vmdk/VmdkStructures.h"
#include "platform/ImageFile.h"
#include "util/Parsed.h"

#include <optional>

namespace qis::vmdk {

struct VmdkLayout {
    SparseExtentHeader header;
    std::optional<Descriptor> descriptor; // when the extent embeds one
    std::vector<std::uint32_t> grainDirectory;
    std::uint64_t sectorsPerDirectoryEntry = 0;
    std::uint64_t diskSectors = 0; // the extents' sizes, else the capacity
    bool compressed = false;       // grains are deflated, each behind a marker
};

// Reads the sparse extent header, the embedded descriptor and the grain
// directory (the redundant one when the header says it is kept, else the
// primary one; found through the footer when the extent was streamed).
Parsed<VmdkLayout> readVmdkLayout(ImageFile& file);

// Reads only the header and the embedded descriptor, for the information shown.
std::optional<Descriptor> readVmdkDescriptor(ImageFile& file, SparseExtentHeader& header);

} // namespace qis::vmdk
