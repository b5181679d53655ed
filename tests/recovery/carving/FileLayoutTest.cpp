// A carved file whose bytes lie in pieces: reading through its layout gives
// the pieces' bytes in file order, whatever range is asked for.

#include "images/raw/FileReadSeekRaw.h"
#include "recovery/carving/FileLayout.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <numeric>

namespace qis {
namespace {

using carve::FileLayout;

TEST(FileLayout, ReadsThePiecesInFileOrderAndZerosPastTheEnd)
{
    // Byte k of the disk holds k mod 251, so every byte tells where it came from.
    test::TempDir dir;
    std::vector<std::uint8_t> disk(8192);
    for (std::size_t k = 0; k < disk.size(); ++k)
        disk[k] = static_cast<std::uint8_t>(k % 251);
    test::writeWholeFile(dir / "disk.img", disk);
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(dir / "disk.img"));

    // Three pieces, the second before the first on the disk, as a file
    // written around another one is.
    const FileLayout layout{{4096, 700}, {1000, 300}, {6000, 1024}};
    ASSERT_EQ(carve::layoutLength(layout), 2024u);
    std::vector<std::size_t> expected; // the disk offset of each file byte
    for (const auto& p : layout)
        for (std::uint64_t i = 0; i < p.length; ++i)
            expected.push_back(static_cast<std::size_t>(p.offset + i));

    struct Read {
        std::uint64_t from, length;
    };
    for (const Read r : {Read{0, 2024}, Read{650, 400}, Read{699, 2}, Read{1000, 24}, Read{2000, 24}}) {
        std::vector<std::uint8_t> out(r.length);
        EXPECT_TRUE(carve::readThroughLayout(reader, layout, r.from, out)) << r.from;
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], disk[expected[r.from + i]]) << "file byte " << r.from + i;
    }

    // Past the layout's end: zeros, and said.
    std::vector<std::uint8_t> tail(48, 0xEE);
    EXPECT_FALSE(carve::readThroughLayout(reader, layout, 2000, tail));
    EXPECT_EQ(tail[23], disk[expected[2023]]);
    EXPECT_TRUE(std::all_of(tail.begin() + 24, tail.end(), [](std::uint8_t b) { return b == 0; }));

    const FileLayout cut = carve::layoutPrefix(layout, 800);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[1].offset, 1000u);
    EXPECT_EQ(cut[1].length, 100u);
}

} // namespace
} // namespace qis
