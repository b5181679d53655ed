#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qis::exfatdisk {

inline constexpr std::size_t kSlotSize = 32;
inline constexpr std::uint8_t kFileEntry = 0x85;
inline constexpr std::uint8_t kStreamEntry = 0xC0;
inline constexpr std::uint8_t kNameEntry = 0xC1;
inline constexpr std::uint8_t kInUse = 0x80; // cleared when a set is deleted
inline constexpr std::size_t kNameCharsPerEntry = 15;
inline constexpr std::size_t kMaxNameEntries = 17; // 255 characters

// The fields of an exFAT boot sector the parser uses, checked for sense.
struct ExfatBootSector {
    std::uint64_t volumeLength = 0; // sectors
    std::uint32_t fatOffset = 0;    // sectors
    std::uint32_t fatLength = 0;    // sectors
    std::uint32_t heapOffset = 0;   // sectors
    std::uint32_t clusterCount = 0;
    std::uint32_t rootCluster = 0;
    std::uint8_t bytesPerSectorShift = 0;
    std::uint8_t sectorsPerClusterShift = 0;

    // nullopt unless the name is "EXFAT" and the sizes and positions fit
    // together: sector shift 9 … 12, clusters at most 32 MiB, the FAT and
    // the heap inside the volume.
    static std::optional<ExfatBootSector> parse(std::span<const std::uint8_t> sector);
    static bool hasName(std::span<const std::uint8_t> sector);

    [[nodiscard]] std::uint64_t bytesPerSector() const { return 1ull << bytesPerSectorShift; }
    [[nodiscard]] std::uint64_t clusterBytes() const { return 1ull << (bytesPerSectorShift + sectorsPerClusterShift); }
};

// A file entry with the stream extension and name entries that follow it.
struct EntrySet {
    std::uint8_t entryType = 0;
    std::uint8_t secondaryCount = 0;
    std::uint16_t attributes = 0;
    std::uint32_t createTimestamp = 0, modifyTimestamp = 0, accessTimestamp = 0;
    std::uint8_t create10ms = 0, modify10ms = 0;
    std::uint8_t createUtcOffset = 0, modifyUtcOffset = 0, accessUtcOffset = 0;
    std::uint8_t streamType = 0, streamFlags = 0, nameLength = 0;
    std::uint64_t validDataLength = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;
    std::u16string name;
    std::size_t slots = 0; // how many slots the set takes

    // The set starting at `at`; nullopt unless a file entry there is followed
    // by a stream extension of the same state (live or deleted).
    static std::optional<EntrySet> parse(std::span<const std::uint8_t> directory, std::size_t at);
};

} // namespace qis::exfatdisk
