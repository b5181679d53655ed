#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qis::fatdisk {

inline constexpr std::size_t kSlotSize = 32;
inline constexpr std::uint8_t kDeletedMark = 0xE5;
inline constexpr std::uint8_t kLongNameAttributes = 0x0F;
inline constexpr std::uint8_t kVolumeLabel = 0x08;
inline constexpr std::uint8_t kDirectory = 0x10;
// Windows NT's case flags in byte 12: the base or the extension is lower case.
inline constexpr std::uint8_t kLowerCaseBase = 0x08;
inline constexpr std::uint8_t kLowerCaseExtension = 0x10;
// A long name has at most 20 parts of 13 characters (255 in all).
inline constexpr std::size_t kMaxLongNameParts = 20;

// One 32-byte directory slot, decoded.
struct DirectorySlot {
    std::uint8_t name[11]{};
    std::uint8_t attributes = 0;
    std::uint8_t caseFlags = 0;
    std::uint8_t createTimeTenths = 0;
    std::uint16_t createTime = 0, createDate = 0, accessDate = 0;
    std::uint16_t firstClusterHigh = 0, writeTime = 0, writeDate = 0, firstClusterLow = 0;
    std::uint32_t fileSize = 0;

    static DirectorySlot parse(std::span<const std::uint8_t, kSlotSize> bytes);

    [[nodiscard]] std::uint8_t first() const { return name[0]; }
    [[nodiscard]] bool isFree() const { return name[0] == 0x00; }
    [[nodiscard]] bool isDeleted() const { return name[0] == kDeletedMark; }
    [[nodiscard]] bool isDotEntry() const { return name[0] == '.'; }
    [[nodiscard]] bool isLongName() const { return attributes == kLongNameAttributes; }
    [[nodiscard]] bool isVolumeLabel() const { return !isLongName() && (attributes & kVolumeLabel) != 0; }
    // Any combination with the directory bit, so hidden or archived folders
    // are still folders.
    [[nodiscard]] bool isDirectory() const { return !isLongName() && !isVolumeLabel() && (attributes & kDirectory); }
};

// The 8.3 name as Windows shows it: padding trimmed, a dot only before a
// non-empty extension, the lower-case flags applied. A deleted entry keeps
// its 0xE5 mark as the first character (Windows-1252 'å').
std::u16string shortNameText(const DirectorySlot& slot);

// The checksum a long name's parts carry of the short name they belong to.
std::uint8_t shortNameChecksum(const std::uint8_t (&name)[11]);

// One long-name slot: its 13 characters up to the first U+0000, its order
// byte and the checksum.
struct LongNamePart {
    std::uint8_t order = 0;
    std::uint8_t checksum = 0;
    std::u16string text;

    static LongNamePart parse(std::span<const std::uint8_t, kSlotSize> bytes);
};

} // namespace qis::fatdisk
