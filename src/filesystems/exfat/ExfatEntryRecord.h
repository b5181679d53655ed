#pragma once

#include "filesystems/fatfamily/TableLinks.h"

#include <cstdint>
#include <string>

namespace qis {

// One file or folder recovered from an exFAT volume: its file entry, its
// stream extension and its name. Index 0 of a table is "DUMMY ENTRY".
struct ExfatEntryRecord {
    std::uint8_t entryType = 0x85; // 0x05 for a deleted set
    std::uint16_t attributes = 0;
    std::uint32_t createTimestamp = 0;
    std::uint32_t modifyTimestamp = 0;
    std::uint32_t accessTimestamp = 0;
    std::uint8_t create10ms = 0;
    std::uint8_t modify10ms = 0;
    std::uint8_t createUtcOffset = 0;
    std::uint8_t modifyUtcOffset = 0;
    std::uint8_t accessUtcOffset = 0;
    std::uint8_t streamType = 0;
    std::uint8_t streamFlags = 0;
    std::uint8_t nameLength = 0;
    std::uint64_t validDataLength = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;
    std::u16string name;
    std::uint32_t parentIndex = 0;
    std::uint32_t selfIndex = 0;
    std::uint32_t firstChild = kNoRecord;
    std::uint32_t nextSibling = kNoRecord;
    // Where the file entry that starts the set lies: its byte offset from
    // the volume's start over 32. 0 for records made up by the scan (the
    // boot sector holds the volume's first 32 bytes).
    std::uint64_t slotNumber = 0;

    [[nodiscard]] bool isDeleted() const { return entryType == 0x05; }
    [[nodiscard]] bool isFolder() const { return (attributes & 0x10) != 0; }
    // The data is one run of clusters, with no chain in the FAT.
    [[nodiscard]] bool noFatChain() const { return (streamFlags & 0x02) != 0; }
};

inline bool entryIsDeleted(const ExfatEntryRecord& r) { return r.isDeleted(); }
// The stream extension's first cluster, and how many bytes the file holds.
inline std::uint32_t entryFirstCluster(const ExfatEntryRecord& r) { return r.firstCluster; }
inline std::uint64_t entryDataSize(const ExfatEntryRecord& r) { return r.dataLength; }
inline std::uint64_t entrySlotNumber(const ExfatEntryRecord& r) { return r.slotNumber; }

} // namespace qis
