// LZNT1 decoding: real compression units written by ntfs-3g (tests/data/lznt1,
// see its README), the worked example of Microsoft's published format
// description [MS-XCA] 3.3, and hand-built chunks for the bit split of
// back-references and for every rule a damaged or hostile unit can break.

#include "filesystems/ntfs/Lznt1.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace qis::ntfsdisk {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t untouched = 0xEE; // what the output holds before decoding
constexpr std::size_t guardSize = 64;    // bytes past the output's end that must stay untouched

Bytes dataFile(const std::string& name)
{
    const std::string path = std::string(QIS_TEST_DATA_DIR) + "/lznt1/" + name + ".xz";
    const test::CommandResult r = test::runCommand("xz -dc " + test::shellQuote(path));
    EXPECT_EQ(r.exitCode, 0) << path << ": " << r.err;
    return Bytes(r.out.begin(), r.out.end());
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}
Bytes zeros(std::size_t n)
{
    return Bytes(n, 0);
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Distinct-looking bytes, so a copy from the wrong place shows.
Bytes pattern(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i * 37 + 11 + i / 256);
    return b;
}

// One token of a compressed chunk: a literal byte or a back-reference word.
struct Token {
    bool reference;
    std::uint16_t value;
};
Token ref(std::uint16_t word)
{
    return {true, word};
}
std::vector<Token> literals(const Bytes& bytes)
{
    std::vector<Token> t;
    for (auto b : bytes)
        t.push_back({false, b});
    return t;
}
std::vector<Token> operator+(std::vector<Token> a, const std::vector<Token>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<Token> operator+(std::vector<Token> a, Token b)
{
    a.push_back(b);
    return a;
}

void putHeader(Bytes& chunk, std::uint16_t flagsAndSignature)
{
    const auto header = static_cast<std::uint16_t>(flagsAndSignature | (chunk.size() - 3));
    chunk[0] = static_cast<std::uint8_t>(header);
    chunk[1] = static_cast<std::uint8_t>(header >> 8);
}

// The container only (flag bytes before each eight tokens, the header in
// front); the reference words are given as the tests work them out.
Bytes compressedChunk(const std::vector<Token>& tokens, std::uint16_t flagsAndSignature = 0xB000)
{
    Bytes chunk(2, 0);
    for (std::size_t group = 0; group < tokens.size(); group += 8) {
        const std::size_t flagAt = chunk.size();
        chunk.push_back(0);
        for (std::size_t i = group; i < std::min(group + 8, tokens.size()); ++i) {
            if (tokens[i].reference) {
                chunk[flagAt] |= static_cast<std::uint8_t>(1u << (i - group));
                chunk.push_back(static_cast<std::uint8_t>(tokens[i].value));
                chunk.push_back(static_cast<std::uint8_t>(tokens[i].value >> 8));
            } else {
                chunk.push_back(static_cast<std::uint8_t>(tokens[i].value));
            }
        }
    }
    putHeader(chunk, flagsAndSignature);
    return chunk;
}

Bytes storedChunk(const Bytes& bytes, std::uint16_t flagsAndSignature = 0x3000)
{
    Bytes chunk = concat({zeros(2), bytes});
    putHeader(chunk, flagsAndSignature);
    return chunk;
}

struct Decoded {
    Lznt1Result result;
    Bytes bytes; // output[0, produced)
};

// Decodes into an output of outputSize bytes that sits in a bigger buffer,
// and checks on every call that nothing past the output's end, nor past
// `produced` within it, was written.
Decoded decode(const Bytes& input, std::size_t outputSize)
{
    Bytes buffer(outputSize + guardSize, untouched);
    Decoded d;
    d.result = lznt1Decompress(input, std::span(buffer).first(outputSize));
    EXPECT_LE(d.result.produced, outputSize);
    const auto firstWritten =
        std::find_if(buffer.begin() + static_cast<std::ptrdiff_t>(std::min(d.result.produced, outputSize)),
                     buffer.end(), [](std::uint8_t b) { return b != untouched; });
    EXPECT_EQ(firstWritten, buffer.end()) << "byte " << (firstWritten - buffer.begin()) << " written beyond produced "
                                          << d.result.produced << " of an output of " << outputSize;
    d.bytes.assign(buffer.begin(),
                   buffer.begin() + static_cast<std::ptrdiff_t>(std::min(d.result.produced, outputSize)));
    return d;
}

std::uint16_t headerAt(const Bytes& unit, std::size_t at)
{
    return static_cast<std::uint16_t>(unit[at] | (unit[at + 1] << 8));
}

// --- Real units -----------------------------------------------------------

TEST(Lznt1RealUnit, DecodesWhatNtfs3gWrote)
{
    struct Case {
        const char* name;
        std::size_t chunks;
        std::uint16_t firstHeader; // what makes the unit worth having: a compressed or a stored first chunk
    };
    const Case cases[] = {
        {"text", 16, 0xB86E},
        {"mixed", 16, 0x3FFF},
        {"tail", 2, 0xB86E},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes unit = dataFile(std::string(c.name) + ".lznt1");
        const Bytes plain = dataFile(std::string(c.name) + ".plain");
        ASSERT_GE(unit.size(), 2u);
        ASSERT_EQ(headerAt(unit, 0), c.firstHeader);
        const Decoded d = decode(unit, 16 * lznt1ChunkSize);
        EXPECT_EQ(d.result.problem, Lznt1Problem::None) << lznt1ProblemText(d.result.problem);
        EXPECT_EQ(d.result.chunks, c.chunks);
        EXPECT_EQ(d.result.produced, plain.size());
        EXPECT_TRUE(d.bytes == plain);
    }
}

TEST(Lznt1RealUnit, SmallerOutputGetsTheFirstBytesOfTheUnit)
{
    for (const char* name : {"text", "mixed"}) {
        const Bytes unit = dataFile(std::string(name) + ".lznt1");
        const Bytes plain = dataFile(std::string(name) + ".plain");
        for (std::size_t size : {1u, 2u, 100u, 4095u, 4096u, 4097u, 8192u, 30000u, 65535u}) {
            SCOPED_TRACE(std::string(name) + " into " + std::to_string(size));
            const Decoded d = decode(unit, size);
            EXPECT_EQ(d.result.problem, Lznt1Problem::OutputFull);
            EXPECT_EQ(d.result.produced, size);
            EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), plain.begin()));
        }
    }
}

