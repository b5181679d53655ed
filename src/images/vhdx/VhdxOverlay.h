#pragma once

#include "platform/ImageFile.h"

#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace qis::vhdx {

// The image file as it would be after its log was replayed, kept in memory:
// the 4 KiB sectors and zero ranges the log writes lie over the file's own
// bytes, and the file is taken to be as long as the log says. The file
// itself is never written.
class VhdxOverlay {
public:
    // Later writes replace earlier ones where they overlap. Offsets and
    // lengths are multiples of 4 KiB; `sector` holds 4096 bytes.
    void writeSector(std::uint64_t fileOffset, std::span<const std::uint8_t> sector);
    void writeZeros(std::uint64_t fileOffset, std::uint64_t length);
    // The replayed file is at least this long: bytes past the real end read as zeros.
    void extendTo(std::uint64_t length);

    [[nodiscard]] bool empty() const { return extents_.empty() && length_ == 0; }
    // The replayed file's length for a real file of `fileSize` bytes.
    [[nodiscard]] std::uint64_t lengthOver(std::uint64_t fileSize) const { return std::max(fileSize, length_); }

    // Reads like ImageFile::readAt, through the overlay: returns how many
    // bytes are in the replayed file (a short count only at its end or on a
    // read error, whose errno goes to `error`); the rest of `out` is zeros.
    std::size_t readAt(const ImageFile& file, std::uint64_t offset, std::span<std::uint8_t> out, int& error) const;

    // The start of the first overlaid byte in [offset, offset + length), or
    // offset + length when the file's own bytes are read there unchanged.
    [[nodiscard]] std::uint64_t firstOverlaid(std::uint64_t offset, std::uint64_t length) const;

private:
    struct Extent {
        std::uint64_t length = 0;
        std::vector<std::uint8_t> bytes; // empty: zeros
    };
    void clear(std::uint64_t from, std::uint64_t to);

    std::map<std::uint64_t, Extent> extents_; // by start; never overlapping
    std::uint64_t length_ = 0;
};

// Reads the file through `overlay` when there is one, else the file as it is.
std::size_t readImageFile(const ImageFile& file, const VhdxOverlay* overlay, std::uint64_t offset,
                          std::span<std::uint8_t> out, int& error);

} // namespace qis::vhdx
