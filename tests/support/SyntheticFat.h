#pragma once

// Small FAT16, FAT32 and exFAT volumes laid out byte by byte, for the cases
// no formatting tool makes: loops, damaged fields, odd but valid layouts.

#include "support/Fixtures.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qis::test {

using Slot = std::array<std::uint8_t, 32>;

// A FAT16 or FAT32 volume: 512-byte sectors and clusters, one FAT.
class SyntheticFat {
public:
    static constexpr std::uint32_t kClusterBytes = 512;
    explicit SyntheticFat(bool fat32, std::uint32_t clusters = 4200);

    void setFat(std::uint32_t cluster, std::uint32_t value);
    // Links the clusters in order and ends the chain.
    void chain(const std::vector<std::uint32_t>& clusters);
    std::uint8_t* cluster(std::uint32_t c);
    std::uint8_t* rootRegion(); // FAT16's fixed root directory
    // Writes slots one after another from `at`.
    static void put(std::uint8_t* at, const std::vector<Slot>& slots);
    // The "." and ".." pair a folder's first cluster starts with.
    static std::vector<Slot> dotEntries(std::uint32_t self, std::uint32_t parent);

    std::vector<std::uint8_t> bytes;
    std::uint32_t rootCluster = 2;
    std::uint64_t dataOffset = 0;

    // Writes the volume to a file and returns its path.
    std::filesystem::path write(const TempDir& dir, const std::string& name = "fat.img") const;

private:
    bool fat32_;
    std::uint64_t fatOffset_ = 0, rootOffset_ = 0;
};

// A short entry; name11 is the 8.3 name padded to 11 characters.
Slot shortSlot(const char* name11, std::uint8_t attributes, std::uint32_t cluster, std::uint32_t size,
               std::uint8_t caseFlags = 0);
// The long-name slots of `name` in disk order, then the short entry.
std::vector<Slot> longNameSlots(const std::u16string& name, const Slot& shortEntry);
// Every slot's first byte set to 0xE5, as deleting an entry leaves it.
std::vector<Slot> deleted(std::vector<Slot> slots);

// An exFAT volume: 512-byte sectors, 512-byte clusters.
class SyntheticExfat {
public:
    static constexpr std::uint32_t kClusterBytes = 512;
    explicit SyntheticExfat(std::uint32_t clusters = 600);

    void setFat(std::uint32_t cluster, std::uint32_t value);
    void chain(const std::vector<std::uint32_t>& clusters);
    std::uint8_t* cluster(std::uint32_t c);
    static void put(std::uint8_t* at, const std::vector<Slot>& slots);

    std::vector<std::uint8_t> bytes;
    std::uint32_t rootCluster = 4;
    std::filesystem::path write(const TempDir& dir, const std::string& name = "exfat.img") const;

private:
    std::uint64_t fatOffset_ = 0, heapOffset_ = 0;
};

// A file entry set: file, stream extension, name entries. flags 0x01 keeps
// a FAT chain, 0x03 marks one run of clusters.
std::vector<Slot> exfatSet(const std::u16string& name, std::uint16_t attributes, std::uint32_t cluster,
                           std::uint64_t length, std::uint8_t flags = 0x03, bool isDeleted = false);

} // namespace qis::test