TEST(Lznt1RealUnit, CutInputKeepsEveryWholeChunk)
{
    // The text unit's chunks end at 2161, 4332, 6441, 8432, 10468, ... and
    // the last at 33949, where its zero slack begins (see the README).
    const Bytes unit = dataFile("text.lznt1");
    const Bytes plain = dataFile("text.plain");
    struct Case {
        std::size_t cut;
        std::size_t wholeChunks;
        Lznt1Problem problem;
    };
    const Case cases[] = {
        {1, 0, Lznt1Problem::ChunkPastInput}, // half a header
        {2, 0, Lznt1Problem::ChunkPastInput}, // a header without its data
        {2160, 0, Lznt1Problem::ChunkPastInput},
        {2161, 1, Lznt1Problem::None}, // the input ends where a chunk does: nothing is missing
        {2162, 1, Lznt1Problem::ChunkPastInput},
        {10000, 4, Lznt1Problem::ChunkPastInput},
        {33948, 15, Lznt1Problem::ChunkPastInput},
        {33949, 16, Lznt1Problem::None},
        {33950, 16, Lznt1Problem::None}, // a lone zero byte of slack
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("cut at " + std::to_string(c.cut));
        const Bytes input(unit.begin(), unit.begin() + static_cast<std::ptrdiff_t>(c.cut));
        const Decoded d = decode(input, 16 * lznt1ChunkSize);
        EXPECT_EQ(d.result.problem, c.problem) << lznt1ProblemText(d.result.problem);
        EXPECT_EQ(d.result.chunks, c.wholeChunks);
        EXPECT_EQ(d.result.produced, c.wholeChunks * lznt1ChunkSize);
        EXPECT_TRUE(std::equal(d.bytes.begin(), d.bytes.end(), plain.begin()));
    }
}

