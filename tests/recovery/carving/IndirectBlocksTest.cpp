#include "recovery/carving/IndirectBlocks.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

constexpr std::uint64_t kBlock = 1024;
constexpr std::uint64_t kDisk = 64 * kBlock;
constexpr std::uint64_t kStart = 20 * kBlock; // the file's first block; its indirect block is block 32

// The layout found for a file at kStart whose block 32 holds `pointers`.
std::optional<carve::IndirectLayout> layoutWith(const std::vector<std::uint32_t>& pointers, bool knownGeometry)
{
    test::TempDir dir;
    std::vector<std::uint8_t> disk(kDisk, 0x5A);
    std::fill_n(disk.begin() + 32 * kBlock, kBlock, std::uint8_t{0});
    for (std::size_t i = 0; i < pointers.size(); ++i)
        for (int b = 0; b < 4; ++b)
            disk[32 * kBlock + 4 * i + b] = static_cast<std::uint8_t>(pointers[i] >> (8 * b));
    test::writeWholeFile(dir / "disk.img", disk);
    FileReadSeekRaw reader;
    EXPECT_TRUE(reader.open(dir / "disk.img"));
    std::optional<carve::ExtGeometry> known;
    if (knownGeometry)
        known = carve::ExtGeometry{kBlock, 0, true};
    return carve::followIndirectBlocks(reader, kStart, kDisk - kStart, kDisk, known);
}

TEST(IndirectBlocks, PointersAreFollowedExactlyAndHostileOnesEndTheWalk)
{
    const struct {
        const char* what;
        std::vector<std::uint32_t> pointers;
        bool known;
        std::optional<carve::FileLayout> pointed; // the pieces before the last one is stretched to the end
        bool unmistakable;
    } kCases[] = {
        {"data right after it",
         {33, 34, 35},
         true,
         carve::FileLayout{{kStart, 12 * kBlock}, {33 * kBlock, 3 * kBlock}},
         true},
        {"data elsewhere, in two runs",
         {40, 41, 50},
         true,
         carve::FileLayout{{kStart, 12 * kBlock}, {40 * kBlock, 2 * kBlock}, {50 * kBlock, kBlock}},
         true},
        {"a loop back into the file's first blocks ends it",
         {33, 34, 25, 36},
         true,
         carve::FileLayout{{kStart, 12 * kBlock}, {33 * kBlock, 2 * kBlock}},
         true},
        {"the indirect block itself", {32}, true, std::nullopt, false},
        {"a block past the disk", {33 + 1000000}, true, std::nullopt, false},
        {"a zero among the pointers", {33, 0, 35}, true, std::nullopt, false},
        {"all zeros", {}, true, std::nullopt, false},
        {"base derived from the first pointer",
         {33, 34, 35},
         false,
         carve::FileLayout{{kStart, 12 * kBlock}, {33 * kBlock, 3 * kBlock}},
         true},
        {"one derived pointer proves nothing",
         {33},
         false,
         carve::FileLayout{{kStart, 12 * kBlock}, {33 * kBlock, kBlock}},
         false},
        {"a base after the file's start", {5, 6}, false, std::nullopt, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        auto found = layoutWith(c.pointers, c.known);
        ASSERT_EQ(found.has_value(), c.pointed.has_value());
        if (!found)
            continue;
        EXPECT_EQ(found->unmistakable, c.unmistakable);
        EXPECT_EQ(found->covered, carve::layoutLength(*c.pointed));
        ASSERT_EQ(found->layout.size(), c.pointed->size());
        for (std::size_t i = 0; i < found->layout.size(); ++i) {
            EXPECT_EQ(found->layout[i].offset, (*c.pointed)[i].offset) << i;
            // The last piece runs on to the end of the disk.
            EXPECT_EQ(found->layout[i].length,
                      i + 1 < found->layout.size() ? (*c.pointed)[i].length : kDisk - found->layout[i].offset)
                << i;
        }
    }
}

} // namespace
} // namespace qis
