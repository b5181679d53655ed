#pragma once

#include "filesystems/VolumeSweep.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qis {

// What the searches of a damaged FAT16, FAT32 or exFAT volume recognise.
// Every test takes bytes that hold at least what it reads (a sector for the
// table signatures, a 32-byte slot for entries, the slots that follow for
// an exFAT entry set) and reads nothing else.
namespace fatscan {

enum class TableSignature {
    Fat16,     // F8 FF FF FF: media byte, then end-of-chain in entry 1
    Fat32,     // entry 0 0x0FFFFFF8, entry 1 end-of-chain
    Exfat,     // entry 0 0xFFFFFFF8, entry 1 0xFFFFFFFF
    ExfatHeap, // eight 0xFF bytes: the allocation bitmap's first 64 clusters in use
};
bool matchesTable(TableSignature kind, std::span<const std::uint8_t> sector);

// A subdirectory's first cluster: its "." entry names the cluster itself,
// so where the entry lies tells where that cluster is on the volume.
struct DirectoryCluster {
    std::uint64_t position = 0; // volume offset of the "." slot
    std::uint32_t cluster = 0;  // the cluster it names
};
// A "." slot followed by a ".." slot at the start of a sector.
std::optional<DirectoryCluster> directoryClusterAt(std::span<const std::uint8_t> sector, std::uint64_t position,
                                                   bool fat32);

struct DataRegion {
    std::uint64_t clusterBytes = 0;
    std::uint64_t offset = 0; // where cluster 2 lies
    std::size_t votes = 0;    // directories that agree
};
// The cluster size and data-region start most of the directories found
// agree on. With clusterBytes given only that size is tried.
std::optional<DataRegion> voteDataRegion(const std::vector<DirectoryCluster>& found,
                                         std::optional<std::uint64_t> clusterBytes);

// The tests that make a 32-byte slot a plausible directory entry; clusterCount
// bounds the first cluster a live entry may name.
bool isFat16EntryCandidate(std::span<const std::uint8_t> slot, std::uint64_t clusterCount);
enum class Fat32Slot { None, Entry, LabelOrRecycle };
Fat32Slot classifyFat32Slot(std::span<const std::uint8_t> slot, std::uint64_t clusterCount);
// Looser than the tests above: a slot that may be a directory entry at all
// (free, long name, or an 8.3 entry with legal name bytes, attributes, dates
// and a cluster inside the volume). Used where the place is known to be a
// directory but its bounds are guessed.
bool plausibleDirectorySlot(std::span<const std::uint8_t> slot, std::uint64_t clusterCount);
// A whole exFAT file entry set starting at bytes[0].
bool isExfatSetCandidate(std::span<const std::uint8_t> bytes);
// An exFAT allocation-bitmap entry (in the root directory): its data length.
std::optional<std::uint64_t> exfatBitmapLength(std::span<const std::uint8_t> slot);

} // namespace fatscan
} // namespace qis
