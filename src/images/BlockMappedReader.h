#pragma once

#include "images/readWriteInterface.h"
#include "platform/ImageFile.h"

#include <memory>
#include <optional>

namespace qis {

// Where a stretch of virtual sectors lives: in the image file from
// fileOffset on, or not in it: then in the parent of a differencing image,
// or nowhere (an unallocated block, read as zeros).
struct SectorRun {
    bool present = false;
    std::uint64_t fileOffset = 0;
    std::uint64_t sectors = 0; // at least 1
    // Not present and known to be zeros: a parent is not asked.
    bool zeros = false;
};

// The seek/read contract on top of a positioned read underneath: a reader
// only says how a virtual sector maps (once per block), and read serves each
// contiguous run with one call and zero-fills unallocated runs without reading.
// A differencing image's reader opens parent_: runs it does not hold are then
// read, measured and located there.
class BlockMappedReader : public readWriteInterface {
public:
    bool read(void* buffer, std::uint32_t length) override;
    bool seek(std::int64_t offset, std::int32_t origin) override;
    std::uint64_t allocationRun(std::int64_t offset, std::uint64_t maxBytes, bool& allocated) override;
    bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) override;
    int storedAt(std::uint64_t offset, std::uint64_t length, std::uint64_t& fileOffset, std::uint64_t& run) override;
    // Mapping a sector only looks up tables read at open, and the file is
    // read by position: readers that cache on the way say otherwise.
    [[nodiscard]] bool readsConcurrently() const override { return !parent_ || parent_->readsConcurrently(); }

    std::int64_t currentOffset = 0;

protected:
    // The run that starts at virtual sector `sector`; nullopt when the sector
    // is outside the disk's block table.
    virtual std::optional<SectorRun> mapSector(std::uint64_t sector) = 0;

    // Readers whose last sector may be cut short by the end of the file (a
    // raw image) pad it with zeros instead of failing.
    bool padShortFinalSector_ = false;

    ImageFile file_;

    // The image this one differs from; null for an image that stands alone.
    std::unique_ptr<readWriteInterface> parent_;

private:
    enum class Source { Image, Parent, Zeros };
    [[nodiscard]] Source sourceOf(const SectorRun& run) const
    {
        return run.present ? Source::Image : (parent_ && !run.zeros ? Source::Parent : Source::Zeros);
    }
    // How many bytes from `sector` on, up to `limit`, come from the same source as it.
    std::uint64_t sameSourceBytes(std::uint64_t sector, std::uint64_t limit, Source source);
    // Parent bytes for the virtual sectors from `sector` on; past the parent's end, zeros.
    bool readParent(std::uint64_t sector, std::uint8_t* out, std::uint64_t bytes);

    // Fills buffer with the virtual bytes starting at sector; false when part
    // of it could not be read (that part is zeros, and the errno is in
    // `error`).
    bool readSectors(std::uint64_t sector, std::uint8_t* buffer, std::uint64_t bytes, int& error);
    std::optional<std::uint64_t> sectorOf(std::int64_t offset) const;
};

} // namespace qis
