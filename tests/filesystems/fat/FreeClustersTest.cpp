// The free-cluster map and the runs a deleted file is read from, against a
// plain cluster-by-cluster reading of the same bitmap: the word-at-a-time
// searches must agree with it across word boundaries and the volume's end.

#include "filesystems/fatfamily/ClusterCopy.h"
#include "filesystems/fatfamily/FreeClusters.h"

#include <gtest/gtest.h>

#include <random>

namespace qis {
namespace {

TEST(FreeClusters, WordSearchesAgreeWithAClusterByClusterReading)
{
    std::mt19937 rnd(7);
    for (std::uint64_t clusters : {1ull, 63ull, 64ull, 65ull, 130ull, 1000ull}) {
        SCOPED_TRACE(clusters);
        // Long stretches of one kind, so runs cross word boundaries.
        std::vector<std::uint8_t> bitmap((clusters + 7) / 8 + 1);
        bool used = false;
        for (std::uint64_t i = 0; i < bitmap.size() * 8; ++i) {
            if (rnd() % 23 == 0)
                used = !used;
            if (used)
                bitmap[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
        }
        auto map = FreeClusters::fromBitmap(bitmap, clusters);
        auto isFree = [&](std::uint64_t c) { return c >= 2 && c < clusters + 2 && !((bitmap[(c - 2) / 8] >> ((c - 2) % 8)) & 1); };
        ASSERT_EQ(map.limit(), clusters + 2);
        for (std::uint64_t c = 0; c < clusters + 4; ++c) {
            EXPECT_EQ(map.isFree(c), isFree(c)) << c;
            std::uint64_t free = c, in = c, count = 0;
            while (free < map.limit() && !isFree(free))
                ++free;
            while (in < map.limit() && isFree(in))
                ++in;
            EXPECT_EQ(map.nextFree(c), std::min(free, map.limit())) << c;
            EXPECT_EQ(map.nextUsed(c), std::min(in, map.limit())) << c;
            for (std::uint64_t k = c; k < map.limit(); ++k)
                count += isFree(k);
            EXPECT_TRUE(map.freeAtLeast(c, count)) << c;
            EXPECT_FALSE(map.freeAtLeast(c, count + 1)) << c;
            EXPECT_EQ(map.allFree(c, 3), isFree(c) && isFree(c + 1) && isFree(c + 2)) << c;
        }
    }
    // A bitmap shorter than the volume says nothing of the clusters past it.
    auto shortMap = FreeClusters::fromBitmap(std::vector<std::uint8_t>(2, 0), 100);
    EXPECT_TRUE(shortMap.isFree(17));
    EXPECT_FALSE(shortMap.isFree(18));
}

TEST(DeletedClusters, GuessedRunsPassOverClustersInUseAndARunMarksThemLost)
{
    // Clusters 2 … 21; in use: 5, 6, 10.
    std::vector<std::uint8_t> bitmap(3, 0);
    for (unsigned c : {5u, 6u, 10u})
        bitmap[(c - 2) / 8] |= static_cast<std::uint8_t>(1u << ((c - 2) % 8));
    auto map = FreeClusters::fromBitmap(bitmap, 20);
    auto runs = [&](DeletedClusters::Layout layout, std::uint64_t first, std::uint64_t count,
                    std::vector<ClusterRun> passOver = {}) {
        std::vector<std::tuple<std::uint64_t, std::uint64_t, bool>> out;
        DeletedClusters d(map, layout, first, count, passOver);
        while (auto r = d.next())
            out.emplace_back(r->first, r->count, r->lost);
        return out;
    };
    using R = std::vector<std::tuple<std::uint64_t, std::uint64_t, bool>>;
    using L = DeletedClusters::Layout;
    EXPECT_EQ(runs(L::Guessed, 3, 5), (R{{3, 2, false}, {7, 3, false}}));
    EXPECT_EQ(runs(L::Guessed, 5, 3), (R{{5, 1, true}, {7, 2, false}}));
    // The volume ends first: fewer clusters than asked for.
    EXPECT_EQ(runs(L::Guessed, 19, 10), (R{{19, 3, false}}));
    // Other deleted files' runs are passed over like clusters in use: one
    // inside a free stretch, one that begins where a stretch begins, one
    // already behind.
    EXPECT_EQ(runs(L::Guessed, 3, 6, {{1, 3}, {8, 2}, {11, 1}}), (R{{3, 2, false}, {7, 1, false}, {12, 3, false}}));
    EXPECT_EQ(runs(L::OneRun, 4, 4), (R{{4, 1, false}, {5, 2, true}, {7, 1, false}}));
    EXPECT_EQ(runs(L::OneRun, 20, 5), (R{{20, 2, false}}));

    EXPECT_EQ(DeletedClusters::judge(map, L::Guessed, 3, 5), Recoverability::Guessed);
    EXPECT_EQ(DeletedClusters::judge(map, L::Guessed, 5, 1), Recoverability::PartlyOverwritten);
    EXPECT_EQ(DeletedClusters::judge(map, L::Guessed, 19, 4), Recoverability::PartlyOverwritten);
    EXPECT_EQ(DeletedClusters::judge(map, L::OneRun, 11, 11), Recoverability::Whole);
    EXPECT_EQ(DeletedClusters::judge(map, L::OneRun, 4, 4), Recoverability::PartlyOverwritten);
    EXPECT_EQ(DeletedClusters::judge(map, L::OneRun, 11, 12), Recoverability::PartlyOverwritten);
}

} // namespace
} // namespace qis
