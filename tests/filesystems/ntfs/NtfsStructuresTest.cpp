// Decoding NTFS run lists and update-sequence fixups, including the damaged
// and crafted forms a recovery tool meets.

#include "filesystems/ntfs/NtfsStructures.h"

#include <gtest/gtest.h>

namespace qis::ntfsdisk {
void PrintTo(const DataRun& r, std::ostream* os)
{
    *os << "{" << r.lcn << ", " << r.length << (r.sparse ? ", sparse" : "") << "}";
}
} // namespace qis::ntfsdisk

namespace qis {
namespace {

using namespace ntfsdisk;

struct RunCase {
    const char* what;
    std::vector<std::uint8_t> list;
    std::uint64_t clusterCount;
    std::vector<DataRun> expected;
};

TEST(NtfsRunList, DecodesLengthsAndSignedDeltas)
{
    const RunCase cases[] = {
        {"one run", {0x21, 0x10, 0x00, 0x01, 0x00}, 100, {{256, 16, false}}},
        {"a delta backwards by 4096 clusters",
         {0x21, 0x10, 0x00, 0x20, 0x31, 0x08, 0x00, 0xF0, 0xFF, 0x00},
         100,
         {{0x2000, 16, false}, {0x2000 - 4096, 8, false}}},
        {"a sparse run keeps the cluster number",
         {0x11, 0x04, 0x40, 0x01, 0x08, 0x11, 0x04, 0x10, 0x00},
         100,
         {{0x40, 4, false}, {0, 8, true}, {0x50, 4, false}}},
        {"runs past the attribute's clusters are dropped",
         {0x11, 0x04, 0x40, 0x11, 0x04, 0x10, 0x11, 0x04, 0x10, 0x00},
         8,
         {{0x40, 4, false}, {0x50, 4, false}}},
        // Lengths and cluster numbers beyond 32 bits are kept whole.
        {"64-bit length and cluster",
         {0x55, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00},
         ~0ull,
         {{0x0200000000ull, 0x0100000000ull, false}}},
        {"a delta that would make the cluster negative ends the list",
         {0x11, 0x04, 0x10, 0x11, 0x04, 0x80, 0x00},
         100,
         {{0x10, 4, false}}},
        {"a field running past the list ends it", {0x11, 0x04, 0x10, 0x44, 0x01, 0x02}, 100, {{0x10, 4, false}}},
        {"a zero-length run is skipped", {0x11, 0x00, 0x10, 0x11, 0x02, 0x10, 0x00}, 100, {{0x20, 2, false}}},
        {"field sizes above 8 end the list", {0x91, 0x04}, 100, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decodeRunList(c.list, c.clusterCount), c.expected) << c.what;
}

std::vector<std::uint8_t> recordWithFixups(std::uint16_t check, std::uint16_t end1, std::uint16_t end2)
{
    std::vector<std::uint8_t> r(1024, 0);
    r[0] = 'F', r[1] = 'I', r[2] = 'L', r[3] = 'E';
    r[4] = 0x30; // update sequence array at 0x30
    r[6] = 3;    // check value and two entries
    r[0x30] = check & 0xFF, r[0x31] = check >> 8;
    r[0x32] = end1 & 0xFF, r[0x33] = end1 >> 8;
    r[0x34] = end2 & 0xFF, r[0x35] = end2 >> 8;
    r[510] = check & 0xFF, r[511] = check >> 8;
    r[1022] = check & 0xFF, r[1023] = check >> 8;
    return r;
}

TEST(NtfsFixups, RestoresSectorEndsAndReportsTornRecords)
{
    auto r = recordWithFixups(0x0102, 0xAABB, 0xCCDD);
    EXPECT_TRUE(applyFixups(r));
    EXPECT_EQ(r[510], 0xBB);
    EXPECT_EQ(r[511], 0xAA);
    EXPECT_EQ(r[1022], 0xDD);
    EXPECT_EQ(r[1023], 0xCC);

    auto torn = recordWithFixups(0x0102, 0xAABB, 0xCCDD);
    torn[1022] = 0x55; // the second sector was written later than the first
    EXPECT_FALSE(applyFixups(torn));
    EXPECT_EQ(torn[1022], 0xDD); // used all the same

    // Counts and offsets that point outside the record patch nothing there.
    auto crafted = recordWithFixups(0x0102, 0xAABB, 0xCCDD);
    crafted[6] = 0xFF;
    crafted[7] = 0xFF;
    EXPECT_TRUE(applyFixups(crafted));
    auto outside = recordWithFixups(0x0102, 0xAABB, 0xCCDD);
    outside[4] = 0xFE;
    outside[5] = 0x03; // array at 1022
    applyFixups(outside);
    EXPECT_EQ(outside[510], 0x02);
}

TEST(NtfsAttributes, WalkStopsAtDamage)
{
    std::vector<std::uint8_t> r(1024, 0);
    r[0x14] = 0x38; // first attribute
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            r[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put32(0x38, kAttrStandardInformation);
    put32(0x3C, 0x60);
    put32(0x98, kAttrFileName);
    put32(0x9C, 0); // a zero length would never move on
    EXPECT_EQ(walkAttributes(r).size(), 1u);
    put32(0x9C, 0x1000); // past the record
    EXPECT_EQ(walkAttributes(r).size(), 1u);
    put32(0x9C, 0x68);
    put32(0x100, kAttrEnd);
    EXPECT_EQ(walkAttributes(r).size(), 2u);
}

} // namespace
} // namespace qis
