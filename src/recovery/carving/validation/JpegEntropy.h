#pragma once

#include "recovery/carving/validation/ValidationSource.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace qis::carve::validation {

// How far a JPEG's bytes make sense: its markers walked and its scans'
// Huffman codes decoded (baseline scans, and the first scans of a
// progressive one: DC, DC refinement and AC first; other kinds are passed
// over by their markers). Random or foreign bytes in the entropy data break
// the decoding within a few hundred bytes: an undefined code, a
// coefficient past the block's end, a marker before the last MCU.
struct JpegDecode {
    // Every scan decoded and the end of image right after the last.
    bool whole = false;
    std::uint64_t length = 0; // whole: the bytes through the end of image
    // Otherwise where the bytes stopped making sense, or where the
    // decoding was told to stop (then `reached` is set).
    std::uint64_t brokeAt = 0;
    bool reached = false;
    // Where the segment that holds the break begins: a split inside a long
    // segment (an EXIF block) is noticed only at its end.
    std::uint64_t segmentStart = 0;
};

class JpegDecoder {
public:
    explicit JpegDecoder(Source& s) : s_(&s) {}

    // Goes on from where the decoder stands until the file ends, breaks,
    // or an MCU would start past `until`.
    JpegDecode run(std::uint64_t until = UINT64_MAX);

    // The same, keeping a copy of the decoder about every `every` bytes on
    // the way (at the start of an MCU or of a segment) in `snapshots`:
    // checkpoints can then be found from the last copy before them rather
    // than from the file's start.
    JpegDecode run(std::vector<JpegDecoder>& snapshots, std::uint64_t every);

    // For each of `offsets` (ascending), this decoder (a fresh one when it
    // has not begun) run on up to the start of the last MCU that begins at
    // or before it, or up to an earlier segment's start when it lies
    // outside a scan or past where the scan breaks: a state a decoder over
    // other bytes from that offset on can go on from. Any such state before
    // the offset decodes those bytes alike; this one is the latest cheaply
    // kept. One pass over the bytes serves them all. The offsets must not
    // lie before where this decoder stands.
    [[nodiscard]] std::vector<JpegDecoder> checkpointsBefore(std::span<const std::uint64_t> offsets) const;

    // Where the decoder stands: no byte from here on has been read.
    [[nodiscard]] std::uint64_t position() const { return pos_; }

    // Goes on reading from another source (the same bytes up to where the
    // decoder stands).
    void rebind(Source& s) { s_ = &s; }

private:
    static constexpr unsigned kFastBits = 9;
    struct Table {
        bool defined = false;
        std::array<std::uint16_t, 17> counts{};
        std::array<std::uint8_t, 256> symbols{};
        // The codes of up to kFastBits bits by the next kFastBits bits:
        // length << 8 | symbol, 0 for a longer code.
        std::array<std::uint16_t, 1u << kFastBits> fast{};
        // For an AC table, a code and the coefficient's bits after it that
        // fit in kFastBits together: value << 8 | run << 4 | both lengths;
        // 0 otherwise (and for the end-of-block and run-of-zeros codes).
        std::array<std::int32_t, 1u << kFastBits> fastAc{};
    };
    // The Huffman tables, shared by the copies of a decoder (checkpoints and
    // tries of splits are many): a table segment makes a new set.
    struct Tables {
        std::array<Table, 4> dc{}, ac{};
    };
    struct Component {
        std::uint8_t id = 0, h = 1, v = 1, quant = 0;
    };
    enum class Step { Next, Scan, Done };
    Step markerStep(JpegDecode& out);
    bool decodeScan(JpegDecode& out, std::uint64_t until, std::uint64_t stopBefore);
    bool skipScan(JpegDecode& out);
    bool decodeBlock(unsigned scanIndex);
    int bit();
    void fill();
    // These run for every symbol of every scan: they answer -1 or false for
    // bytes that do not decode rather than an optional, whose two parts
    // written apart and read back as one stall the processor each call.
    std::int64_t receive(unsigned n);
    int decode(const Table& t);
    int decodeLong(const Table& t);
    bool coefficient(unsigned size, std::int32_t& value);
    // The largest coefficient magnitude plausible at each position, for
    // each component of the scan in progress.
    void scanLimits();
    bool parseQuant(std::uint64_t p, std::uint32_t length);
    bool parseFrame(std::uint64_t p, std::uint32_t length, bool progressive);
    bool parseTables(std::uint64_t p, std::uint32_t length);
    bool parseScan(std::uint64_t p, std::uint32_t length);

    // Keeps a copy in snapshots_ when pos_ has reached nextSnapshot_.
    void snapshot();

    Source* s_;
    std::vector<JpegDecoder>* snapshots_ = nullptr;
    std::uint64_t snapshotEvery_ = 0, nextSnapshot_ = 0;
    std::uint64_t pos_ = 0;
    std::uint64_t segment_ = 0; // where the last segment read began
    bool started_ = false, inScan_ = false, scanned_ = false, framed_ = false;
    bool progressive_ = false;
    unsigned precision_ = 8;
    std::uint32_t width_ = 0, height_ = 0;
    std::array<Component, 4> components_{};
    unsigned componentCount_ = 0, hMax_ = 1, vMax_ = 1;
    std::uint32_t restartInterval_ = 0;
    std::shared_ptr<const Tables> tables_ = std::make_shared<const Tables>();
    std::array<std::array<std::uint16_t, 64>, 4> quant_{}; // zigzag order; 0: no table
    std::array<std::int64_t, 4> dcPredictor_{};
    // The scan in progress.
    std::array<std::uint8_t, 4> scanComponents_{}, scanDc_{}, scanAc_{};
    unsigned scanCount_ = 0, ss_ = 0, se_ = 63, ah_ = 0, al_ = 0;
    bool huffman_ = true, decodable_ = true;
    // Whether a coefficient, dequantized, is one a block of samples can
    // have: an 8-bit block's DCT stays within about +-1024 (+-16384 at 12
    // bits). Foreign bytes that happen to decode give values far outside
    // within a few blocks, most of all in the running DC value. Kept as the
    // largest magnitude allowed, by scan component and zigzag position.
    std::array<std::array<std::int64_t, 64>, 4> limit_{};
    std::uint64_t mcus_ = 0;
    // Where decoding stands inside the scan.
    std::uint64_t bits_ = 0; // the low bitCount_ bits are the next ones
    unsigned bitCount_ = 0;
    std::uint64_t mcu_ = 0;
    std::uint32_t eobRun_ = 0;
};

} // namespace qis::carve::validation
