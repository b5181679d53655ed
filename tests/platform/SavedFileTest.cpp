// A saved file whose bytes come partly from writes, partly straight from
// another file inside the system, and partly as holes, in any order.

#include "platform/OutputFolder.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace qis {
namespace {

TEST(SavedFile, CopiesFromAnotherFileLandWhereTheFileStandsBetweenWritesAndHoles)
{
    test::TempDir dir;
    std::vector<std::uint8_t> source(10000);
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<std::uint8_t>(i * 7 + 3);
    test::writeWholeFile(dir / "source.bin", source);
    const int fd = ::open((dir / "source.bin").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    auto folder = OutputFolder::open(dir.path());
    ASSERT_TRUE(folder);
    SavedFile out;
    ASSERT_TRUE(out.create(*folder, "out.bin"));

    std::vector<std::uint8_t> expected;
    auto copy = [&](std::uint64_t offset, std::uint64_t length) {
        std::uint64_t copied = 99;
        EXPECT_TRUE(out.copyFrom(fd, offset, length, copied));
        // Past the source's end only what is there is copied.
        const std::uint64_t there = offset >= source.size() ? 0 : std::min<std::uint64_t>(length, source.size() - offset);
        EXPECT_EQ(copied, there) << "at " << offset;
        if (copied == there && there > 0)
            expected.insert(expected.end(), source.begin() + static_cast<std::ptrdiff_t>(offset),
                            source.begin() + static_cast<std::ptrdiff_t>(offset + there));
    };
    const std::vector<std::uint8_t> text{'a', 'b', 'c'};
    ASSERT_TRUE(out.write(text));
    expected.insert(expected.end(), text.begin(), text.end());
    copy(100, 4000);
    ASSERT_TRUE(out.skip(5));
    expected.insert(expected.end(), 5, 0);
    copy(0, 10);
    ASSERT_TRUE(out.write(text));
    expected.insert(expected.end(), text.begin(), text.end());
    copy(9000, 5000);
    copy(20000, 10);
    EXPECT_EQ(out.written(), expected.size());
    ASSERT_TRUE(out.close());
    ::close(fd);
    EXPECT_EQ(test::readWholeFile(dir / "out.bin"), expected);
}

} // namespace
} // namespace qis
