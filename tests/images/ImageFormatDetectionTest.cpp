// Which row of the opener table a file gets: by its signatures first, by its
// extension only between equally strong answers, and raw when it carries
// no signature at all, whatever its name.

#include "images/ImageFormat.h"
#include "support/Fixtures.h"
#include "support/NumberedDisk.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qis {
namespace {

struct DetectCase {
    const char* fixture;
    ImageFormat format;
    const char* name;           // formatName of the format
    const char* otherExtension; // another format's extension, which must not matter
};

TEST(ImageFormatDetection, RealImagesByTheirContentUnderAnyName)
{
    const DetectCase cases[] = {
        {"numbered-default.vhdx", ImageFormat::Vhdx, "VHDX", ".vhd"},
        {"numbered-1m.vhdx", ImageFormat::Vhdx, "VHDX", ".img"},
        {"numbered-dynamic.vhd", ImageFormat::Vhd, "VHD", ".vhdx"},
        {"numbered-fixed.vhd", ImageFormat::Vhd, "VHD", ".vmdk"},
        {"numbered.vdi", ImageFormat::Vdi, "VDI", ".vmdk"},
        {"numbered.vmdk", ImageFormat::Vmdk, "VMDK", ".vdi"},
        {"numbered.vdi", ImageFormat::Vdi, "VDI", ".vhdx"},
        {"numbered-compressed.qcow2", ImageFormat::Qcow2, "QCOW2", ".img"},
        {"numbered-v2.qcow2", ImageFormat::Qcow2, "QCOW2", ".vmdk"},
        {"carve.img", ImageFormat::Raw, "RAW", ".vhd"},
        {"carve.img", ImageFormat::Raw, "RAW", ".vmdk"},
        {"carve.img", ImageFormat::Raw, "RAW", ".qcow2"},
    };
    test::TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        const std::filesystem::path image = test::fixture(c.fixture);
        // Links give the same bytes other names without copying them.
        const std::string stem = std::to_string(n++) + "-" + c.fixture;
        for (const std::string& name : {stem + ".bin", stem + c.otherExtension}) {
            std::filesystem::create_symlink(image, dir / name);
            EXPECT_EQ(detectImageFormat(dir / name), c.format) << name;
        }
        ImageFormat detected = detectImageFormat(image);
        EXPECT_EQ(detected, c.format) << c.fixture;
        EXPECT_EQ(formatName(detected), c.name) << c.fixture;
    }
}

TEST(ImageFormatDetection, WeakerSignaturesOfDamagedImages)
{
    test::TempDir dir;
    // File identifier gone: the region table still says VHDX.
    auto vhdx = test::fixtureCopy("numbered-default.vhdx", dir, "disk.bin");
    test::patchFile(vhdx, 0, std::vector<std::uint8_t>(8, 0));
    EXPECT_EQ(detectImageFormat(vhdx), ImageFormat::Vhdx);
    // And with both region tables' signatures gone too, nothing is left.
    test::patchFile(vhdx, 192 * 1024, std::vector<std::uint8_t>(4, 0));
    test::patchFile(vhdx, 256 * 1024, std::vector<std::uint8_t>(4, 0));
    EXPECT_EQ(detectImageFormat(vhdx), ImageFormat::Raw);

    // A fixed VHD whose footer cookie is damaged is a raw disk followed by a
    // sector of noise: detected as raw despite its name, and read as one.
    auto fixed = test::fixtureCopy("numbered-fixed.vhd", dir, "fixed.vhd");
    const std::uint64_t footerAt = std::filesystem::file_size(fixed) - 512;
    test::patchFile(fixed, footerAt, {'x'});
    ImageFormat format = detectImageFormat(fixed);
    EXPECT_EQ(format, ImageFormat::Raw);
    auto reader = createReader(format);
    ASSERT_TRUE(reader->open(fixed)) << reader->lastMessage();
    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE(reader->seek(std::int64_t{100} << 20, 0));
    ASSERT_TRUE(reader->read(sector.data(), 512));
    EXPECT_EQ(sector, test::numberedSector(100 << 11));
}

// Writes `size` zero bytes with the given byte strings placed at their offsets.
std::filesystem::path writeImage(const test::TempDir& dir, const std::string& name, std::size_t size,
                                 const std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>>& parts)
{
    std::vector<std::uint8_t> bytes(size, 0);
    for (const auto& [at, part] : parts)
        std::memcpy(bytes.data() + at, part.data(), part.size());
    test::writeWholeFile(dir / name, bytes);
    return dir / name;
}

std::vector<std::uint8_t> text(const char* s) { return {s, s + std::strlen(s)}; }

TEST(ImageFormatDetection, StrongerSignatureWinsAndTheNameBreaksTies)
{
    test::TempDir dir;
    const std::vector<std::uint8_t> vmdkMagic = {'K', 'D', 'M', 'V'};
    const std::vector<std::uint8_t> vdiSignature = {0x7F, 0x10, 0xDA, 0xBE};
    struct Case {
        const char* name;
        std::size_t size;
        std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> parts;
        ImageFormat expected;
    };
    const Case cases[] = {
        // Two signatures in the first sector: the extension decides, else the table's order.
        {"both.vdi", 4096, {{0, vmdkMagic}, {0x40, vdiSignature}}, ImageFormat::Vdi},
        {"both.VMDK", 4096, {{0, vmdkMagic}, {0x40, vdiSignature}}, ImageFormat::Vmdk},
        {"both.bin", 4096, {{0, vmdkMagic}, {0x40, vdiSignature}}, ImageFormat::Vmdk},
        // A header signature outranks a footer, whatever the name says.
        {"header.vhd", 4096, {{0, vmdkMagic}, {4096 - 512, text("conectix")}}, ImageFormat::Vmdk},
        // A footer outranks a structure found further in.
        {"footer.vhdx", 512 * 1024, {{192 * 1024, text("regi")}, {512 * 1024 - 512, text("conectix")}},
         ImageFormat::Vhd},
        // No signature: raw, even under a format's name.
        {"blank.vhd", 4096, {}, ImageFormat::Raw},
        {"blank.vhdx", 512 * 1024, {}, ImageFormat::Raw},
        {"blank.vdi", 4096, {}, ImageFormat::Raw},
        {"short.vmdk", 3, {{0, {'K', 'D', 'M'}}}, ImageFormat::Raw},
        // The qcow2 magic opens the file; a header signature of another format ties and the name decides.
        {"magic.img", 4096, {{0, {'Q', 'F', 'I', 0xFB}}}, ImageFormat::Qcow2},
        {"magic.vdi", 4096, {{0, {'Q', 'F', 'I', 0xFB}}, {0x40, vdiSignature}}, ImageFormat::Vdi},
        {"magic.qcow2", 4096, {{0, {'Q', 'F', 'I', 0xFB}}, {0x40, vdiSignature}}, ImageFormat::Qcow2},
        {"late-magic.qcow2", 4096, {{512, {'Q', 'F', 'I', 0xFB}}}, ImageFormat::Raw},
        {"empty.vhd", 0, {}, ImageFormat::Raw},
    };
    for (const auto& c : cases)
        EXPECT_EQ(detectImageFormat(writeImage(dir, c.name, c.size, c.parts)), c.expected) << c.name;
    EXPECT_EQ(detectImageFormat(dir / "missing.vhdx"), ImageFormat::Raw);
}

} // namespace
} // namespace qis
