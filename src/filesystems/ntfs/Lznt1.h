#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qis::ntfsdisk {

// Every LZNT1 chunk stands for this much uncompressed data (less only for
// the last chunk of a file), so chunk k of a unit always starts at k * 4096
// in the output whatever the chunks before it decoded to.
inline constexpr std::size_t lznt1ChunkSize = 4096;

// The first thing that went wrong while decoding a compression unit. A
// damaged chunk ends early but the chunks after it are still decoded (each
// is self-contained and has its own place in the output), so a problem says
// "some bytes are missing or suspect", not "nothing was decoded".
enum class Lznt1Problem : std::uint8_t {
    None,
    ChunkPastInput,       // a chunk header claims more bytes than the input holds; decoding stops there
    ReferenceBeforeChunk, // a back-reference reaches before the start of its chunk; the chunk ends there
    TruncatedToken,       // the chunk's data ends one byte into a back-reference; the chunk ends there
    ChunkTooLong,         // the chunk would produce more than 4096 bytes; it is cut at 4096
    OutputFull,           // the output ran out before the input's chunks did; decoding stops there
};

struct Lznt1Result {
    // Bytes of the output that now hold the unit's data, counted from its
    // start: every chunk's decoded bytes plus the zeros that stand in for
    // the rest of a chunk that decoded short when a later chunk follows it.
    std::size_t produced = 0;
    std::size_t chunks = 0; // chunks decoded, those that ended early included
    Lznt1Problem problem = Lznt1Problem::None;

    [[nodiscard]] bool damaged() const { return problem != Lznt1Problem::None; }
};

// Decodes one NTFS compression unit (the unit's allocated clusters: LZNT1
// chunks, then zero slack) into output, never writing past output's end and
// never reading past input's. Decoding ends at a zero header or at the end
// of the input. A chunk with the compressed bit clear is copied as it is,
// whatever its size. Chunk k lands at k * 4096; a short chunk followed by
// another has the rest of its 4096 bytes zeroed, a short last chunk is not
// padded, and bytes of output from `produced` on are left as they were.
// Damage is reported in the result while everything that decoded is kept:
// a recovered file with one bad chunk is worth more than no file.
Lznt1Result lznt1Decompress(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

const char* lznt1ProblemText(Lznt1Problem problem);

} // namespace qis::ntfsdisk
