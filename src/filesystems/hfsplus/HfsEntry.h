#pragma once

#include "filesystems/hfsplus/HfsStructures.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qis {

// One folder or file record of an HFS+ catalog, kept under its catalog node
// ID. The dates and mode are kept from the record so that listing many
// entries needs no further reads.
struct HfsEntry {
    std::uint16_t type = 0; // 1 folder, 2 file
    std::uint32_t parentId = 0;
    std::uint32_t nodeId = 0;
    std::int64_t firstChild = -1;
    std::int64_t nextSibling = -1;
    std::uint32_t totalBlocks = 0;
    std::u16string name;
    std::uint64_t recordNode = 0;  // byte position of the catalog node holding the record
    std::uint32_t recordOffset = 0;
    std::uint64_t size = 0;
    std::vector<hfsdisk::Extent> extents; // data fork extents with a start block
    std::uint32_t createDate = 0, contentModDate = 0, attributeModDate = 0, accessDate = 0;
    std::uint32_t ownerId = 0, groupId = 0;
    std::uint16_t fileMode = 0; // 0: the BSD info (mode and owner) was never set
    // Found outside the live catalog: in a leaf node's free space, at an
    // offset the node's table no longer names, or in a leaf node the tree
    // no longer links.
    bool deleted = false;

    [[nodiscard]] bool isFolder() const { return type == 1; }
    [[nodiscard]] bool isSymlink() const { return type == 2 && (fileMode & 0xF000) == 0xA000; }
};

// One B-tree node that was kept: its number in the tree (standard mode) or
// its byte position on the volume (deep mode), and its record offsets.
struct NodeInfo {
    std::uint64_t node = 0;
    std::int8_t kind = 0;
    std::uint8_t height = 0;
    std::uint16_t numRecords = 0;
    std::vector<std::uint16_t> offsets;
    std::uint32_t fLink = 0; // the next node at the same level
};

} // namespace qis
