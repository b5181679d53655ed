#include "filesystems/ntfs/Lznt1.h"

#include "util/ByteReader.h"

#include <algorithm>

namespace qis::ntfsdisk {
namespace {

// Chunk header: bits 0-11 are the chunk's data size minus one, bit 15 says
// the data is compressed. Bits 12-14 hold a signature (3) that is not
// checked: a chunk whose signature bits are damaged may still decode, and
// the size field alone says where the next chunk starts.
constexpr std::uint16_t sizeMask = 0x0FFF;
constexpr std::uint16_t compressedFlag = 0x8000;

struct ChunkOutcome {
    std::size_t produced = 0;
    Lznt1Problem problem = Lznt1Problem::None;
};

// What "no more room" means for a chunk depends on what limited the room:
// the chunk's own 4096 bytes (the data is bad) or the caller's buffer.
Lznt1Problem overflowProblem(std::span<std::uint8_t> room)
{
    return room.size() < lznt1ChunkSize ? Lznt1Problem::OutputFull : Lznt1Problem::ChunkTooLong;
}

// Bits of a back-reference word that hold the offset at position `written`
// within the chunk. An offset can never reach further back than the chunk's
// start, so the encoder gives the offset only as many bits as that distance
// needs (at least 4) and the rest to the length: 4 offset bits up to
// position 16, 5 up to 32, and so on up to 12 bits past position 2048.
unsigned offsetBitsAt(std::size_t written)
{
    unsigned bits = 4;
    for (std::size_t reach = (written - 1) >> 4; reach != 0 && bits < 12; reach >>= 1)
        ++bits;
    return bits;
}

ChunkOutcome decodeCompressedChunk(std::span<const std::uint8_t> data, std::span<std::uint8_t> room)
{
    ByteReader reader(data);
    std::size_t in = 0;
    std::size_t written = 0;
    while (in < data.size()) {
        unsigned flags = reader.u8(in++);
        // The last group of a chunk may hold fewer than eight tokens: the
        // chunk's data simply ends.
        for (int token = 0; token < 8 && in < data.size(); ++token, flags >>= 1) {
            if ((flags & 1) == 0) {
                if (written == room.size())
                    return {written, overflowProblem(room)};
                room[written++] = reader.u8(in++);
                continue;
            }
            if (!reader.has(in, 2))
                return {written, Lznt1Problem::TruncatedToken};
            const std::uint16_t word = reader.u16le(in);
            in += 2;
            // Nothing has been written yet, so there is nothing to refer to
            // (and the split below is undefined at position 0).
            if (written == 0)
                return {written, Lznt1Problem::ReferenceBeforeChunk};
            const unsigned lengthBits = 16 - offsetBitsAt(written);
            const std::size_t length = (word & ((1u << lengthBits) - 1)) + 3;
            const std::size_t offset = (static_cast<std::size_t>(word) >> lengthBits) + 1;
            // Chunks are decoded independently (that is what lets later
            // chunks survive a damaged one), so the previous chunk's bytes
            // are not history even though they sit just before in the output.
            if (offset > written)
                return {written, Lznt1Problem::ReferenceBeforeChunk};
            const std::size_t copy = std::min(length, room.size() - written);
            // Byte by byte on purpose: a reference may overlap the bytes it
            // produces (offset 1, length 10 repeats one byte ten times).
            for (std::size_t i = 0; i < copy; ++i, ++written)
                room[written] = room[written - offset];
            if (copy < length)
                return {written, overflowProblem(room)};
        }
    }
    return {written, Lznt1Problem::None};
}

// A chunk the compressor could not shrink is kept as it is. It is normally
// 4096 bytes; a shorter one (a file's last chunk) is copied as far as it goes.
ChunkOutcome copyStoredChunk(std::span<const std::uint8_t> data, std::span<std::uint8_t> room)
{
    const std::size_t copy = std::min(data.size(), room.size());
    std::copy_n(data.begin(), copy, room.begin());
    return {copy, copy < data.size() ? overflowProblem(room) : Lznt1Problem::None};
}

} // namespace

Lznt1Result lznt1Decompress(std::span<const std::uint8_t> input, std::span<std::uint8_t> output)
{
    Lznt1Result result;
    auto note = [&result](Lznt1Problem problem) {
        if (result.problem == Lznt1Problem::None)
            result.problem = problem;
    };
    ByteReader reader(input);
    std::size_t in = 0;
    for (std::size_t chunkStart = 0; in < input.size(); chunkStart += lznt1ChunkSize) {
        if (!reader.has(in, 2)) {
            // A unit ends on a cluster boundary, so a lone last byte can only
            // be slack (zero) or the first half of a header that was cut off.
            if (input[in] != 0)
                note(Lznt1Problem::ChunkPastInput);
            break;
        }
        const std::uint16_t header = reader.u16le(in);
        // The unit's chunks are followed by zeros up to the end of its last
        // cluster; a zero header is where they stop.
        if (header == 0)
            break;
        const std::size_t dataSize = static_cast<std::size_t>(header & sizeMask) + 1;
        if (!reader.has(in + 2, dataSize)) {
            // Decoding what is there would mean trusting a header that
            // already disagrees with the data around it.
            note(Lznt1Problem::ChunkPastInput);
            break;
        }
        // A chunk that decoded short still owns its 4096 bytes of the unit;
        // the rest of them are zero, as NTFS fills them when it reads the
        // unit. Filled only now that a real chunk is known to follow, so the
        // last chunk of a file is not padded past its data.
        const std::size_t gapEnd = std::min(chunkStart, output.size());
        if (result.produced < gapEnd)
            std::fill(output.begin() + static_cast<std::ptrdiff_t>(result.produced),
                      output.begin() + static_cast<std::ptrdiff_t>(gapEnd), std::uint8_t{0});
        result.produced = std::max(result.produced, gapEnd);
        if (chunkStart >= output.size()) {
            note(Lznt1Problem::OutputFull);
            break;
        }
        const auto data = input.subspan(in + 2, dataSize);
        const auto room = output.subspan(chunkStart, std::min(lznt1ChunkSize, output.size() - chunkStart));
        const ChunkOutcome outcome =
            (header & compressedFlag) != 0 ? decodeCompressedChunk(data, room) : copyStoredChunk(data, room);
        ++result.chunks;
        result.produced = chunkStart + outcome.produced;
        if (outcome.problem != Lznt1Problem::None)
            note(outcome.problem);
        if (outcome.problem == Lznt1Problem::OutputFull)
            break;
        in += 2 + dataSize;
    }
    return result;
}

const char* lznt1ProblemText(Lznt1Problem problem)
{
    switch (problem) {
    case Lznt1Problem::None:
        return "none";
    case Lznt1Problem::ChunkPastInput:
        return "chunk runs past the end of the input";
    case Lznt1Problem::ReferenceBeforeChunk:
        return "back-reference before the start of its chunk";
    case Lznt1Problem::TruncatedToken:
        return "chunk ends inside a back-reference";
    case Lznt1Problem::ChunkTooLong:
        return "chunk decodes to more than 4096 bytes";
    case Lznt1Problem::OutputFull:
        return "output full";
    }
    return "unknown";
}

} // namespace qis::ntfsdisk
