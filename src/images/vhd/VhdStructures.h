#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

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
    std::array<std::uint8_t, 16> uniqueId{}; // 0x44 Unique Id
    static Footer parse(std::span<const std::uint8_t> bytes);
};

inline constexpr std::size_t kParentLocatorCount = 8;

// One of the dynamic header's parent locator entries: where in the file a
// path to the parent is kept, and how (its platform code).
struct ParentLocator {
    std::uint32_t platformCode = 0; // +0x00 e.g. "W2ru", as a big-endian number
    std::uint32_t dataSpace = 0;    // +0x04 space reserved for the path
    std::uint32_t dataLength = 0;   // +0x08 bytes of the path
    std::uint64_t dataOffset = 0;   // +0x10 where in the file the path is
};

// Platform codes, as the four characters read big-endian.
inline constexpr std::uint32_t platformCode(const char (&text)[5])
{
    return std::uint32_t(std::uint8_t(text[0])) << 24 | std::uint32_t(std::uint8_t(text[1])) << 16 |
           std::uint32_t(std::uint8_t(text[2])) << 8 | std::uint32_t(std::uint8_t(text[3]));
}

// The dynamic disk header (big-endian).
struct DynamicHeader {
    bool cookieOk = false;            // 0x00 Cookie "cxsparse"
    std::uint64_t tableOffset = 0;    // 0x10 Table Offset
    std::uint32_t maxTableEntries = 0; // 0x1C Max Table Entries
    std::uint32_t blockSize = 0;      // 0x20 Block Size
    std::array<std::uint8_t, 16> parentUniqueId{}; // 0x28 Parent Unique ID
    std::u16string parentName;        // 0x40 Parent Unicode Name (UTF-16BE, 512 bytes), up to its NUL
    std::array<ParentLocator, kParentLocatorCount> locators{}; // 0x240, 24 bytes each
    static DynamicHeader parse(std::span<const std::uint8_t> bytes);
};

} // namespace qis::vhd
