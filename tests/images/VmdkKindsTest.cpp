// VMDK images of every kind qemu-img makes, read sector for sector against
// its own raw conversion, and the descriptor and stream structures a
// hostile or damaged image may bend.

#include "images/ImageFormat.h"
#include "images/ImageInformation.h"
#include "images/vmdk/FileReadSeekVmdk.h"
#include "platform/ImageFile.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

namespace qis {
namespace {

using test::patchU64le;

struct VmdkKind {
    const char* image;
    std::vector<const char*> companions; // the other files its descriptor names
};

std::ostream& operator<<(std::ostream& os, const VmdkKind& k) { return os << k.image; }

// Decompresses the image's extents and parents beside it.
std::filesystem::path vmdkFixture(const VmdkKind& kind)
{
    for (const char* companion : kind.companions)
        test::fixture(companion);
    return test::fixture(kind.image);
}

// Every byte the reader gives equals the reference, in 1 MiB reads, and
// reads that start inside a sector agree too.
void expectSameAsReference(readWriteInterface& reader, const std::filesystem::path& reference)
{
    ImageFile ref;
    ASSERT_TRUE(ref.open(reference));
    ASSERT_EQ(reader.diskSectorCount * 512, ref.size());
    constexpr std::size_t kChunk = 1u << 20;
    std::vector<std::uint8_t> ours(kChunk), theirs(kChunk);
    for (std::uint64_t at = 0; at < ref.size(); at += kChunk) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, ref.size() - at));
        ASSERT_TRUE(reader.readAt(at, {ours.data(), n})) << "at " << at;
        if (test::isHole(reference, at, n)) {
            ASSERT_TRUE(std::all_of(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(n),
                                    [](std::uint8_t b) { return b == 0; }))
                << "data where qemu-img has none, in the MiB at " << at;
            continue;
        }
        ASSERT_EQ(ref.readAt(at, {theirs.data(), n}), n);
        ASSERT_EQ(0, std::memcmp(ours.data(), theirs.data(), n)) << "first difference in the MiB at " << at;
    }
    std::mt19937_64 random(7);
    for (int i = 0; i < 200; ++i) {
        std::uint64_t at = random() % (ref.size() - 5000);
        std::vector<std::uint8_t> a(5000), b(5000);
        ASSERT_TRUE(reader.readAt(at, a)) << at;
        ref.readAt(at, b);
        ASSERT_EQ(a, b) << "at " << at;
    }
}

class VmdkKinds : public ::testing::TestWithParam<VmdkKind> {};

TEST_P(VmdkKinds, DetectedAndReadAsQemuReadsThem)
{
    auto image = vmdkFixture(GetParam());
    ASSERT_EQ(detectImageFormat(image), ImageFormat::Vmdk);
    auto reader = createReader(ImageFormat::Vmdk);
    ASSERT_TRUE(reader->open(image)) << reader->lastMessage();
    expectSameAsReference(*reader, test::qemuRawReference(image, "vmdk"));
    EXPECT_EQ(readImageInformation(image, ImageFormat::Vmdk).diskSectorCount, reader->diskSectorCount);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, VmdkKinds,
    ::testing::Values(VmdkKind{"vmdk-streamOptimized.vmdk", {}}, VmdkKind{"fat16-stream.vmdk", {}},
                      VmdkKind{"vmdk-monolithicFlat.vmdk", {"vmdk-monolithicFlat-flat.vmdk"}},
                      VmdkKind{"vmdk-twoGbMaxExtentFlat.vmdk", {"vmdk-twoGbMaxExtentFlat-f001.vmdk"}},
                      VmdkKind{"vmdk-twoGbMaxExtentSparse.vmdk", {"vmdk-twoGbMaxExtentSparse-s001.vmdk"}},
                      VmdkKind{"vmdk-snapshot.vmdk",
                               {"vmdk-twoGbMaxExtentSparse.vmdk", "vmdk-twoGbMaxExtentSparse-s001.vmdk"}},
                      VmdkKind{"big-6g-split.vmdk",
                               {"big-6g-split-s001.vmdk", "big-6g-split-s002.vmdk", "big-6g-split-s003.vmdk"}}),
    [](const auto& info) {
        std::string n = info.param.image;
        for (char& c : n)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return n;
    });

void writeText(const std::filesystem::path& path, const std::string& text)
{
    test::writeWholeFile(path, {text.begin(), text.end()});
}

std::string descriptorWith(const std::string& extents, const std::string& more = "")
{
    return "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\ncreateType=\"monolithicFlat\"\n" +
           more + extents;
}

