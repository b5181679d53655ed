#pragma once

#include "images/vhdx/VhdxLog.h"
#include "images/vhdx/VhdxStructures.h"
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
    // The current header's DataWriteGuid: what a child's parent_linkage names.
    Guid dataWriteGuid{};
    // The parent locator item of a differencing image; empty names when the
    // item is missing or damaged.
    ParentLocator parentLocator;
    // File positions of the structures found (0 when missing), for the
    // information shown and for tests that damage them on purpose.
    std::uint64_t regionTableAt = 0;
    std::uint64_t metadataAt = 0;
    std::uint64_t fileParametersAt = 0;
    std::uint64_t virtualDiskSizeAt = 0;
    std::uint64_t logicalSectorSizeAt = 0;
    std::uint64_t parentLocatorAt = 0;
    // Neither header has its signature and checksum: the version is a guess,
    // though the region table still locates the data.
    bool headersDamaged = false;
    // The log's replay: the structures above and the payload blocks are
    // read through its overlay when it has one.
    LogReplay log;

    [[nodiscard]] bool hasParent() const { return (fileParameterFlags & 2u) != 0; }
};

inline constexpr char kVhdxHeadersDamaged[] =
    "Both VHDX headers are damaged (signature or checksum); the disk is read through its region table.";

// What the user is told of the log: that it was replayed, with how many
// entries, or why it was ignored. Empty when the log was clean.
std::string logReplayedMessage(const LogReplay& log);
std::string logIgnoredMessage(const LogReplay& log);

// Reads the structures that locate the data, after replaying the log in memory. Damage that leaves the disk
// unreadable (no usable region table, block size or sector size) is a
// failure with a message; everything else is taken as found.
Parsed<VhdxLayout> readVhdxLayout(ImageFile& file);

// A block-table value for a block the table says is in the file but whose
// entry cannot say where (an undefined state, a zero or impossible offset).
inline constexpr std::uint64_t kUnreadableBlock = ~std::uint64_t{0};

struct VhdxBlockTable {
    // For each virtual block, its file position in 512-byte units, 0 when
    // the block is not in the file (it reads as zeros), kUnreadableBlock when
    // its entry is damaged. Sector-bitmap entries are dropped.
    std::vector<std::uint64_t> blocks;
    // Differencing images only, one flag per block: the block reads as zeros
    // (its parent is not asked), or only the sectors its chunk's sector
    // bitmap marks are in this file. Empty otherwise.
    std::vector<bool> zeroBlocks;
    std::vector<bool> partialBlocks;
    // Differencing images only, per chunk: the file offset of its sector
    // bitmap block, 0 when it has none.
    std::vector<std::uint64_t> sectorBitmaps;
    std::uint64_t missingBitmaps = 0;  // partially present blocks without a sector bitmap
    std::uint64_t undefinedStates = 0; // entries whose state the format does not define
    std::uint64_t missingOffsets = 0;  // present blocks at offset 0 or beyond any file
    // Bytes of the virtual disk in the damaged blocks.
    std::uint64_t unreadableBytes = 0;
    // One sentence per kind of damage found, for the user.
    std::vector<std::string> damage;
};

// Reads the block table. Fails when it would not fit in memory. In a
// differencing image the states that leave a block to the parent (not
// present, undefined, unmapped) map to 0 like an unallocated block.
Parsed<VhdxBlockTable> readVhdxBlockTable(ImageFile& file, const VhdxLayout& layout);

} // namespace qis::vhdx
