// The catalog records a leaf node's table no longer names, read out of
// nodes laid out by hand: what counts as a record, and that nothing read
// leaves the node or reaches into its offset table.

#include "filesystems/hfsplus/HfsStructures.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace qis {
namespace {

using namespace hfsdisk;

constexpr std::size_t kNode = 1024;

void be16(std::vector<std::uint8_t>& n, std::size_t at, std::uint16_t v)
{
    n[at] = static_cast<std::uint8_t>(v >> 8);
    n[at + 1] = static_cast<std::uint8_t>(v);
}
void be32(std::vector<std::uint8_t>& n, std::size_t at, std::uint32_t v)
{
    be16(n, at, static_cast<std::uint16_t>(v >> 16));
    be16(n, at + 2, static_cast<std::uint16_t>(v));
}

// A folder (type 1, 88 bytes of data) or file (type 2, 248) record at `at`
// named `name`; returns its length.
std::size_t putRecord(std::vector<std::uint8_t>& n, std::size_t at, std::uint16_t type, std::uint32_t parent,
                      std::uint32_t id, const std::string& name)
{
    be16(n, at, static_cast<std::uint16_t>(6 + 2 * name.size()));
    be32(n, at + 2, parent);
    be16(n, at + 6, static_cast<std::uint16_t>(name.size()));
    for (std::size_t i = 0; i < name.size(); ++i)
        be16(n, at + 8 + 2 * i, static_cast<std::uint8_t>(name[i]));
    const std::size_t data = at + 8 + 2 * name.size();
    be16(n, data, type);
    be32(n, data + 8, id);
    return 8 + 2 * name.size() + (type == 1 ? 88 : 248);
}

// A leaf node whose table names the records at `live`.
std::vector<std::uint8_t> leaf(const std::vector<std::uint16_t>& live)
{
    std::vector<std::uint8_t> n(kNode, 0);
    n[8] = 0xFF; // kind −1
    n[9] = 1;
    be16(n, 10, static_cast<std::uint16_t>(live.size()));
    for (std::size_t k = 0; k < live.size(); ++k)
        be16(n, kNode - 2 * (k + 1), live[k]);
    return n;
}

struct Case {
    const char* what;
    std::function<std::vector<std::uint8_t>()> node;
    std::vector<std::pair<std::size_t, std::uint32_t>> expected; // offset, CNID
};

TEST(HfsLooseRecords, FindsRecordsTheTableNoLongerNamesAndNothingElse)
{
    const std::vector<Case> cases = {
        {"a record in the free space behind the last one",
         [] {
             auto n = leaf({14});
             std::size_t len = putRecord(n, 14, 2, 16, 20, "live");
             putRecord(n, 14 + len, 2, 16, 21, "gone");
             return n;
         },
         {{14 + 8 + 8 + 248, 21}}},
        {"a record whose offset left the table, between two live ones",
         [] {
             auto n = leaf({14, 0});
             std::size_t a = putRecord(n, 14, 1, 2, 16, "a");
             std::size_t b = putRecord(n, 14 + a, 2, 16, 17, "b");
             putRecord(n, 14 + a + b, 1, 2, 18, "c");
             be16(n, kNode - 4, static_cast<std::uint16_t>(14 + a + b));
             return n;
         },
         {{14 + 8 + 2 + 88, 17}}},
        {"a live record is not found again, nor is anything inside it",
         [] {
             auto n = leaf({14});
             std::size_t len = putRecord(n, 14, 2, 16, 20, "live");
             // A record's shape inside the live record's data.
             putRecord(n, 14 + len - 120, 1, 16, 30, "x");
             return n;
         },
         {}},
        {"a record running into the offset table",
         [] {
             auto n = leaf({});
             putRecord(n, kNode - 2 - 8 - 2 - 248 + 2, 2, 16, 22, "f"); // ends one table slot too far
             return n;
         },
         {}},
        {"a record running off the end of the node",
         [] {
             auto n = leaf({});
             n.resize(kNode + 300);
             putRecord(n, kNode - 100, 2, 16, 23, "f");
             n.resize(kNode);
             return n;
         },
         {}},
        {"zero key and name lengths",
         [] {
             auto n = leaf({});
             putRecord(n, 100, 2, 16, 24, "");
             be16(n, 200, 0);
             be16(n, 200 + 2 + 0, 2);
             return n;
         },
         {}},
        {"a key longer than its name (an index key's padding)",
         [] {
             auto n = leaf({});
             putRecord(n, 40, 1, 2, 25, "pad");
             be16(n, 40, 6 + 2 * 3 + 2);
             return n;
         },
         {}},
        {"reserved IDs, and a record that is its own parent",
         [] {
             auto n = leaf({});
             std::size_t a = putRecord(n, 14, 1, 1, 2, "root");
             putRecord(n, 14 + a, 1, 40, 40, "self");
             return n;
         },
         {}},
        {"thread records are passed over whole",
         [] {
             auto n = leaf({14});
             // A thread record: key with an empty name, type 3, parent and name.
             be16(n, 14, 6);
             be32(n, 16, 40);
             be16(n, 22, 3);
             be32(n, 26, 2);
             be16(n, 30, 1);
             be16(n, 32, 'm');
             putRecord(n, 34, 2, 40, 41, "after");
             return n;
         },
         {{34, 41}}},
        {"an index node is not searched",
         [] {
             auto n = leaf({});
             n[8] = 0;
             putRecord(n, 14, 2, 16, 26, "f");
             return n;
         },
         {}},
        {"a record count whose table would cover the node",
         [] {
             auto n = leaf({});
             putRecord(n, 14, 2, 16, 27, "f");
             be16(n, 10, 0xFFFF);
             return n;
         },
         {}},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> node = c.node();
        ASSERT_EQ(node.size(), kNode) << c.what;
        std::vector<std::pair<std::size_t, std::uint32_t>> got;
        for (const LooseRecord& r : looseCatalogRecords(node, 100))
            got.emplace_back(r.offset, r.record.id);
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

TEST(HfsLooseRecords, StopsAtTheLimit)
{
    auto n = leaf({});
    std::size_t at = 14, put = 0;
    for (std::uint32_t id = 16; at + 8 + 2 + 88 <= kNode - 2; ++id, ++put)
        at += putRecord(n, at, 1, 2, id, "d");
    ASSERT_GT(put, 2u);
    EXPECT_EQ(looseCatalogRecords(n, 100).size(), put);
    EXPECT_EQ(looseCatalogRecords(n, 2).size(), 2u);
}

} // namespace
} // namespace qis
