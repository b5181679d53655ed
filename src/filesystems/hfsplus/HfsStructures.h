#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qis::hfsdisk {

inline constexpr std::uint32_t kRootFolderId = 2;
inline constexpr std::uint32_t kExtentsFileId = 3;
inline constexpr std::uint32_t kCatalogFileId = 4;
inline constexpr std::uint32_t kAllocationFileId = 6;
inline constexpr std::uint32_t kFirstUserId = 16;
inline constexpr std::int64_t kHfsEpochToUnix = 2082844800; // 1904-01-01 to 1970-01-01
inline constexpr std::int8_t kLeafNode = -1;

struct Extent {
    std::uint32_t startBlock = 0;
    std::uint32_t blockCount = 0;
};

struct ForkData {
    std::uint64_t logicalSize = 0;
    std::uint32_t totalBlocks = 0;
    std::array<Extent, 8> extents{};
    static ForkData parse(std::span<const std::uint8_t> bytes);
};

// The volume header, 1024 bytes into the volume.
struct VolumeHeader {
    bool signatureOk = false; // "H+" or "HX"
    std::uint32_t blockSize = 0;
    std::uint32_t totalBlocks = 0;
    ForkData allocationFile, extentsFile, catalogFile;
    static VolumeHeader parse(std::span<const std::uint8_t> bytes);
};

// The fixed start of every B-tree node.
struct NodeDescriptor {
    std::uint32_t fLink = 0, bLink = 0;
    std::int8_t kind = 0; // −1 leaf, 0 index, 1 header, 2 map
    std::uint8_t height = 0;
    std::uint16_t numRecords = 0;
    static NodeDescriptor parse(std::span<const std::uint8_t> node);
    [[nodiscard]] bool plausible() const { return kind >= -1 && kind <= 2 && numRecords > 0; }
};

struct BTreeHeader {
    std::uint16_t treeDepth = 0;
    std::uint32_t rootNode = 0, leafRecords = 0, firstLeafNode = 0, lastLeafNode = 0;
    std::uint16_t nodeSize = 0;
    std::uint32_t totalNodes = 0, freeNodes = 0;
    // From node 0; nullopt unless the node size is a power of two from 512 to 32768.
    static std::optional<BTreeHeader> parse(std::span<const std::uint8_t> node0);
};

// The record offsets of a node, from its end; those that leave the node
// (or fall inside the descriptor) are left out.
std::vector<std::uint16_t> recordOffsets(std::span<const std::uint8_t> node, std::uint16_t numRecords);

// A folder or file record of the catalog with its key.
struct CatalogRecord {
    std::uint16_t type = 0; // 1 folder, 2 file
    std::uint32_t parentId = 0;
    std::u16string name;
    std::uint32_t id = 0; // folderID or fileID
    std::uint32_t createDate = 0, contentModDate = 0, attributeModDate = 0, accessDate = 0;
    std::uint32_t ownerId = 0, groupId = 0; // BSD info, with fileMode
    std::uint16_t fileMode = 0;
    ForkData dataFork; // files only
    // nullopt for thread records and anything that does not fit the node.
    static std::optional<CatalogRecord> parse(std::span<const std::uint8_t> node, std::size_t offset);
};

// True when a whole folder, file or thread record starts at `offset`: a
// record the node's offset table names but that is not one is damaged.
bool holdsCatalogRecord(std::span<const std::uint8_t> node, std::size_t offset);

// Folder and file records of a catalog leaf node that its offset table no
// longer names: those left in the free space behind the last record, and
// those whose offsets were taken out of the table. Each is found where a
// key and a record of the exact shape a catalog writes start on an even
// offset and end before the table; at most `limit` of them.
struct LooseRecord {
    std::size_t offset = 0;
    CatalogRecord record;
};
std::vector<LooseRecord> looseCatalogRecords(std::span<const std::uint8_t> node, std::size_t limit);

// An extents overflow record: more extents of a file's fork from startBlock on.
struct OverflowRecord {
    std::uint8_t forkType = 0; // 0 data, 0xFF resource
    std::uint32_t fileId = 0;
    std::uint32_t startBlock = 0;
    std::array<Extent, 8> extents{};
    static std::optional<OverflowRecord> parse(std::span<const std::uint8_t> node, std::size_t offset);
};

} // namespace qis::hfsdisk
