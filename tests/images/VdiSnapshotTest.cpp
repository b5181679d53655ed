// A snapshot VDI opened with its parent named by the caller (what --parent
// passes down), whatever the parent's name and folder.

#include "images/vdi/FileReadSeekVdi.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

namespace fs = std::filesystem;

TEST(VdiSnapshot, ParentGivenByTheCallerIsReadAndItsIdentityChecked)
{
    // The base as made, then another image in its place (its creation UUID changed).
    for (auto [createPatch, damage] : {std::pair<std::uint32_t, std::string>{0, ""},
                                       {0x0BADF00D, "disk.img is not the image this one was made from"}}) {
        test::TempDir dir;
        fs::create_directory(dir / "elsewhere");
        auto parent = dir / "elsewhere" / "disk.img";
        fs::copy_file(test::fixture("diff-base.vdi"), parent);
        if (createPatch)
            test::patchU32le(parent, 0x188, createPatch);

        FileReadSeekVdi reader;
        reader.parentPaths = {parent};
        ASSERT_TRUE(reader.open(test::fixtureCopy("diff-child.vdi", dir))) << reader.lastMessage();
        ASSERT_EQ(reader.layers.size(), 2u);
        EXPECT_EQ(reader.layers[1].path, parent);
        std::string noted;
        for (const auto& d : reader.damage)
            noted += d + "\n";
        EXPECT_NE(noted.find(damage), std::string::npos) << noted;
        EXPECT_EQ(noted.empty(), damage.empty()) << noted;

        // By position, across a block the child holds, its zero block and the base's.
        auto flat = test::readWholeFile(test::fixture("diff-chain-vdi.raw"));
        std::vector<std::uint8_t> ours(flat.size() - 4096);
        ASSERT_TRUE(reader.readAt(4096, ours));
        EXPECT_TRUE(std::equal(ours.begin(), ours.end(), flat.begin() + 4096));
    }
}

} // namespace
} // namespace qis
