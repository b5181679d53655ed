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

// A record whose only attribute, a $FILE_NAME, was taken out after the record
// was freed: the end marker over its type and length, the rest behind.
std::vector<std::uint8_t> freedExtensionRecord(const std::u16string& name)
{
    std::vector<std::uint8_t> r(1024, 0);
    auto put16 = [&](std::size_t at, std::uint16_t v) {
        r[at] = static_cast<std::uint8_t>(v);
        r[at + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        put16(at, static_cast<std::uint16_t>(v));
        put16(at + 2, static_cast<std::uint16_t>(v >> 16));
    };
    r[0x14] = 0x38;
    put32(0x38, kAttrEnd);
    put32(0x48, static_cast<std::uint32_t>(0x42 + 2 * name.size())); // value length
    put16(0x4C, 0x18);                                                // value offset
    put32(0x50, 66);                                                  // parent record 66
    r[0x50 + 0x40] = static_cast<std::uint8_t>(name.size());
    for (std::size_t i = 0; i < name.size(); ++i)
        put16(0x50 + 0x42 + 2 * i, name[i]);
    return r;
}

TEST(NtfsRemovedFileName, ReadsOnlyAWholeFileNameBehindTheEndMarker)
{
    auto r = freedExtensionRecord(u"attrlist.txt");
    auto name = removedFileName(r);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->name, u"attrlist.txt");
    EXPECT_EQ(name->parentRecord(), 66u);

    struct Damage {
        const char* what;
        std::size_t at;
        std::uint8_t value;
    };
    for (const Damage& d : {Damage{"no end marker", 0x38, 0x30}, Damage{"non-resident", 0x40, 1},
                            Damage{"named attribute", 0x41, 4}, Damage{"value elsewhere", 0x4C, 0x20},
                            Damage{"value longer than the name", 0x48, 0x62},
                            Damage{"name longer than the value", 0x50 + 0x40, 40}}) {
        auto bad = freedExtensionRecord(u"attrlist.txt");
        bad[d.at] = d.value;
        EXPECT_FALSE(removedFileName(bad)) << d.what;
    }
    // A name that would run past the record.
    auto edge = freedExtensionRecord(u"x");
    edge[0x14] = 0xF0;
    edge[0x15] = 0x03; // the marker at 0x3F0: the value would leave the record
    std::copy(edge.begin() + 0x38, edge.begin() + 0x38 + 16, edge.begin() + 0x3F0);
    EXPECT_FALSE(removedFileName(edge));
}

TEST(NtfsAttributeList, EntriesEndAtDamageAndBehindACutShortList)
{
    std::vector<std::uint8_t> list;
    auto entry = [&](std::uint32_t type, std::uint16_t length, std::uint64_t vcn, std::uint64_t record,
                     std::uint16_t sequence) {
        std::vector<std::uint8_t> e(length, 0);
        for (int i = 0; i < 4; ++i)
            e[i] = static_cast<std::uint8_t>(type >> (8 * i));
        e[4] = static_cast<std::uint8_t>(length);
        e[5] = static_cast<std::uint8_t>(length >> 8);
        const std::uint64_t reference = record | (std::uint64_t{sequence} << 48);
        for (int i = 0; i < 8; ++i) {
            e[8 + i] = static_cast<std::uint8_t>(vcn >> (8 * i));
            e[16 + i] = static_cast<std::uint8_t>(reference >> (8 * i));
        }
        list.insert(list.end(), e.begin(), e.end());
    };
    entry(kAttrStandardInformation, 32, 0, 80, 1);
    entry(kAttrData, 32, 0, 80, 1);
    entry(kAttrData, 32, 215, 90, 1);
    entry(kAttrFileName, 32, 0, 89, 1); // out of order: what a cut-short list leaves behind
    auto all = parseAttributeList(list, 100);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[2].recordNumber, 90u);
    EXPECT_EQ(all[2].sequence, 1u);
    EXPECT_EQ(all[2].startingVcn, 215u);
    EXPECT_EQ(parseAttributeList(list, 100, true).size(), 3u);
    EXPECT_EQ(parseAttributeList(list, 2).size(), 2u);
    list[32 + 4] = 8; // shorter than an entry's fixed part
    EXPECT_EQ(parseAttributeList(list, 100).size(), 1u);
    list[32 + 4] = 0xFF;
    list[32 + 5] = 0xFF; // past the list
    EXPECT_EQ(parseAttributeList(list, 100).size(), 1u);
}

TEST(NtfsSequence, AFreedRecordMovesOnByOneSkippingZero)
{
    EXPECT_TRUE(sameOrFreedSince(5, 5, false));
    EXPECT_FALSE(sameOrFreedSince(5, 6, false));
    EXPECT_TRUE(sameOrFreedSince(5, 6, true));
    EXPECT_FALSE(sameOrFreedSince(5, 7, true));
    EXPECT_TRUE(sameOrFreedSince(0xFFFF, 1, true));
    EXPECT_FALSE(sameOrFreedSince(0xFFFF, 0, true));
}

} // namespace
} // namespace qis
