#pragma once

#include "images/readWriteInterface.h"
#include "images/vmdk/VmdkDisk.h"

#include <unordered_map>
#include <utility>

namespace qis {

// VMDK images of every kind: a monolithic sparse or stream-optimized extent,
// or a descriptor naming sparse, flat and zero extents in other files; a
// snapshot reads what it leaves unallocated from its parent.
// Grain tables and the last inflated grain are cached as sectors are read.
class FileReadSeekVmdk : public readWriteInterface {
public:
    bool open(std::filesystem::path path) override;
    bool read(void* buffer, std::uint32_t length) override;
    bool seek(std::int64_t offset, std::int32_t origin) override;
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) override;
    int storedAt(std::uint64_t offset, std::uint64_t length, std::uint64_t& fileOffset, std::uint64_t& run) override;
    std::uint64_t allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated) override;
    [[nodiscard]] bool readsConcurrently() const override { return false; }

    [[nodiscard]] const vmdk::VmdkDisk& disk() const { return disk_; }

    std::int64_t currentOffset = 0;

private:
    // Where a stretch of virtual sectors comes from.
    struct Piece {
        enum class Kind { Unallocated, Zero, Stored, Compressed } kind = Kind::Zero;
        const ImageFile* file = nullptr;
        std::uint64_t fileOffset = 0; // Stored: the bytes; Compressed: the grain's marker
        std::uint64_t within = 0;     // Compressed: sectors into the grain
        std::uint64_t grainBytes = 0; // Compressed: the grain's size when inflated
        std::uint64_t sectors = 1;    // at least 1
    };

    std::optional<Piece> mapSector(std::uint64_t sector);
    Piece mapSparse(const vmdk::DiskExtent& extent, std::uint64_t sector);
    const std::vector<std::uint32_t>& grainTable(const vmdk::DiskExtent& extent, std::uint64_t index,
                                                 std::uint32_t tableSector);
    const std::vector<std::uint8_t>* inflatedGrain(const Piece& piece);
    bool readSectors(std::uint64_t sector, std::uint8_t* out, std::uint64_t bytes);
    std::optional<std::uint64_t> sectorOf(std::int64_t offset) const;

    vmdk::VmdkDisk disk_;
    std::unique_ptr<readWriteInterface> parent_;
    // Keyed by extent and directory entry; cleared when it grows past its bound.
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> grainTables_;
    std::size_t grainTableBytes_ = 0;
    const ImageFile* grainFile_ = nullptr;
    std::uint64_t grainAt_ = 0;
    std::vector<std::uint8_t> grain_;
    bool grainOk_ = false;
};

} // namespace qis
