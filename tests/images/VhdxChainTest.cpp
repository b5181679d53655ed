// The differencing VHDX reader below the command line: a parent the user
// names, the chain it records, reads by position and by seek, and parent
// locators that do not hold together.

#include "images/vhdx/FileReadSeekVHDX.h"
#include "images/vhdx/VhdxStructures.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace qis {
namespace {

namespace fs = std::filesystem;

TEST(VhdxChain, AParentNamedByTheUserIsReadWhateverItsNameAndPlace)
{
    test::TempDir dir;
    fs::create_directory(dir / "elsewhere");
    fs::copy_file(test::fixture("diff-base.vhdx"), dir / "elsewhere" / "renamed.vhdx");
    auto child = test::fixtureCopy("diff-child.avhdx", dir, "checkpoint.avhdx");
    const auto flat = test::readWholeFile(test::fixture("diff-chain-vhdx.raw"));

    FileReadSeekVHDX reader;
    reader.parentPaths = {dir / "elsewhere" / "renamed.vhdx"};
    ASSERT_TRUE(reader.open(child)) << reader.lastMessage();
    ASSERT_EQ(reader.layers.size(), 2u);
    EXPECT_EQ(reader.layers[1].path.filename(), "renamed.vhdx");
    EXPECT_EQ(reader.layers[1].format, ImageFormat::Vhdx);
    EXPECT_TRUE(reader.damage.empty()) << reader.damage.front();

    std::vector<std::uint8_t> disk(flat.size());
    ASSERT_TRUE(reader.readAt(0, disk));
    EXPECT_TRUE(disk == flat);

    // Sector by sector through the partially present block, where the runs
    // change between this file and the parent.
    std::vector<std::uint8_t> sector(512);
    for (std::uint64_t s = 2048; s < 4096; ++s) {
        ASSERT_TRUE(reader.seek(static_cast<std::int64_t>(s * 512), 0));
        ASSERT_TRUE(reader.read(sector.data(), 512));
        ASSERT_EQ(std::memcmp(sector.data(), flat.data() + s * 512, 512), 0) << "sector " << s;
    }
}

// A locator header: type GUID, reserved, count; then (key offset, value
// offset, key length, value length) entries.
std::vector<std::uint8_t> locatorBytes(std::uint16_t count, std::vector<std::array<std::uint32_t, 4>> entries,
                                       const std::u16string& strings)
{
    std::vector<std::uint8_t> b(20, 0);
    b[18] = static_cast<std::uint8_t>(count);
    b[19] = static_cast<std::uint8_t>(count >> 8);
    auto put = [&b](std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    for (const auto& e : entries) {
        put(e[0], 4);
        put(e[1], 4);
        put(e[2], 2);
        put(e[3], 2);
    }
    for (char16_t c : strings)
        put(c, 2);
    return b;
}

TEST(VhdxChain, ParentLocatorEntriesOutsideTheItemAreSkipped)
{
    // "relative_path" (13 units) then "a.vhdx" (6 units), after one 12-byte entry.
    const std::u16string strings = u"relative_patha.vhdx";
    struct Case {
        const char* name;
        std::uint16_t count;
        std::array<std::uint32_t, 4> entry;
        const char* relativePath;
        std::uint32_t damaged;
    } cases[] = {
        {"sound", 1, {32, 58, 26, 12}, "a.vhdx", 0},
        // Only what fits is read: the string bytes taken as three more entries point nowhere.
        {"count beyond the item", 0xFFFF, {32, 58, 26, 12}, "a.vhdx", 3},
        {"value past the end", 1, {32, 58, 26, 14}, "", 1},
        {"odd length", 1, {32, 58, 26, 11}, "", 1},
        {"offset near 4 GiB", 1, {32, 0xFFFFFFF0u, 26, 12}, "", 1},
    };
    for (const auto& c : cases) {
        auto bytes = locatorBytes(c.count, {c.entry}, strings);
        auto locator = vhdx::ParentLocator::parse(bytes);
        EXPECT_EQ(locator.relativePath, c.relativePath) << c.name;
        EXPECT_EQ(locator.damagedEntries, c.damaged) << c.name;
    }
}

TEST(VhdxChain, LinkageTextIsReadAsTheGuidStoredOnDisk)
{
    const Guid expected = makeGuid(0xC49A4734, 0x9474, 0x094F, 0x9887, 0x9AB8633C99CD);
    EXPECT_EQ(vhdx::parseGuidText("{c49a4734-9474-094f-9887-9ab8633c99cd}"), expected);
    EXPECT_EQ(vhdx::parseGuidText("C49A4734-9474-094F-9887-9AB8633C99CD"), expected);
    for (const char* bad : {"", "{c49a4734-9474-094f-9887-9ab8633c99cd", "c49a4734x9474-094f-9887-9ab8633c99cd",
                            "{g49a4734-9474-094f-9887-9ab8633c99cd}"})
        EXPECT_FALSE(vhdx::parseGuidText(bad).has_value()) << bad;
}

} // namespace
} // namespace qis