TEST(Lznt1RealUnit, DamageStaysInsideItsChunk)
{
    const Bytes unit = dataFile("text.lznt1");
    const Bytes plain = dataFile("text.plain");
    // Chunk 3 of the text unit: header at 6441, 0x7C4 + 1 = 1989 data bytes.
    constexpr std::size_t header = 6441, dataStart = header + 2, dataEnd = dataStart + 1989;
    constexpr std::size_t damagedChunk = 3;
    ASSERT_EQ(headerAt(unit, header), 0xB7C4);

    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        Lznt1Problem problem;
        Bytes chunkThree; // what chunk 3 of the output becomes
    };
    const Case cases[] = {
        // A flag byte of ones and words of ones: a reference at position 0.
        {"data overwritten with 0xFF", [](Bytes& u) { std::fill(&u[dataStart], &u[dataEnd], 0xFF); },
         Lznt1Problem::ReferenceBeforeChunk, zeros(lznt1ChunkSize)},
        // Zero flag bytes make every other byte a zero literal: 221 groups of
        // 9 bytes give 1768 zeros, the rest of the chunk is zero-filled.
        {"data overwritten with zeros", [](Bytes& u) { std::fill(&u[dataStart], &u[dataEnd], 0x00); },
         Lznt1Problem::None, zeros(lznt1ChunkSize)},
        // The signature bits are not needed to decode the chunk.
        {"signature bits cleared", [](Bytes& u) { u[header + 1] &= 0x8F; }, Lznt1Problem::None,
         Bytes(plain.begin() + damagedChunk * lznt1ChunkSize, plain.begin() + (damagedChunk + 1) * lznt1ChunkSize)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = unit;
        c.damage(damaged);
        const Decoded d = decode(damaged, 16 * lznt1ChunkSize);
        EXPECT_EQ(d.result.problem, c.problem) << lznt1ProblemText(d.result.problem);
        EXPECT_EQ(d.result.chunks, 16u);
        ASSERT_EQ(d.bytes.size(), plain.size());
        for (std::size_t k = 0; k < 16; ++k) {
            const auto at = static_cast<std::ptrdiff_t>(k * lznt1ChunkSize);
            const Bytes got(d.bytes.begin() + at, d.bytes.begin() + at + lznt1ChunkSize);
            const Bytes want =
                k == damagedChunk ? c.chunkThree : Bytes(plain.begin() + at, plain.begin() + at + lznt1ChunkSize);
            EXPECT_TRUE(got == want) << "chunk " << k;
        }
    }
}

// --- The format's own example and the back-reference split ---------------

TEST(Lznt1Format, WorkedExampleOfThePublishedDescription)
{
    // [MS-XCA] 3.3: one 59-byte chunk whose references overlap their own
    // output, decoding to a 142-byte string with its NUL.
    const Bytes input = {
        0x38, 0xb0, 0x88, 0x46, 0x23, 0x20, 0x00, 0x20, 0x47, 0x20, 0x41, 0x00, 0x10, 0xa2, 0x47,
        0x01, 0xa0, 0x45, 0x20, 0x44, 0x00, 0x08, 0x45, 0x01, 0x50, 0x79, 0x00, 0xc0, 0x45, 0x20,
        0x05, 0x24, 0x13, 0x88, 0x05, 0xb4, 0x02, 0x4a, 0x44, 0xef, 0x03, 0x58, 0x02, 0x8c, 0x09,
        0x16, 0x01, 0x48, 0x45, 0x00, 0xbe, 0x00, 0x9e, 0x00, 0x04, 0x01, 0x18, 0x90, 0x00,
    };
    Bytes expected = text("F# F# G A A G F# E D D E F# F# E E F# F# G A A G F# E D D E F# E D D E E F# D E F# G "
                          "F# D E F# G F# E D E A F# F# G A A G F# E D D E F# E D D");
    expected.push_back(0);
    const Decoded d = decode(input, lznt1ChunkSize);
    EXPECT_EQ(d.result.problem, Lznt1Problem::None) << lznt1ProblemText(d.result.problem);
    EXPECT_EQ(d.result.chunks, 1u);
    EXPECT_EQ(d.bytes, expected);
}

