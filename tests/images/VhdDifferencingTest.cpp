// The differencing VHD reader: which names of its parent it tries, in what
// order, with hostile locators passed over; and its sector bitmaps read from
// several threads at once.

#include "images/vhd/FileReadSeekVHD.h"
#include "images/vhd/VhdParent.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <thread>

namespace qis {
namespace {

// The child's locator table: W2ku first, then W2ru (header at 512, table at 0x240).
constexpr std::uint64_t kW2kuEntry = 512 + 0x240;
constexpr std::uint64_t kW2ruEntry = kW2kuEntry + 24;
const std::string kRelative = ".\\diff-base.vhd";
const std::string kAbsolute = "C:\\Hyper-V\\Virtual Hard Disks\\diff-base.vhd";
const std::string kUnicode = "diff-base.vhd";

std::vector<std::uint8_t> u64be(std::uint64_t v)
{
    std::vector<std::uint8_t> bytes(8);
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<std::uint8_t>(v >> (56 - 8 * i));
    return bytes;
}

TEST(VhdDifferencing, ParentNamesInTheOrderToTryAndHostileLocatorsPassedOver)
{
    struct Case {
        const char* what;
        std::function<void(const std::filesystem::path&)> patch;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"as written", [](auto&) {}, {kRelative, kAbsolute, kUnicode}},
        {"relative path past the end of the file",
         [](const std::filesystem::path& f) { test::patchFile(f, kW2ruEntry + 0x10, u64be(std::filesystem::file_size(f) - 4)); },
         {kAbsolute, kUnicode}},
        {"relative path offset that wraps",
         [](const std::filesystem::path& f) { test::patchFile(f, kW2ruEntry + 0x10, u64be(~std::uint64_t{0} - 8)); },
         {kAbsolute, kUnicode}},
        {"relative path longer than any path",
         [](const std::filesystem::path& f) { test::patchU32be(f, kW2ruEntry + 8, 0x7FFFFFFF); },
         {kAbsolute, kUnicode}},
        {"absolute path as a Mac URL, which names nothing here",
         [](const std::filesystem::path& f) { test::patchFile(f, kW2kuEntry, {'M', 'a', 'c', 'X'}); },
         {kRelative, kUnicode}},
        {"relative path given as the old 8-bit kind",
         [](const std::filesystem::path& f) { test::patchFile(f, kW2ruEntry, {'W', 'i', '2', 'r'}); },
         {kAbsolute, ".", kUnicode}}, // UTF-16 read a byte at a time stops at its first NUL
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        auto child = test::fixtureCopy("diff-child.vhd", dir);
        c.patch(child);
        ImageFile file;
        ASSERT_TRUE(file.open(child));
        auto layout = vhd::readVhdLayout(file);
        ASSERT_TRUE(layout);
        auto names = vhd::parentNames(file, layout.value());
        EXPECT_EQ(names, c.names);
    }
}

TEST(VhdDifferencing, ThreadsReadingAtOnceSeeTheChainsDisk)
{
    test::fixture("diff-base.vhd");
    FileReadSeekVHD child;
    ASSERT_TRUE(child.open(test::fixture("diff-child.vhd"))) << child.lastMessage();
    ASSERT_TRUE(child.readsConcurrently());
    const auto flat = test::readWholeFile(test::fixture("diff-chain-vhd.raw"));
    ASSERT_EQ(child.diskSectorCount * 512, flat.size());

    // Each thread reads the whole disk in pieces of its own size, so that
    // runs start and end inside blocks and bitmaps at different places.
    const std::size_t pieces[] = {512, 1536, 4096 + 512, 65536 + 1024};
    std::vector<int> mismatches(std::size(pieces), 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < std::size(pieces); ++t)
        threads.emplace_back([&, t] {
            std::vector<std::uint8_t> buffer(pieces[t]);
            for (std::size_t at = 0; at < flat.size(); at += buffer.size()) {
                std::span<std::uint8_t> part(buffer.data(), std::min(buffer.size(), flat.size() - at));
                if (!child.readAt(at, part) || !std::equal(part.begin(), part.end(), flat.begin() + at))
                    ++mismatches[t];
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(mismatches, std::vector<int>(std::size(pieces), 0));
}

TEST(VhdDifferencing, AParentTheUserNamesIsTakenBeforeTheStoredNames)
{
    test::TempDir dir;
    auto child = test::fixtureCopy("diff-child.vhd", dir);
    test::fixtureCopy("diff-base.vhd", dir);
    auto renamed = test::fixtureCopy("diff-base.vhd", dir, "renamed.vhd");
    FileReadSeekVHD named;
    named.parentPaths = {renamed};
    ASSERT_TRUE(named.open(child)) << named.lastMessage();
    ASSERT_EQ(named.layers.size(), 2u);
    EXPECT_EQ(named.layers[1].path.filename(), "renamed.vhd");
    EXPECT_TRUE(named.damage.empty());
}

} // namespace
} // namespace qis
