#pragma once

#include "util/Guid.h"

#include <cstdint>
#include <span>
#include <string>

namespace qis::vdi {

inline constexpr std::size_t kHeaderSize = 472;
inline constexpr std::uint32_t kSignature = 0xBEDA107F;
inline constexpr std::uint32_t kBlockFree = 0xFFFFFFFF;
inline constexpr std::uint32_t kBlockZero = 0xFFFFFFFE;
// A snapshot: blocks it does not hold are read from the image it was taken of.
inline constexpr std::uint32_t kTypeDifferencing = 4;

// The VDI header, version 1.1 layout (little-endian).
struct VdiHeader {
    std::uint32_t signature = 0;        // 0x040 u32Signature
    std::uint32_t version = 0;          // 0x044 u32Version
    std::uint32_t headerSize = 0;       // 0x048 cbHeader
    std::uint32_t imageType = 0;        // 0x04C u32Type
    std::uint32_t offBlocks = 0;        // 0x154 offBlocks
    std::uint32_t offData = 0;          // 0x158 offData
    std::uint32_t cylinders = 0;        // 0x15C LegacyGeometry.cCylinders
    std::uint32_t heads = 0;            // 0x160 LegacyGeometry.cHeads
    std::uint32_t sectorsPerTrack = 0;  // 0x164 LegacyGeometry.cSectors
    std::uint64_t cbDisk = 0;           // 0x170 cbDisk
    std::uint32_t cbBlock = 0;          // 0x178 cbBlock
    std::uint32_t cBlocks = 0;          // 0x180 cBlocks
    std::uint32_t cBlocksAllocated = 0; // 0x184 cBlocksAllocated
    Guid uuidCreate{};                  // 0x188 this image
    Guid uuidModify{};                  // 0x198 changes with every write session
    Guid uuidLinkage{};                 // 0x1A8 a snapshot's parent: its uuidCreate
    Guid uuidParentModify{};            // 0x1B8 the parent's uuidModify when the snapshot was taken
    static VdiHeader parse(std::span<const std::uint8_t> bytes);

    [[nodiscard]] bool differencing() const { return imageType == kTypeDifferencing; }
};

// The UUID as it is written, e.g. "bcf1bb00-a9ad-4147-a9e6-df7d02160ffe"
// (the first three fields are stored little-endian).
std::string uuidText(const Guid& uuid);

} // namespace qis::vdi