TEST(Lznt1Format, ReferenceSplitFollowsThePositionInTheChunk)
{
    // A word is (offset - 1) << L | (length - 3), L = 12 length bits up to
    // position 16, 11 up to 32, ... 4 past 2048. Each word below was worked
    // out by hand for its position; 0x8002 at 2^k + 1 and 0xF002 at 16
    // mean "5 bytes from the chunk's start", and 0xF002 at 17 (5 offset bits:
    // offset 31) reaches before it.
    struct Case {
        std::size_t position; // literals before the reference
        std::uint16_t word;
        std::size_t offset; // 0: the reference must be refused
        std::size_t length;
    };
    const Case cases[] = {
        {3, 0x2000, 3, 3},       {16, 0xF002, 16, 5},     {16, 0x7004, 8, 7},      {17, 0x8002, 17, 5},
        {17, 0xF002, 0, 0},      {17, 0x3803, 8, 6},      {32, 0xF802, 32, 5},     {33, 0x8002, 33, 5},
        {33, 0xF802, 0, 0},      {64, 0xFC02, 64, 5},     {65, 0x8002, 65, 5},     {128, 0xFE02, 128, 5},
        {129, 0x8002, 129, 5},   {256, 0xFF02, 256, 5},   {257, 0x8002, 257, 5},   {512, 0xFF82, 512, 5},
        {513, 0x8002, 513, 5},   {1024, 0xFFC2, 1024, 5}, {1025, 0x8002, 1025, 5}, {2048, 0xFFE2, 2048, 5},
        {2049, 0x8002, 2049, 5}, {2049, 0x013F, 20, 18},  {4000, 0x05A0, 91, 3},   {4093, 0xFFC0, 4093, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("position " + std::to_string(c.position) + ", word " + std::to_string(c.word));
        // Literals cost a flag bit each, so past ~3600 bytes they no longer
        // fit in a chunk's 4096 data bytes: there the bytes before are 16
        // literals repeated by one long reference (12 length bits at 16).
        Bytes before;
        std::vector<Token> tokens;
        if (c.position <= 3000) {
            before = pattern(c.position);
            tokens = literals(before);
        } else {
            const Bytes seed = pattern(16);
            for (std::size_t i = 0; i < c.position; ++i)
                before.push_back(seed[i % 16]);
            tokens = literals(seed) + ref(static_cast<std::uint16_t>(0xF000 | (c.position - 16 - 3)));
        }
        const Decoded d = decode(compressedChunk(tokens + ref(c.word)), 2 * lznt1ChunkSize);
        if (c.offset == 0) {
            EXPECT_EQ(d.result.problem, Lznt1Problem::ReferenceBeforeChunk);
            EXPECT_EQ(d.bytes, before);
            continue;
        }
        ASSERT_LE(c.length, c.offset); // the expected copy is then a plain slice of what came before
        const auto from = before.begin() + static_cast<std::ptrdiff_t>(c.position - c.offset);
        const Bytes expected = concat({before, Bytes(from, from + static_cast<std::ptrdiff_t>(c.length))});
        EXPECT_EQ(d.result.problem, Lznt1Problem::None) << lznt1ProblemText(d.result.problem);
        EXPECT_EQ(d.bytes, expected);
    }
}

TEST(Lznt1Format, OverlappingReferenceRepeatsItsSource)
{
    struct Case {
        const char* before;
        std::uint16_t word; // 4 offset bits, 12 length bits at these positions
        const char* expected;
    };
    const Case cases[] = {
        {"a", 0x0007, "aaaaaaaaaaa"},   // offset 1, length 10
        {"abc", 0x2005, "abcabcabcab"}, // offset 3, length 8
        {"xyab", 0x1003, "xyabababab"}, // offset 2, length 6
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const Decoded d = decode(compressedChunk(literals(text(c.before)) + ref(c.word)), lznt1ChunkSize);
        EXPECT_EQ(d.result.problem, Lznt1Problem::None);
        EXPECT_EQ(d.bytes, text(c.expected));
    }
}

// --- Chunk rules and hostile input ----------------------------------------

TEST(Lznt1Chunks, RulesForDamagedAndHostileUnits)
{
    const Bytes full = pattern(lznt1ChunkSize);
    const Bytes abc = compressedChunk(literals(text("abc")));
    const Bytes xyz = storedChunk(text("xyz"));
    struct Case {
        const char* what;
        Bytes input;
        std::size_t outputSize;
        Lznt1Problem problem;
        std::size_t chunks;
        Bytes expected; // the whole of output[0, produced)
    };
    const Case cases[] = {
        {"empty input", {}, 8192, Lznt1Problem::None, 0, {}},
        {"zero header first", concat({zeros(2), abc}), 8192, Lznt1Problem::None, 0, {}},
        {"lone zero byte", zeros(1), 8192, Lznt1Problem::None, 0, {}},
        {"lone non-zero byte", {0x41}, 8192, Lznt1Problem::ChunkPastInput, 0, {}},
        {"chunk longer than the input", concat({{0x63, 0xB0}, zeros(10)}), 8192, Lznt1Problem::ChunkPastInput, 0, {}},
        {"second chunk past the input", concat({abc, {0x10, 0xB0, 1, 2, 3}}), 8192, Lznt1Problem::ChunkPastInput, 1,
         text("abc")},
        {"zero header ends the unit", concat({abc, zeros(2), xyz}), 8192, Lznt1Problem::None, 1, text("abc")},
        {"reference at position 0", compressedChunk({ref(0x0000)}), 8192, Lznt1Problem::ReferenceBeforeChunk, 1, {}},
        {"reference before the chunk", compressedChunk(literals(text("abcd")) + ref(0x4000)), 8192,
         Lznt1Problem::ReferenceBeforeChunk, 1, text("abcd")},
        // Offset 2 from position 1 of chunk 1 would be the last byte of chunk 0.
        {"reference into the previous chunk",
         concat({storedChunk(full), compressedChunk(literals(text("z")) + ref(0x1000))}), 8192,
         Lznt1Problem::ReferenceBeforeChunk, 2, concat({full, text("z")})},
        {"chunk ends inside a reference", Bytes{0x02, 0xB0, 0x02, 'a', 0x00}, 8192, Lznt1Problem::TruncatedToken, 1,
         text("a")},
        // 'a' and 4095 copies of it fill the chunk; the literal after is one too many.
        {"literal past 4096 bytes", compressedChunk(literals(text("a")) + ref(0x0FFC) + literals(text("b"))), 8192,
         Lznt1Problem::ChunkTooLong, 1, Bytes(lznt1ChunkSize, 'a')},
        {"reference past 4096 bytes is cut", compressedChunk(literals(text("a")) + ref(0x0FFF)), 8192,
         Lznt1Problem::ChunkTooLong, 1, Bytes(lznt1ChunkSize, 'a')},
        {"stored chunk shorter than 4096 bytes", storedChunk(text("hello")), 8192, Lznt1Problem::None, 1,
         text("hello")},
        {"stored chunk without signature", storedChunk(text("hello"), 0x0000), 8192, Lznt1Problem::None, 1,
         text("hello")},
        {"compressed chunk without signature", compressedChunk(literals(text("hello")), 0x8000), 8192,
         Lznt1Problem::None, 1, text("hello")},
        {"short chunk: the next starts at 4096", concat({abc, xyz}), 8192, Lznt1Problem::None, 2,
         concat({text("abc"), zeros(lznt1ChunkSize - 3), text("xyz")})},
        {"damaged chunk: the next still decodes",
         concat({compressedChunk(literals(text("ab")) + ref(0x2000)), storedChunk(text("ok"))}), 8192,
         Lznt1Problem::ReferenceBeforeChunk, 2, concat({text("ab"), zeros(lznt1ChunkSize - 2), text("ok")})},
        {"empty chunk keeps its place", concat({Bytes{0x00, 0xB0, 0x00}, xyz}), 8192, Lznt1Problem::None, 2,
         concat({zeros(lznt1ChunkSize), text("xyz")})},
        {"stored chunk into a smaller output", storedChunk(full), 10, Lznt1Problem::OutputFull, 1,
         Bytes(full.begin(), full.begin() + 10)},
        {"more chunks than the output holds", concat({storedChunk(full), storedChunk(full)}), lznt1ChunkSize,
         Lznt1Problem::OutputFull, 1, full},
        {"short chunk, next chunk past the output", concat({abc, xyz}), 100, Lznt1Problem::OutputFull, 1,
         concat({text("abc"), zeros(97)})},
        {"no output at all", abc, 0, Lznt1Problem::OutputFull, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = decode(c.input, c.outputSize);
        EXPECT_EQ(d.result.problem, c.problem) << lznt1ProblemText(d.result.problem);
        EXPECT_EQ(d.result.damaged(), c.problem != Lznt1Problem::None);
        EXPECT_EQ(d.result.chunks, c.chunks);
        EXPECT_EQ(d.result.produced, c.expected.size());
        EXPECT_TRUE(d.bytes == c.expected);
    }
}

} // namespace
} // namespace qis::ntfsdisk
