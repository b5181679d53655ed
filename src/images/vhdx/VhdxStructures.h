#pragma once

#include "util/Guid.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qis::vhdx {

inline constexpr std::uint64_t kHeader1Offset = 64 * 1024;
inline constexpr std::uint64_t kHeader2Offset = 128 * 1024;
inline constexpr std::uint64_t kHeaderSize = 4096;
inline constexpr std::uint64_t kRegionTable1Offset = 192 * 1024;
inline constexpr std::uint64_t kRegionTable2Offset = 256 * 1024;
inline constexpr std::uint64_t kRegionTableSize = 64 * 1024;
inline constexpr std::uint32_t kMaxTableEntries = 2047;

inline constexpr Guid kBatRegion = makeGuid(0x2DC27766, 0xF623, 0x4200, 0x9D64, 0x115E9BFD4A08);
inline constexpr Guid kMetadataRegion = makeGuid(0x8B7CA206, 0x4790, 0x4B9A, 0xB8FE, 0x575F050F886E);
inline constexpr Guid kFileParameters = makeGuid(0xCAA16737, 0xFA36, 0x4D43, 0xB3B6, 0x33F0AA44E76B);
inline constexpr Guid kVirtualDiskSize = makeGuid(0x2FA54224, 0xCD1B, 0x4876, 0xB211, 0x5DBED83BF4B8);
inline constexpr Guid kLogicalSectorSize = makeGuid(0x8141BF1D, 0xA96F, 0x4709, 0xBA47, 0xF233A8FAAB5F);
inline constexpr Guid kPhysicalSectorSize = makeGuid(0xCDA348C7, 0x445D, 0x4471, 0x9CC9, 0xE9885251C556);
inline constexpr Guid kParentLocator = makeGuid(0xA8D35F2D, 0xB30B, 0x454D, 0xABF7, 0xD3D84834AB0C);
inline constexpr Guid kVhdxParentLocatorType = makeGuid(0xB04AEFB7, 0xD19E, 0x4A81, 0xB789, 0x25B8E9445913);

// BAT entry states (low 3 bits): only these two say the block is in the file.
inline constexpr std::uint64_t kPayloadFullyPresent = 6;
inline constexpr std::uint64_t kPayloadPartiallyPresent = 7;
inline constexpr std::uint64_t kPayloadZero = 2;
inline constexpr std::uint64_t kSectorBitmapPresent = 6;

struct Header {
    bool signatureOk = false; // "head"
    bool checksumOk = false;
    std::uint64_t sequenceNumber = 0; // 0x08 SequenceNumber
    Guid dataWriteGuid{};             // 0x20 DataWriteGuid
    Guid logGuid{};                   // 0x30 LogGuid
    std::uint16_t logVersion = 0;     // 0x40 LogVersion
    std::uint16_t version = 0;        // 0x42 Version
    std::uint32_t logLength = 0;      // 0x44 LogLength
    std::uint64_t logOffset = 0;      // 0x48 LogOffset
    static Header parse(std::span<const std::uint8_t> bytes);
};

struct RegionEntry {
    Guid guid{};             // 0x00 Guid
    std::uint64_t fileOffset = 0; // 0x10 FileOffset
    std::uint32_t length = 0;     // 0x18 Length
    std::uint32_t required = 0;   // 0x1C Required
};

struct RegionTable {
    bool signatureOk = false; // "regi"
    bool checksumOk = false;
    std::uint32_t entryCount = 0; // 0x08 EntryCount as stored
    std::vector<RegionEntry> entries; // at most kMaxTableEntries, those that fit
    static RegionTable parse(std::span<const std::uint8_t> bytes);
};

struct MetadataEntry {
    Guid itemId{};           // 0x00 ItemId
    std::uint32_t offset = 0; // 0x10 Offset (from the region's start)
    std::uint32_t length = 0; // 0x14 Length
};

struct MetadataTable {
    std::uint16_t entryCount = 0; // 0x0A EntryCount as stored
    std::vector<MetadataEntry> entries;
    static MetadataTable parse(std::span<const std::uint8_t> bytes);
};

// What a differencing image's parent locator item says of its parent; the
// keys it has no use for are left out. Values are as stored (UTF-16 to UTF-8).
struct ParentLocator {
    Guid locatorType{};
    std::string parentLinkage;  // the parent's DataWriteGuid, "{...}"
    std::string parentLinkage2; // another DataWriteGuid the parent may carry
    std::string relativePath;
    std::string volumePath;
    std::string absoluteWin32Path;
    // Entries whose key or value lies outside the item.
    std::uint32_t damagedEntries = 0;
    static ParentLocator parse(std::span<const std::uint8_t> bytes);
};

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (braces optional, either case) as
// stored on disk; nullopt for anything else.
std::optional<Guid> parseGuidText(std::string_view text);

// Index of the entry whose GUID is `guid`. When none has it (a damaged
// identifier), the entry at `position`, unless that entry carries one of the
// other `known` GUIDs: taking another item's slot would misread the disk.
std::optional<std::size_t> findByGuid(const std::vector<Guid>& guids, const Guid& guid, std::size_t position,
                                      std::span<const Guid> known);

} // namespace qis::vhdx
