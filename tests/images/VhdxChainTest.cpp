// Parent locators of a differencing VHDX that do not hold together.

#include "images/vhdx/VhdxStructures.h"

#include <gtest/gtest.h>

#include <array>

namespace qis {
namespace {

// A locator of one entry (key offset, value offset, key length, value
// length) that claims `count`, then "relative_path" and "a.vhdx" in UTF-16.
std::vector<std::uint8_t> locatorBytes(std::uint16_t count, const std::array<std::uint32_t, 4>& e)
{
    std::vector<std::uint8_t> b(20, 0);
    b[18] = static_cast<std::uint8_t>(count);
    b[19] = static_cast<std::uint8_t>(count >> 8);
    for (std::uint64_t v : {std::uint64_t{e[0]}, std::uint64_t{e[1]}, std::uint64_t{e[2] | e[3] << 16}})
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    for (char c : std::string("relative_patha.vhdx"))
        b.insert(b.end(), {static_cast<std::uint8_t>(c), 0});
    return b;
}

TEST(VhdxChain, ParentLocatorEntriesOutsideTheItemAreSkipped)
{
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
        auto locator = vhdx::ParentLocator::parse(locatorBytes(c.count, c.entry));
        EXPECT_EQ(locator.relativePath, c.relativePath) << c.name;
        EXPECT_EQ(locator.damagedEntries, c.damaged) << c.name;
    }
}

} // namespace
} // namespace qis
