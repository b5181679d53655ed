#pragma once

#include "util/Guid.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qis {

inline constexpr std::uint8_t kMbrTypeExtendedChs = 0x05;
inline constexpr std::uint8_t kMbrTypeExtendedLba = 0x0F;

// One of the four 16-byte entries of an MBR or extended boot record.
struct MbrEntry {
    std::uint8_t partitionType = 0; // 0x04 PartitionType
    std::uint32_t startingLba = 0;  // 0x08 StartingLBA
    std::uint32_t sectorCount = 0;  // 0x0C SectorCount
    [[nodiscard]] bool isExtended() const
    {
        return partitionType == kMbrTypeExtendedChs || partitionType == kMbrTypeExtendedLba;
    }
};

// The four entries at 446; `signatureOk` is the 0x55AA at 510.
struct MbrTable {
    bool signatureOk = false;
    MbrEntry entries[4];
    static MbrTable parse(std::span<const std::uint8_t> sector);
    // An entry of type 0xEE: the MBR only guards a GPT disk (a hybrid MBR
    // lists other partitions beside it; the GPT still describes the disk).
    [[nodiscard]] bool protectsGpt() const;
};

struct GptHeader {
    bool signatureOk = false;            // 0x00 Signature "EFI PART"
    std::uint32_t headerSize = 0;        // 0x0C HeaderSize
    std::uint64_t alternateLba = 0;      // 0x20 AlternateLBA
    std::uint64_t partitionEntryLba = 0; // 0x48 PartitionEntryLBA
    std::uint32_t entryCount = 0;        // 0x50 NumberOfPartitionEntries
    std::uint32_t entrySize = 0;         // 0x54 SizeOfPartitionEntry
    static GptHeader parse(std::span<const std::uint8_t> sector);
};

struct GptEntry {
    Guid partitionTypeGuid{};     // 0x00 PartitionTypeGuid
    std::uint64_t startingLba = 0; // 0x20 StartingLBA
    std::uint64_t endingLba = 0;   // 0x28 EndingLBA
    std::u16string partitionName;  // 0x38 PartitionName, up to its NUL
    [[nodiscard]] bool unused() const;
    static GptEntry parse(std::span<const std::uint8_t> bytes);
};

} // namespace qis
