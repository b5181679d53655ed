#pragma once

#include "platform/ImageFile.h"
#include "util/Parsed.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qis::vhdx {

// What the headers, region table and metadata of a VHDX file say.
struct VhdxLayout {
    std::uint16_t version = 0;          // current header's Version
    std::uint32_t blockSize = 0;        // File Parameters BlockSize
    std::uint32_t fileParameterFlags = 0;
    std::uint64_t virtualDiskSize = 0;
    std::uint32_t logicalSectorSize = 0;
    std::uint32_t physicalSectorSize = 0;
    std::uint64_t batOffset = 0;
    std::uint32_t batLength = 0;
    std::uint64_t chunkRatio = 0;
    // File positions of the structures found (0 when missing), for the
    // information shown and for tests that damage them on purpose.
    std::uint64_t regionTableAt = 0;
    std::uint64_t metadataAt = 0;
    std::uint64_t fileParametersAt = 0;
    std::uint64_t virtualDiskSizeAt = 0;
    std::uint64_t logicalSectorSizeAt = 0;

    [[nodiscard]] bool hasParent() const { return (fileParameterFlags & 2u) != 0; }
};

// Reads the structures that locate the data. Damage that leaves the disk
// unreadable (no usable region table, block size or sector size) is a
// failure with a message; everything else is taken as found.
Parsed<VhdxLayout> readVhdxLayout(ImageFile& file);

// The payload-block table: for each virtual block, its file position in
// 512-byte units, 0 when the block is not in the file. Sector-bitmap entries
// are dropped. Fails when the table would not fit in memory.
Parsed<std::vector<std::uint64_t>> readVhdxBlockTable(ImageFile& file, const VhdxLayout& layout);

} // namespace qis::vhdx
