#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qis::vmdk {

inline constexpr std::uint32_t kMagic = 0x564D444B; // "KDMV"
inline constexpr std::uint32_t kFlagRedundantGrainTable = 1u << 1;
inline constexpr std::uint32_t kFlagCompressedGrains = 1u << 16;
inline constexpr std::uint32_t kFlagMarkers = 1u << 17;
// A stream-optimized extent written front to back keeps its grain directory
// at the end: the header says so, and the footer holds the real offset.
inline constexpr std::uint64_t kGdAtEnd = ~std::uint64_t{0};
inline constexpr std::uint16_t kCompressionDeflate = 1;
// A compressed grain starts with its virtual sector and its stored size.
inline constexpr std::size_t kGrainMarkerBytes = 12;
inline constexpr std::uint64_t kMaxDescriptorBytes = 1u << 20;
inline constexpr std::size_t kMaxDescriptorLines = 10000;
inline constexpr std::size_t kMaxExtents = 1024;

// The sparse extent header (little-endian).
struct SparseExtentHeader {
    std::uint32_t magicNumber = 0;      // 0x00 magicNumber
    std::uint32_t version = 0;          // 0x04 version
    std::uint32_t flags = 0;            // 0x08 flags
    std::uint64_t capacity = 0;         // 0x0C capacity (sectors)
    std::uint64_t grainSize = 0;        // 0x14 grainSize (sectors)
    std::uint64_t descriptorOffset = 0; // 0x1C descriptorOffset (sectors)
    std::uint64_t descriptorSize = 0;   // 0x24 descriptorSize (sectors)
    std::uint32_t numGTEsPerGT = 0;     // 0x2C numGTEsPerGT
    std::uint64_t rgdOffset = 0;        // 0x30 rgdOffset (sectors)
    std::uint64_t gdOffset = 0;         // 0x38 gdOffset (sectors)
    std::uint16_t compressAlgorithm = 0; // 0x4D compressAlgorithm
    static SparseExtentHeader parse(std::span<const std::uint8_t> bytes);
};

struct ExtentRecord {
    std::uint64_t sizeSectors = 0;
    std::string type;     // "SPARSE", "FLAT", ...
    std::string fileName; // as written, untrusted
    std::uint64_t offsetSectors = 0; // where a flat extent's data starts in its file
};

// How an extent line's type is read.
enum class ExtentKind { Sparse, Flat, Zero, Unsupported };
ExtentKind extentKindOf(std::string_view type);

// The values of the text descriptor that are shown or used.
struct Descriptor {
    bool hasCreateType = false;
    std::string version, cid, parentCid, createType;
    std::string parentFileNameHint; // a snapshot's parent, untrusted
    std::string cylinders, heads, sectors;
    std::string virtualHwVersion, adapterType, toolsVersion;
    std::vector<ExtentRecord> extentList;
    std::string lastExtentType;

    [[nodiscard]] std::uint64_t extentSectors() const;
};

// True when text starts as a descriptor file does.
bool looksLikeDescriptorFile(std::string_view text);

// Parses descriptor text line by line: "key=value" and "key = \"value\"" pairs
// and extent lines such as RW 262144 SPARSE "disk.vmdk". Bounded in lines
// and extents; malformed lines are skipped.
Descriptor parseDescriptor(std::string_view text);

} // namespace qis::vmdk
