#include "recovery/carving/FileLayout.h"

#include <algorithm>

namespace qis::carve {

std::uint64_t layoutLength(const FileLayout& layout)
{
    std::uint64_t total = 0;
    for (const CarvedPiece& p : layout)
        total += p.length;
    return total;
}

FileLayout layoutPrefix(const FileLayout& layout, std::uint64_t length)
{
    FileLayout out;
    for (const CarvedPiece& p : layout) {
        if (length == 0)
            break;
        const std::uint64_t n = std::min(p.length, length);
        out.push_back({p.offset, n});
        length -= n;
    }
    return out;
}

bool readThroughLayout(readWriteInterface& reader, const FileLayout& layout, std::uint64_t from,
                       std::span<std::uint8_t> out)
{
    bool whole = true;
    std::uint64_t pieceStart = 0; // the file offset where the piece begins
    std::size_t done = 0;
    for (const CarvedPiece& p : layout) {
        if (done == out.size())
            break;
        const std::uint64_t at = from + done;
        if (at >= pieceStart + p.length) {
            pieceStart += p.length;
            continue;
        }
        const std::uint64_t inPiece = at - pieceStart;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(p.length - inPiece, out.size() - done));
        // Sectors the reader could not read it gives as zeros.
        whole = reader.readAt(p.offset + inPiece, out.subspan(done, n)) && whole;
        done += n;
        pieceStart += p.length;
    }
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), std::uint8_t{0});
    return whole && done == out.size();
}

} // namespace qis::carve
