#include "recovery/carving/CandidateLayouts.h"

namespace qis::carve {

ScannedVolume readScannedVolume(readWriteInterface& reader)
{
    return {readExtGeometry(reader, 0)};
}

std::vector<CandidateLayout> candidateLayouts(readWriteInterface& reader, std::uint64_t start, std::uint64_t maxLength,
                                              std::uint64_t scanEnd, const ScannedVolume& volume)
{
    std::vector<CandidateLayout> out;
    // Only pointers that carry no doubt: a validator that goes by a size
    // field in the header (RIFF, BMP) would take a data block that merely
    // reads as pointers, and the bytes saved would be wrong.
    auto ext = followIndirectBlocks(reader, start, maxLength, scanEnd, volume.ext);
    if (ext && ext->unmistakable)
        out.push_back({std::move(ext->layout), ext->covered, ext->unmistakable, 3 * ext->blockSize});
    return out;
}

std::uint64_t endOfFirstStretch(const FileLayout& layout, std::uint64_t gap)
{
    if (layout.empty())
        return 0;
    std::uint64_t end = layout.front().offset + layout.front().length;
    for (std::size_t i = 1; i < layout.size(); ++i) {
        const CarvedPiece& p = layout[i];
        if (p.offset < end || p.offset - end > gap)
            break;
        end = p.offset + p.length;
    }
    return end;
}

} // namespace qis::carve
