// qsalvage carve with the default signatures on a disk that holds files
// made by their own tools (tests/fixtures/make-doc-carve-files.sh) a block
// apart: each comes back byte for byte, under the name its contents give.

#include "support/DocCarveFiles.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace qis {
namespace {

TEST(CarveDocCli, ScriptsXmlPhoneJpegsAndUpdatedPdfsComeBackWhole)
{
    struct Placed {
        std::uint64_t offset;
        const char* file;
        const char* carvedAs; // category folder and name
    };
    const Placed placed[] = {
        {4096, "tool.py", "Programs/4096 .py"},        {8192, "drawing.svg", "Text/8192 .svg"},
        {12288, "phone.jpg", "Pictures/12288 .jpg"},   {16384, "updated.pdf", "Documents/16384 .pdf"},
        {20480, "thumbed.jpg", "Pictures/20480 .jpg"}, {24576, "book.epub", "Documents/24576 .epub"},
        {28672, "linear.pdf", "Documents/28672 .pdf"}, {36864, "inbox.mbox", "Documents/36864 .mbox"},
        {40960, "data.json", "Text/40960 .json"},
    };
    test::TempDir dir;
    std::vector<std::uint8_t> disk(1048576, 0);
    for (const Placed& p : placed) {
        auto bytes = test::readWholeFile(test::docCarveFiles() / p.file);
        ASSERT_LE(bytes.size(), 8192u) << p.file;
        std::copy(bytes.begin(), bytes.end(), disk.begin() + static_cast<std::ptrdiff_t>(p.offset));
    }
    // Right after the mailbox, binary, as slack from an older file holds.
    const auto mboxEnd = 36864 + std::filesystem::file_size(test::docCarveFiles() / "inbox.mbox");
    std::fill(disk.begin() + static_cast<std::ptrdiff_t>(mboxEnd), disk.begin() + 40960, 0xA5);
    test::writeWholeFile(dir / "disk.img", disk);

    auto out = dir / "out";
    auto r = test::runQsalvage({"carve", (dir / "disk.img").string(), "--disk", "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const Placed& p : placed)
        EXPECT_TRUE(test::sameContents(out / p.carvedAs, test::docCarveFiles() / p.file)) << p.carvedAs;
    // Nothing else: not the EXIF thumbnail that stands at a sector start
    // inside thumbed.jpg, nor the second image of phone.jpg.
    std::set<std::string> carved;
    for (const auto& e : std::filesystem::recursive_directory_iterator(out))
        if (e.is_regular_file())
            carved.insert(std::filesystem::relative(e.path(), out).string());
    EXPECT_EQ(carved.size(), std::size(placed)) << r.out;
}

} // namespace
} // namespace qis
