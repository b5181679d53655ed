#pragma once

#include "filesystems/fatfamily/TableLinks.h"

#include <cstdint>
#include <string>

namespace qis {

// One directory entry recovered from a FAT16 or FAT32 volume. Index 0 of a
// table is "DUMMY ENTRY", the root directory itself.
struct FatEntryRecord {
    std::uint8_t attributes = 0;
    std::uint8_t createTimeTenths = 0;
    std::uint16_t createTime = 0;
    std::uint16_t createDate = 0;
    std::uint16_t accessDate = 0;
    std::uint16_t firstClusterHigh = 0;
    std::uint16_t writeTime = 0;
    std::uint16_t writeDate = 0;
    std::uint16_t firstClusterLow = 0;
    std::uint32_t fileSize = 0;
    std::uint8_t isDeleted = 0;
    std::u16string name;
    std::uint32_t parentIndex = 0;
    std::uint32_t selfIndex = 0;
    std::uint32_t firstChild = kNoRecord;
    std::uint32_t nextSibling = kNoRecord;
    // Where the short entry lies: its byte offset from the volume's start
    // over 32. 0 for records made up by the scan (the boot sector holds the
    // volume's first 32 bytes, so no directory entry is there).
    std::uint64_t slotNumber = 0;

    [[nodiscard]] std::uint32_t firstCluster() const
    {
        return (std::uint32_t{firstClusterHigh} << 16) | firstClusterLow;
    }
};

inline bool entryIsDeleted(const FatEntryRecord& r) { return r.isDeleted != 0; }
inline std::uint32_t entryFirstCluster(const FatEntryRecord& r) { return r.firstCluster(); }
inline std::uint64_t entryDataSize(const FatEntryRecord& r) { return r.fileSize; }
inline std::uint64_t entrySlotNumber(const FatEntryRecord& r) { return r.slotNumber; }

} // namespace qis
