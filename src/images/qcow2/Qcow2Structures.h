#pragma once

#include <cstdint>
#include <span>

namespace qis::qcow2 {

inline constexpr std::uint32_t kMagic = 0x514649FB; // "QFI\xfb"
inline constexpr std::size_t kVersion2HeaderSize = 72;
inline constexpr std::size_t kVersion3HeaderSize = 104;
inline constexpr std::uint32_t kMinClusterBits = 9;
inline constexpr std::uint32_t kMaxClusterBits = 21;
// Longer names are refused by the tools that write the format too.
inline constexpr std::uint32_t kMaxBackingNameLength = 1023;

// Incompatible feature bits of a version 3 header.
inline constexpr std::uint64_t kDirty = 1ull << 0;
inline constexpr std::uint64_t kCorrupt = 1ull << 1;
inline constexpr std::uint64_t kExternalDataFile = 1ull << 2;
inline constexpr std::uint64_t kCompressionType = 1ull << 3;
inline constexpr std::uint64_t kExtendedL2 = 1ull << 4;
inline constexpr std::uint64_t kKnownIncompatible = kDirty | kCorrupt | kExternalDataFile | kCompressionType | kExtendedL2;

// Host offsets in L1 and standard L2 entries: bits 9 to 55.
inline constexpr std::uint64_t kOffsetMask = 0x00FFFFFFFFFFFE00ull;
inline constexpr std::uint64_t kCompressedFlag = 1ull << 62;
inline constexpr std::uint64_t kZeroFlag = 1ull; // version 3 only

// The header (big-endian); the version 3 fields are zero in a version 2 image.
struct Header {
    std::uint32_t magic = 0;               // 0
    std::uint32_t version = 0;             // 4
    std::uint64_t backingFileOffset = 0;   // 8
    std::uint32_t backingFileSize = 0;     // 16
    std::uint32_t clusterBits = 0;         // 20
    std::uint64_t size = 0;                // 24, virtual disk bytes
    std::uint32_t cryptMethod = 0;         // 32
    std::uint32_t l1Size = 0;              // 36, entries
    std::uint64_t l1TableOffset = 0;       // 40
    std::uint32_t snapshotCount = 0;       // 60
    std::uint64_t incompatibleFeatures = 0; // 72
    std::uint32_t headerLength = 0;        // 100
    std::uint8_t compressionType = 0;      // 104, when headerLength > 104
    static Header parse(std::span<const std::uint8_t> bytes);
};

// What one L2 entry says of its cluster.
enum class ClusterKind {
    Unallocated, // nothing here: the backing image's bytes, or zeros
    Zero,        // reads as zeros, whatever a backing image holds
    Stored,      // the cluster as it is, at hostOffset
    Compressed,  // deflate data of compressedBytes at hostOffset
};

struct ClusterEntry {
    ClusterKind kind = ClusterKind::Unallocated;
    std::uint64_t hostOffset = 0;
    std::uint64_t compressedBytes = 0;
};

// Decodes an L2 entry of an image with 2^clusterBits-byte clusters.
ClusterEntry decodeL2Entry(std::uint64_t entry, std::uint32_t clusterBits, std::uint32_t version);

} // namespace qis::qcow2
