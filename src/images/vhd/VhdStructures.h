#pragma once

#include <cstdint>
#include <span>

namespace qis::vhd {

inline constexpr std::uint32_t kDiskTypeFixed = 2;
inline constexpr std::uint32_t kDiskTypeDynamic = 3;
inline constexpr std::uint32_t kDiskTypeDifferencing = 4;
inline constexpr std::uint32_t kDefaultBlockSize = 2u << 20;
inline constexpr std::uint64_t kDefaultTableOffset = 1536;

// The hard disk footer (big-endian), kept at the end of every VHD and, for
// dynamic disks, also at the start.
struct Footer {
    bool cookieOk = false;          // 0x00 Cookie "conectix"
    std::uint32_t version = 0;      // 0x0C File Format Version
    std::uint64_t dataOffset = 0;   // 0x10 Data Offset (dynamic header)
    std::uint64_t currentSize = 0;  // 0x30 Current Size
    std::uint16_t cylinders = 0;    // 0x38 Disk Geometry
    std::uint8_t heads = 0;         // 0x3A
    std::uint8_t sectorsPerTrack = 0; // 0x3B
    std::uint32_t diskType = 0;     // 0x3C Disk Type
    static Footer parse(std::span<const std::uint8_t> bytes);
};

// The dynamic disk header (big-endian).
struct DynamicHeader {
    bool cookieOk = false;            // 0x00 Cookie "cxsparse"
    std::uint64_t tableOffset = 0;    // 0x10 Table Offset
    std::uint32_t maxTableEntries = 0; // 0x1C Max Table Entries
    std::uint32_t blockSize = 0;      // 0x20 Block Size
    static DynamicHeader parse(std::span<const std::uint8_t> bytes);
};

} // namespace qis::vhd
