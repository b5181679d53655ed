// The JPEG scan decoder on real files of carve.img (cjpeg baseline with
// optimized tables, 2x2-sampled, progressive with an EXIF thumbnail): whole
// as they are, broken soon after foreign bytes come in, and resumable from
// a checkpoint over other bytes.

#include "images/raw/FileReadSeekRaw.h"
#include "recovery/carving/validation/JpegEntropy.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <random>

namespace qis {
namespace {

using carve::validation::JpegDecoder;
using carve::validation::Source;

struct Photo {
    const char* what;
    std::uint64_t offset, length; // in carve.img
    // Whether its scans are all decoded (a progressive file's refinement
    // scans are walked by their markers only).
    bool decoded;
};
const Photo kPhotos[] = {
    {"baseline, optimized tables", 44032, 15542, true},
    {"progressive, EXIF thumbnail", 89600, 20850, false},
    {"EXIF thumbnail", 0, 38801, true},
};

class JpegEntropy : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(reader.open(test::fixture("carve.img"))); }
    FileReadSeekRaw reader;
};

TEST_F(JpegEntropy, RealPhotosDecodeWholeToTheirEnd)
{
    for (const Photo& p : kPhotos) {
        Source s(reader, p.offset, p.length + 4096);
        const auto r = JpegDecoder(s).run();
        EXPECT_TRUE(r.whole) << p.what << " broke at " << r.brokeAt;
        EXPECT_EQ(r.length, p.length) << p.what;
    }
}

TEST_F(JpegEntropy, RandomBytesInTheScanBreakTheDecodingSoonAfter)
{
    test::TempDir dir;
    std::mt19937 random(7);
    for (const Photo& p : kPhotos) {
        auto bytes = test::readWholeFile(test::fixture("carve.img"));
        std::vector<std::uint8_t> photo(bytes.begin() + static_cast<std::ptrdiff_t>(p.offset),
                                        bytes.begin() + static_cast<std::ptrdiff_t>(p.offset + p.length));
        const std::size_t from = photo.size() / 2, to = from + 1024;
        for (std::size_t i = from; i < to; ++i)
            photo[i] = static_cast<std::uint8_t>(random());
        test::writeWholeFile(dir / "photo.jpg", photo);
        FileReadSeekRaw damaged;
        ASSERT_TRUE(damaged.open(dir / "photo.jpg"));
        Source s(damaged, 0, photo.size());
        const auto r = JpegDecoder(s).run();
        EXPECT_FALSE(r.whole) << p.what;
        EXPECT_GE(r.brokeAt, from) << p.what;
        if (p.decoded) {
            EXPECT_LE(r.brokeAt, to) << p.what << ": random bytes decode for too long";
        }

        // From any checkpoint before the damage, the undamaged bytes decode
        // whole; one pass makes them all, and past damage the decoding saw
        // the checkpoint is the scan's start.
        Source good(reader, p.offset, p.length);
        std::vector<std::uint64_t> offsets{0, from / 3, from - 700, from};
        if (p.decoded)
            offsets.push_back(to + 4096);
        const std::vector<JpegDecoder> resumed = JpegDecoder(s).checkpointsBefore(offsets);
        ASSERT_EQ(resumed.size(), offsets.size());
        for (std::size_t k = 0; k < offsets.size(); ++k) {
            JpegDecoder d = resumed[k];
            d.rebind(good);
            const auto again = d.run();
            EXPECT_TRUE(again.whole) << p.what << " from " << offsets[k];
            EXPECT_EQ(again.length, p.length) << p.what << " from " << offsets[k];
        }
    }
}

} // namespace
} // namespace qis
