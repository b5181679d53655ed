#include "images/vhdx/VhdxOverlay.h"

#include <algorithm>
#include <cstring>

namespace qis::vhdx {

void VhdxOverlay::clear(std::uint64_t from, std::uint64_t to)
{
    auto it = extents_.lower_bound(from);
    if (it != extents_.begin()) {
        auto before = std::prev(it);
        if (before->first + before->second.length > from)
            it = before;
    }
    while (it != extents_.end() && it->first < to) {
        const std::uint64_t start = it->first;
        const std::uint64_t end = start + it->second.length;
        Extent old = std::move(it->second);
        it = extents_.erase(it);
        // What lies outside [from, to) stays, with its own bytes.
        auto keep = [&old, start](std::uint64_t a, std::uint64_t b) {
            Extent piece{b - a, {}};
            if (!old.bytes.empty())
                piece.bytes.assign(old.bytes.begin() + static_cast<std::ptrdiff_t>(a - start),
                                   old.bytes.begin() + static_cast<std::ptrdiff_t>(b - start));
            return piece;
        };
        if (start < from)
            extents_.emplace(start, keep(start, from));
        if (end > to)
            it = extents_.emplace(to, keep(to, end)).first;
    }
}

void VhdxOverlay::writeSector(std::uint64_t fileOffset, std::span<const std::uint8_t> sector)
{
    clear(fileOffset, fileOffset + sector.size());
    extents_[fileOffset] = Extent{sector.size(), std::vector<std::uint8_t>(sector.begin(), sector.end())};
    extendTo(fileOffset + sector.size());
}

void VhdxOverlay::writeZeros(std::uint64_t fileOffset, std::uint64_t length)
{
    if (length == 0)
        return;
    clear(fileOffset, fileOffset + length);
    extents_[fileOffset] = Extent{length, {}};
    extendTo(fileOffset + length);
}

void VhdxOverlay::extendTo(std::uint64_t length)
{
    length_ = std::max(length_, length);
}

std::size_t VhdxOverlay::readAt(const ImageFile& file, std::uint64_t offset, std::span<std::uint8_t> out,
                                int& error) const
{
    error = 0;
    std::fill(out.begin(), out.end(), 0);
    const std::uint64_t fileSize = file.size();
    const std::uint64_t end = lengthOver(fileSize);
    if (offset >= end)
        return 0;
    const std::uint64_t want = std::min<std::uint64_t>(out.size(), end - offset);
    std::size_t got = static_cast<std::size_t>(want);
    if (offset < fileSize) {
        const std::uint64_t inFile = std::min(want, fileSize - offset);
        std::size_t read = file.readAt(offset, out.first(static_cast<std::size_t>(inFile)), error);
        if (read < inFile && error != 0)
            got = read; // a failed read is not papered over, though the overlay still fills in below
    }
    auto it = extents_.upper_bound(offset);
    if (it != extents_.begin())
        --it;
    for (; it != extents_.end() && it->first < offset + want; ++it) {
        const std::uint64_t from = std::max(it->first, offset);
        const std::uint64_t to = std::min(it->first + it->second.length, offset + want);
        if (from >= to)
            continue;
        std::uint8_t* dest = out.data() + (from - offset);
        if (it->second.bytes.empty())
            std::memset(dest, 0, static_cast<std::size_t>(to - from));
        else
            std::memcpy(dest, it->second.bytes.data() + (from - it->first), static_cast<std::size_t>(to - from));
    }
    return got;
}

std::uint64_t VhdxOverlay::firstOverlaid(std::uint64_t offset, std::uint64_t length) const
{
    auto it = extents_.upper_bound(offset);
    if (it != extents_.begin()) {
        auto before = std::prev(it);
        if (before->first + before->second.length > offset)
            return offset;
    }
    if (it != extents_.end() && it->first < offset + length)
        return it->first;
    return offset + length;
}

std::size_t readImageFile(const ImageFile& file, const VhdxOverlay* overlay, std::uint64_t offset,
                          std::span<std::uint8_t> out, int& error)
{
    if (overlay)
        return overlay->readAt(file, offset, out, error);
    return file.readAt(offset, out, error);
}

} // namespace qis::vhdx
