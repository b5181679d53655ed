// The allocation bitmap both NTFS ($Bitmap) and HFS+ (the allocation file)
// are judged by: each bit order, ranges across bytes and pieces, units
// past the bitmap and bytes that could not be read.

#include "filesystems/AllocationBitmap.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qis {
namespace {

AllocationBitmap over(std::vector<std::uint8_t> bytes, AllocationBitmap::BitOrder order, std::uint64_t readable)
{
    const std::uint64_t size = bytes.size();
    return AllocationBitmap(size, order, [bytes, readable](std::uint64_t at, std::span<std::uint8_t> out) {
        for (std::size_t i = 0; i < out.size() && at + i < readable; ++i)
            out[i] = bytes[static_cast<std::size_t>(at + i)];
    });
}

TEST(AllocationBitmap, TellsUnitsInUseInEitherBitOrder)
{
    using Order = AllocationBitmap::BitOrder;
    std::vector<std::uint8_t> bytes(200000, 0); // more than one piece
    bytes[1] = 0x01;                            // unit 8 (low bit first) or 15 (high bit first)
    bytes[150000] = 0x80;                       // unit 1200007 or 1200000
    struct Case {
        Order order;
        std::uint64_t first, count;
        bool inUse;
    } cases[] = {
        {Order::LowBitFirst, 0, 8, false},        {Order::LowBitFirst, 8, 1, true},
        {Order::LowBitFirst, 9, 1199990, false},  {Order::LowBitFirst, 1200007, 1, true},
        {Order::LowBitFirst, 3, 6, true},         {Order::HighBitFirst, 8, 7, false},
        {Order::HighBitFirst, 15, 1, true},       {Order::HighBitFirst, 1200000, 1, true},
        {Order::HighBitFirst, 1200001, 400, false}, {Order::LowBitFirst, 1599999, 1, false},
        {Order::LowBitFirst, 1600000, 1, true},   // past the bitmap
        {Order::LowBitFirst, 1599999, UINT64_MAX, true},
    };
    for (const Case& c : cases) {
        AllocationBitmap bitmap = over(bytes, c.order, bytes.size());
        EXPECT_EQ(bitmap.anyInUse(c.first, c.count), c.inUse) << c.first << "+" << c.count;
    }
    // Bytes that could not be read are taken as in use.
    AllocationBitmap cut = over(bytes, Order::LowBitFirst, 100);
    EXPECT_FALSE(cut.anyInUse(16, 100));
    EXPECT_TRUE(cut.anyInUse(800, 1));
}

} // namespace
} // namespace qis
