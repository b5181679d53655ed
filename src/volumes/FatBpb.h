#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace qis {

// The BIOS parameter block of a FAT12/16/32 boot sector and the layout it
// implies. Formatting tools write whatever OEM name they like, so a FAT
// volume is told by these fields being sane, not by that name.
struct FatBpb {
    std::uint16_t bytesPerSector = 0;
    std::uint8_t sectorsPerCluster = 0;
    std::uint16_t reservedSectors = 0;
    std::uint8_t fatCount = 0;
    std::uint16_t rootEntryCount = 0;
    std::uint64_t totalSectors = 0; // the 16-bit count, else the 32-bit one
    std::uint16_t fatSize16 = 0;
    std::uint32_t fatSize32 = 0;
    std::uint32_t rootCluster = 0; // FAT32 only
    bool signature = false;        // 0x55 0xAA at the end of the sector

    // Decodes the fields; nullopt unless the jump, the sector and cluster
    // sizes, the reserved area and the FAT count are plausible.
    static std::optional<FatBpb> parse(std::span<const std::uint8_t> sector);

    [[nodiscard]] std::uint64_t fatSectors() const { return fatSize16 != 0 ? fatSize16 : fatSize32; }
    [[nodiscard]] std::uint64_t clusterBytes() const { return std::uint64_t{bytesPerSector} * sectorsPerCluster; }
    [[nodiscard]] std::uint64_t rootDirectorySectors() const
    {
        return (std::uint64_t{rootEntryCount} * 32 + bytesPerSector - 1) / bytesPerSector;
    }
    // First sector of cluster 2.
    [[nodiscard]] std::uint64_t firstDataSector() const
    {
        return reservedSectors + std::uint64_t{fatCount} * fatSectors() + rootDirectorySectors();
    }
    // Clusters in the data region; 0 when the FATs and root do not fit.
    [[nodiscard]] std::uint64_t clusterCount() const
    {
        return totalSectors > firstDataSector() ? (totalSectors - firstDataSector()) / sectorsPerCluster : 0;
    }
};

} // namespace qis
