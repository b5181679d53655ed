// The file information each format shows, and the differencing VHDX.

#include "images/ImageInformation.h"
#include "images/vdi/VdiFormat.h"
#include "images/vhd/FileReadSeekVHD.h"
#include "images/vhdx/FileReadSeekVHDX.h"
#include "images/vhdx/VhdxFormat.h"
#include "support/Fixtures.h"
#include "support/NumberedDisk.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

struct InfoCase {
    const char* fixture;
    ImageFormat format;
    const char* version;
    const char* sectorPerTrack, *head, *cylinder; // as qemu-img wrote them
};

TEST(ImageInformation, FieldsOfEachFormat)
{
    const InfoCase cases[] = {
        {"numbered-default.vhdx", ImageFormat::Vhdx, "1", "N/A", "N/A", "N/A"},
        {"numbered-dynamic.vhd", ImageFormat::Vhd, "65536", "17", "16", "964"},
        {"numbered.vdi", ImageFormat::Vdi, "65537", "0", "0", "0"},
        {"numbered.vmdk", ImageFormat::Vmdk, "1", "63", "16", "260"},
    };
    for (const auto& c : cases) {
        auto info = readImageInformation(test::fixture(c.fixture), c.format);
        ASSERT_TRUE(info.ok) << c.fixture;
        EXPECT_EQ(info.fileFormatVersion, c.version) << c.fixture;
        EXPECT_EQ(info.sizeOfHdd, "128 MB") << c.fixture;
        EXPECT_EQ(info.sectorPerTrack, c.sectorPerTrack) << c.fixture;
        EXPECT_EQ(info.head, c.head) << c.fixture;
        EXPECT_EQ(info.cylinder, c.cylinder) << c.fixture;
        EXPECT_FALSE(info.differencing) << c.fixture;
        EXPECT_TRUE(info.messages.empty()) << c.fixture;
    }
}

TEST(ImageInformation, VhdxWithMoreThanOneChunk)
{
    auto info = vhdxInformation(test::fixture("big-6g.vhdx"));
    ASSERT_TRUE(info.ok);
    EXPECT_EQ(info.sizeOfHdd, "6144 MB");
    EXPECT_EQ(info.diskSectorCount, 6ull << 21);
    FileReadSeekVHDX reader;
    ASSERT_TRUE(reader.open(test::fixture("big-6g.vhdx")));
    EXPECT_EQ(reader.layout().chunkRatio, (1ull << 23) * 512 / reader.layout().blockSize);
}

// The name decides only where the content does not: a file that is not
// named as the format and does not carry its signature gets the format's
// own refusal; one that carries it is read whatever its name.
TEST(ImageInformation, ExtensionTestsOfTheImagePage)
{
    test::TempDir dir;
    auto zeros = dir / "disk.vhd";
    test::writeWholeFile(zeros, std::vector<std::uint8_t>(1 << 16, 0));
    auto info = vhdxInformation(zeros);
    EXPECT_FALSE(info.ok);
    ASSERT_EQ(info.messages.size(), 1u);
    EXPECT_EQ(info.messages[0], "Please select valid vhdx file to continue the recovery process.");
    FileReadSeekVHDX vhdx;
    EXPECT_FALSE(vhdx.open(zeros));
    EXPECT_EQ(vhdx.lastMessage(), "not a vhd file");
    auto zerosImg = dir / "disk.img";
    test::writeWholeFile(zerosImg, std::vector<std::uint8_t>(1 << 16, 0));
    auto vdiInfo = vdiInformation(zerosImg);
    EXPECT_FALSE(vdiInfo.ok);
    EXPECT_EQ(vdiInfo.messages.at(0), "not a vdi file");

    auto upper = test::fixtureCopy("numbered-default.vhdx", dir, "DISK.VHDX");
    EXPECT_TRUE(FileReadSeekVHDX().open(upper));
    FileReadSeekVHD vhd;
    EXPECT_FALSE(vhd.open(upper));
    EXPECT_EQ(vhd.lastMessage(), "Not a vhd file");

    auto vhdxNamedVhd = test::fixtureCopy("numbered-default.vhdx", dir, "copy.vhd");
    EXPECT_TRUE(vhdxInformation(vhdxNamedVhd).ok);
    EXPECT_TRUE(FileReadSeekVHDX().open(vhdxNamedVhd));
    EXPECT_TRUE(vdiInformation(test::fixtureCopy("numbered.vdi", dir, "vm.img")).ok);
}

TEST(ImageInformation, DifferencingVhdxWithoutParentLocatorIsNotReadAlone)
{
    test::TempDir dir;
    auto image = test::fixtureCopy("numbered-1m.vhdx", dir, "child.vhdx");
    FileReadSeekVHDX plain;
    ASSERT_TRUE(plain.open(image));
    // File Parameters Flags bit 1: HasParent, with no parent locator item.
    std::uint64_t flagsAt = plain.layout().fileParametersAt + 4;
    auto bytes = test::readWholeFile(image);
    test::patchU32le(image, flagsAt, bytes[flagsAt] | 2u);

    auto info = vhdxInformation(image);
    ASSERT_TRUE(info.ok);
    EXPECT_TRUE(info.differencing);
    ASSERT_EQ(info.messages.size(), 1u);
    EXPECT_EQ(info.messages[0], "This is a differencing VHDX; it does not name its parent.");

    // Its own blocks alone would pass off the parent's sectors as zeros.
    FileReadSeekVHDX child;
    EXPECT_FALSE(child.open(image));
    EXPECT_FALSE(child.lastMessage().empty());
}

TEST(ImageInformation, FormatsAreToldBySignatureNotName)
{
    test::TempDir dir;
    EXPECT_EQ(detectImageFormat(test::fixtureCopy("numbered.vdi", dir, "a.bin")), ImageFormat::Vdi);
    EXPECT_EQ(detectImageFormat(test::fixtureCopy("numbered.vmdk", dir, "b.bin")), ImageFormat::Vmdk);
    EXPECT_EQ(detectImageFormat(test::fixtureCopy("numbered-fixed.vhd", dir, "c.bin")), ImageFormat::Vhd);
    EXPECT_EQ(detectImageFormat(test::fixtureCopy("numbered-default.vhdx", dir, "d.bin")), ImageFormat::Vhdx);
    auto raw = dir / "e.img";
    test::writeWholeFile(raw, std::vector<std::uint8_t>(4096, 0));
    EXPECT_EQ(detectImageFormat(raw), ImageFormat::Raw);
}

} // namespace
} // namespace qis