// Flat extents in any order, from offsets into a shared file, as qemu-img
// reads the same hand-written descriptor.
TEST(VmdkDescriptor, FlatExtentsAtOffsetsReadAsQemuReadsThem)
{
    test::TempDir dir;
    std::filesystem::copy_file(test::fixture("vmdk-monolithicFlat-flat.vmdk"), dir / "data.bin");
    auto image = dir / "mixed.vmdk";
    writeText(image, descriptorWith("RW 4096 FLAT \"data.bin\" 4096\nRW 3 FLAT \"data.bin\" 0\n"
                                    "RW 4093 FLAT \"data.bin\" 3\n"));
    auto reference = dir / "mixed.raw";
    auto convert = test::runCommand("qemu-img convert -f vmdk -O raw " + test::shellQuote(image.string()) + " " +
                                    test::shellQuote(reference.string()));
    ASSERT_EQ(convert.exitCode, 0) << convert.err;
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(image)) << reader.lastMessage();
    EXPECT_EQ(reader.disk().files.size(), 1u) << "a file named twice is opened once";
    expectSameAsReference(reader, reference);
}

// qemu-img leaves out extents that are not RW and bare ZERO lines; both are
// part of the disk all the same.
TEST(VmdkDescriptor, ZeroAndReadOnlyExtentsAreParts)
{
    test::TempDir dir;
    auto data = test::fixture("vmdk-monolithicFlat-flat.vmdk");
    std::filesystem::copy_file(data, dir / "data.bin");
    auto image = dir / "parts.vmdk";
    writeText(image, descriptorWith("RW 3 FLAT \"data.bin\" 0\nRW 100 ZERO\nRDONLY 5 FLAT \"data.bin\" 3\n"));
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(image)) << reader.lastMessage();
    ASSERT_EQ(reader.diskSectorCount, 108u);
    auto flat = test::readWholeFile(data);
    std::vector<std::uint8_t> disk(108 * 512, 0xee), expected(108 * 512, 0);
    std::copy(flat.begin(), flat.begin() + 3 * 512, expected.begin());
    std::copy(flat.begin() + 3 * 512, flat.begin() + 8 * 512, expected.begin() + 103 * 512);
    ASSERT_TRUE(reader.readAt(0, disk));
    EXPECT_EQ(disk, expected);
}

TEST(VmdkDescriptor, ExtentsOutsideTheFolderOrMissingAreRefusedByName)
{
    test::TempDir dir;
    std::filesystem::create_directory(dir / "disk");
    std::filesystem::copy_file(test::fixture("vmdk-monolithicFlat-flat.vmdk"), dir / "outside.bin");
    std::filesystem::create_symlink(dir / "outside.bin", dir / "disk" / "link.bin");
    struct Case {
        std::string extent;
        std::string message;
    };
    const Case cases[] = {
        {"RW 8192 FLAT \"../outside.bin\" 0\n",
         "The VMDK extent \"../outside.bin\" cannot be read: only names inside the descriptor's folder are read."},
        {"RW 8192 FLAT \"" + (dir / "outside.bin").string() + "\" 0\n",
         "The VMDK extent \"" + (dir / "outside.bin").string() +
             "\" cannot be read: only names inside the descriptor's folder are read."},
        {"RW 8192 FLAT \"link.bin\" 0\n", "The VMDK extent \"link.bin\" cannot be read: it is a symbolic link."},
        {"RW 8192 SPARSE \"gone-s001.vmdk\"\n", "The VMDK extent \"gone-s001.vmdk\" cannot be read: "},
        {"RW 8192 VMFSSPARSE \"x.vmdk\"\n", "VMDK extents of type VMFSSPARSE are not read."},
        {"RW 18446744073709551615 ZERO\nRW 1 ZERO\n", "The VMDK descriptor's extents are too large."},
        {"", "The VMDK descriptor names no extents."},
    };
    for (const Case& c : cases) {
        auto image = dir / "disk" / "d.vmdk";
        writeText(image, descriptorWith(c.extent));
        FileReadSeekVmdk reader;
        EXPECT_FALSE(reader.open(image)) << c.extent;
        EXPECT_EQ(reader.lastMessage().substr(0, c.message.size()), c.message) << c.extent;
    }
}

