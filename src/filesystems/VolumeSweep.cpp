#include "filesystems/VolumeSweep.h"

#include "images/VolumeBytes.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace qis {

std::uint64_t volumeBytesFromSizeText(const std::string& sizeText)
{
    std::uint64_t mebibytes = 0;
    const char* begin = sizeText.data();
    while (begin != sizeText.data() + sizeText.size() && *begin == ' ')
        ++begin;
    std::from_chars(begin, sizeText.data() + sizeText.size(), mebibytes);
    return mebibytes > (UINT64_MAX >> 20) ? 0 : mebibytes << 20;
}

std::uint64_t volumeReachFromSizeText(const std::string& sizeText)
{
    const std::uint64_t floor = volumeBytesFromSizeText(sizeText);
    return floor == 0 || floor > UINT64_MAX - (1u << 20) ? floor : floor + (1u << 20) - kSectorSize;
}

void sweepVolume(readWriteInterface& reader, std::uint64_t volumeSize, std::size_t lookahead,
                 const std::function<bool(const SweepChunk&)>& visit)
{
    volumeSize = withinDisk(reader, volumeSize);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kSweepChunkBytes) + lookahead);
    const std::uint64_t chunks = sweepChunkCount(volumeSize);
    for (std::uint64_t k = 0; k < chunks; ++k) {
        SweepChunk chunk;
        chunk.index = k;
        chunk.start = k * kSweepChunkBytes;
        chunk.length = static_cast<std::size_t>(std::min(kSweepChunkBytes, volumeSize - chunk.start));
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.length + lookahead, volumeSize - chunk.start));
        if (chunk.start > static_cast<std::uint64_t>(INT64_MAX))
            break;
        bool allocated = true;
        if (reader.allocationRun(static_cast<std::int64_t>(chunk.start), wanted, allocated) >= wanted && !allocated) {
            // An empty chunk still counts, so progress and stop checks see it.
            chunk.bytes = {};
            chunk.length = 0;
        } else {
            readVolumeBytes(reader, chunk.start, std::span(buffer).first(wanted));
            chunk.bytes = std::span<const std::uint8_t>(buffer).first(wanted);
        }
        if (!visit(chunk))
            break;
    }
}

} // namespace qis
