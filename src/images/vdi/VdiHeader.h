#pragma once

#include <cstdint>
#include <span>

namespace qis::vdi {

inline constexpr std::size_t kHeaderSize = 472;
inline constexpr std::uint32_t kSignature = 0xBEDA107F;
inline constexpr std::uint32_t kBlockFree = 0xFFFFFFFF;
inline constexpr std::uint32_t kBlockZero = 0xFFFFFFFE;

// The VDI header, version 1.1 layout (little-endian).
struct VdiHeader {
    std::uint32_t signature = 0;        // 0x040 u32Signature
    std::uint32_t version = 0;          // 0x044 u32Version
    std::uint32_t headerSize = 0;       // 0x048 cbHeader
    std::uint32_t offBlocks = 0;        // 0x154 offBlocks
    std::uint32_t offData = 0;          // 0x158 offData
    std::uint32_t cylinders = 0;        // 0x15C LegacyGeometry.cCylinders
    std::uint32_t heads = 0;            // 0x160 LegacyGeometry.cHeads
    std::uint32_t sectorsPerTrack = 0;  // 0x164 LegacyGeometry.cSectors
    std::uint64_t cbDisk = 0;           // 0x170 cbDisk
    std::uint32_t cbBlock = 0;          // 0x178 cbBlock
    std::uint32_t cBlocks = 0;          // 0x180 cBlocks
    std::uint32_t cBlocksAllocated = 0; // 0x184 cBlocksAllocated
    static VdiHeader parse(std::span<const std::uint8_t> bytes);
};

} // namespace qis::vdi