TEST(VmdkSnapshot, ChainsThatLoopClimbOutOrRunTooDeepAreRefused)
{
    test::TempDir dir;
    auto link = [&](const std::string& name, const std::string& parent) {
        writeText(dir / name, descriptorWith("RW 8 ZERO\n", "parentFileNameHint=\"" + parent + "\"\n"));
        return dir / name;
    };
    link("a.vmdk", "b.vmdk");
    link("b.vmdk", "a.vmdk");
    link("self.vmdk", "self.vmdk");
    link("up.vmdk", "../elsewhere.vmdk");
    writeText(dir / "c0.vmdk", descriptorWith("RW 8 ZERO\n"));
    for (int i = 1; i <= 70; ++i)
        link("c" + std::to_string(i) + ".vmdk", "c" + std::to_string(i - 1) + ".vmdk");
    struct Case {
        const char* image;
        bool opens;
        const char* says;
    };
    for (Case c : {Case{"a.vmdk", false, "loops back to a.vmdk"}, Case{"self.vmdk", false, "loops back"},
                   Case{"up.vmdk", false, "\"../elsewhere.vmdk\" of up.vmdk was not found"},
                   Case{"c70.vmdk", false, "longer than 64 images"}, Case{"c64.vmdk", false, "longer than 64 images"},
                   Case{"c63.vmdk", true, ""}}) {
        FileReadSeekVmdk reader;
        EXPECT_EQ(reader.open(dir / c.image), c.opens) << c.image << ": " << reader.lastMessage();
        EXPECT_NE(reader.lastMessage().find(c.says), std::string::npos) << c.image << ": " << reader.lastMessage();
        if (c.opens) {
            EXPECT_EQ(reader.layers.size(), 64u);
        }
    }

    // A parent written to since the snapshot (another CID) is read, and said.
    for (const char* cid : {"fffffffe", "FFFFFFFE", "0badcafe"}) {
        link("stale.vmdk", "c0.vmdk\"\nparentCID=" + std::string(cid) + "\n#");
        FileReadSeekVmdk reader;
        ASSERT_TRUE(reader.open(dir / "stale.vmdk")) << reader.lastMessage();
        EXPECT_EQ(reader.damage.size(), std::string(cid) == "0badcafe" ? 1u : 0u) << cid;
    }
}

// A stream written front to back: the header only says the directory is at
// the end, and the footer before the end-of-stream marker holds its offset.
TEST(VmdkStream, GrainDirectoryFoundThroughTheFooter)
{
    test::TempDir dir;
    auto original = test::fixture("vmdk-streamOptimized.vmdk");
    auto bytes = test::readWholeFile(original);
    ASSERT_EQ(bytes.size() % 512, 0u);
    std::vector<std::uint8_t> header(bytes.begin(), bytes.begin() + 512);
    std::vector<std::uint8_t> marker(512, 0);
    marker[0] = 1;  // the footer's one sector
    marker[12] = 3; // footer marker
    bytes.insert(bytes.end(), marker.begin(), marker.end());
    bytes.insert(bytes.end(), header.begin(), header.end());
    bytes.insert(bytes.end(), 512, 0); // end of stream
    auto image = dir / "footer.vmdk";
    test::writeWholeFile(image, bytes);
    patchU64le(image, 0x30, ~0ull);
    patchU64le(image, 0x38, ~0ull);
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(image)) << reader.lastMessage();
    expectSameAsReference(reader, test::qemuRawReference(original, "vmdk"));

    // Without the footer the directory cannot be found.
    std::filesystem::resize_file(image, bytes.size() - 1536);
    FileReadSeekVmdk cut;
    EXPECT_FALSE(cut.open(image));
    EXPECT_EQ(cut.lastMessage(), "The VMDK footer that locates the grain directory is missing.");
}

// A damaged compressed grain reads as zeros and a failure; the grains
// around it still read.
TEST(VmdkStream, DamagedCompressedGrainsFailAlone)
{
    test::TempDir dir;
    auto original = test::fixture("vmdk-streamOptimized.vmdk");
    auto reference = test::readWholeFile(test::qemuRawReference(original, "vmdk"));
    FileReadSeekVmdk good;
    ASSERT_TRUE(good.open(original));
    const std::uint32_t table = good.disk().extents.at(0).sparse->grainDirectory.at(0);
    auto bytes = test::readWholeFile(original);
    const std::size_t entry = std::size_t{table} * 512;
    const std::uint64_t grain =
        (std::uint64_t{bytes.at(entry)} | std::uint64_t{bytes.at(entry + 1)} << 8 | std::uint64_t{bytes.at(entry + 2)} << 16) *
        512;
    ASSERT_GT(grain, 0u);
    struct Case {
        const char* what;
        std::uint64_t at;
        std::vector<std::uint8_t> bytes;
    };
    for (const Case& c : {Case{"size past the file", grain + 8, {0xff, 0xff, 0xff, 0x7f}},
                          Case{"size 0", grain + 8, {0, 0, 0, 0}},
                          Case{"deflate stream broken", grain + 14, {0xff, 0xff, 0xff, 0xff}}}) {
        auto image = test::fixtureCopy("vmdk-streamOptimized.vmdk", dir, "damaged.vmdk");
        test::patchFile(image, c.at, c.bytes);
        FileReadSeekVmdk reader;
        ASSERT_TRUE(reader.open(image)) << c.what;
        std::vector<std::uint8_t> first(64 * 1024, 0xee), last(64 * 1024);
        EXPECT_FALSE(reader.readAt(0, first)) << c.what;
        EXPECT_TRUE(std::all_of(first.begin(), first.end(), [](std::uint8_t b) { return b == 0; })) << c.what;
        const std::uint64_t end = reader.diskSectorCount * 512;
        ASSERT_TRUE(reader.readAt(end - last.size(), last)) << c.what;
        EXPECT_TRUE(std::equal(last.begin(), last.end(), reference.end() - static_cast<std::ptrdiff_t>(last.size())))
            << c.what;
    }
}

} // namespace
} // namespace qis
