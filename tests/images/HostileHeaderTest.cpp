// Damaged and crafted headers, made by changing one named field of a good
// image: each either fails to open with a message or opens and reads
// without crashing, hanging or allocating without bound.

#include "images/vdi/FileReadSeekVdi.h"
#include "images/vhd/FileReadSeekVHD.h"
#include "images/vhdx/FileReadSeekVHDX.h"
#include "images/vhdx/VhdxStructures.h"
#include "images/vmdk/FileReadSeekVmdk.h"
#include "images/vmdk/VmdkStructures.h"
#include "support/Fixtures.h"
#include "support/NumberedDisk.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

namespace qis {
namespace {

using test::patchU32be;
using test::patchU32le;
using test::patchU64le;

// Opens the image and, when it opens, reads its start, a stretch past the
// table and its last sector: none of it may crash.
template <typename Reader>
bool openAndRead(const std::filesystem::path& image, std::string* message = nullptr)
{
    Reader reader;
    bool opened = reader.open(image);
    if (message)
        *message = reader.lastMessage();
    if (!opened)
        return false;
    std::vector<std::uint8_t> buffer(1 << 20);
    reader.seek(0, 0);
    reader.read(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    std::uint64_t last = reader.diskSectorCount ? reader.diskSectorCount - 1 : 0;
    reader.seek(static_cast<std::int64_t>(std::min<std::uint64_t>(last, 1ull << 50) * 512), 0);
    reader.read(buffer.data(), 4096);
    return true;
}

struct VhdxTables {
    std::size_t batIndex = 0, metadataIndex = 0;
};

VhdxTables findRegions(const std::filesystem::path& image)
{
    auto bytes = test::readWholeFile(image);
    auto table = vhdx::RegionTable::parse(std::span(bytes).subspan(vhdx::kRegionTable1Offset, vhdx::kRegionTableSize));
    VhdxTables t;
    for (std::size_t i = 0; i < table.entries.size(); ++i) {
        if (table.entries[i].guid == vhdx::kBatRegion)
            t.batIndex = i;
        if (table.entries[i].guid == vhdx::kMetadataRegion)
            t.metadataIndex = i;
    }
    return t;
}

// Both region-table copies, so neither can stand in for the damaged one.
void patchBothRegionTables(const std::filesystem::path& image, std::uint64_t within, std::uint32_t value)
{
    patchU32le(image, vhdx::kRegionTable1Offset + within, value);
    patchU32le(image, vhdx::kRegionTable2Offset + within, value);
}

class HostileVhdx : public ::testing::Test {
protected:
    void SetUp() override
    {
        image = test::fixtureCopy("numbered-1m.vhdx", dir);
        FileReadSeekVHDX good;
        ASSERT_TRUE(good.open(image));
        layout = good.layout();
    }
    test::TempDir dir;
    std::filesystem::path image;
    vhdx::VhdxLayout layout;
};

TEST_F(HostileVhdx, UnusableBlockSizesFailWithAMessage)
{
    for (std::uint32_t blockSize : {0u, 1000u, 512u, 512u << 20, 0xFFFFFFFFu}) {
        patchU32le(image, layout.fileParametersAt, blockSize);
        std::string message;
        EXPECT_FALSE(openAndRead<FileReadSeekVHDX>(image, &message)) << blockSize;
        EXPECT_NE(message.find("block size"), std::string::npos) << message;
    }
}

TEST_F(HostileVhdx, ZeroLogicalSectorSizeWouldGiveAZeroChunkRatio)
{
    patchU32le(image, layout.logicalSectorSizeAt, 0);
    std::string message;
    EXPECT_FALSE(openAndRead<FileReadSeekVHDX>(image, &message));
    EXPECT_NE(message.find("logical sector size"), std::string::npos) << message;
}

TEST_F(HostileVhdx, BatLongerThanTheFileIsCutToTheFile)
{
    auto regions = findRegions(image);
    patchBothRegionTables(image, 16 + 32 * regions.batIndex + 0x18, 0xFFFFFFF0u);
    FileReadSeekVHDX reader;
    ASSERT_TRUE(reader.open(image));
    EXPECT_EQ(reader.blockTable.size(), 128u);
    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE(reader.seek(100 << 20, 0));
    ASSERT_TRUE(reader.read(sector.data(), 512));
    EXPECT_EQ(sector, test::numberedSector(100 << 11));
}

TEST_F(HostileVhdx, HugeVirtualSizeDoesNotSizeTheTable)
{
    patchU64le(image, layout.virtualDiskSizeAt, 1ull << 62);
    FileReadSeekVHDX reader;
    ASSERT_TRUE(reader.open(image));
    EXPECT_LE(reader.blockTable.size(), layout.batLength / 8);
    EXPECT_TRUE(openAndRead<FileReadSeekVHDX>(image));
}

TEST_F(HostileVhdx, RegionTablesWithTooFewEntries)
{
    patchBothRegionTables(image, 8, 1);
    std::string message;
    EXPECT_FALSE(openAndRead<FileReadSeekVHDX>(image, &message));
    EXPECT_EQ(message, "Region entry corrupt");
    patchBothRegionTables(image, 8, 0xFFFFFFFFu); // far more than a table holds
    EXPECT_TRUE(openAndRead<FileReadSeekVHDX>(image));
}

TEST_F(HostileVhdx, FirstRegionTableRejectedForTheSecondCopy)
{
    patchU32le(image, vhdx::kRegionTable1Offset + 8, 1);
    FileReadSeekVHDX reader;
    ASSERT_TRUE(reader.open(image)) << reader.lastMessage();
    EXPECT_EQ(reader.layout().regionTableAt, vhdx::kRegionTable2Offset);
}

TEST_F(HostileVhdx, RegionsFoundByIdentifierWhateverTheirOrder)
{
    // Swap the two region entries' bodies in both copies: a reader that takes
    // entry 0 as the BAT would now load the metadata as a BAT.
    auto regions = findRegions(image);
    auto bytes = test::readWholeFile(image);
    for (std::uint64_t table : {vhdx::kRegionTable1Offset, vhdx::kRegionTable2Offset}) {
        std::uint64_t a = table + 16 + 32 * regions.batIndex, b = table + 16 + 32 * regions.metadataIndex;
        std::swap_ranges(bytes.begin() + static_cast<long>(a), bytes.begin() + static_cast<long>(a + 32),
                         bytes.begin() + static_cast<long>(b));
    }
    test::writeWholeFile(image, bytes);
    FileReadSeekVHDX reader;
    ASSERT_TRUE(reader.open(image)) << reader.lastMessage();
    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE(reader.seek(127 << 20, 0));
    ASSERT_TRUE(reader.read(sector.data(), 512));
    EXPECT_EQ(sector, test::numberedSector(127 << 11));
}

TEST(VhdxMetadata, ItemsAreFoundByIdentifierNotPosition)
{
    // qemu-img writes Page 83 Data third: by position, the logical sector
    // size would be read from a GUID and every block past the first chunk
    // of the 6 GiB disk would map to the wrong place.
    auto image = test::fixture("big-6g.vhdx");
    FileReadSeekVHDX reader;
    ASSERT_TRUE(reader.open(image)) << reader.lastMessage();
    auto bytes = test::readWholeFile(image);
    auto items = vhdx::MetadataTable::parse(std::span(bytes).subspan(reader.layout().metadataAt, 64 * 1024));
    ASSERT_GE(items.entries.size(), 4u);
    EXPECT_FALSE(items.entries[2].itemId == vhdx::kLogicalSectorSize);
    EXPECT_EQ(reader.layout().logicalSectorSize, 512u);
    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE(reader.seek(5ll << 30, 0));
    ASSERT_TRUE(reader.read(sector.data(), 512));
    EXPECT_EQ(sector, test::numberedSector((5ull << 30) / 512));
}

TEST(HostileVhd, CraftedDynamicHeaders)
{
    test::TempDir dir;
    struct Case {
        const char* what;
        std::uint64_t at;
        std::uint32_t value;
    };
    // Dynamic header at 512: Table Offset (high word) 0x10, Max Table Entries 0x1C, Block Size 0x20.
    for (Case c : {Case{"max table entries", 512 + 0x1C, 0xFFFFFFFFu}, Case{"block size 0", 512 + 0x20, 0},
                   Case{"block size odd", 512 + 0x20, 3000}, Case{"table offset", 512 + 0x10, 0x7FFFFFFFu}}) {
        auto image = test::fixtureCopy("numbered-dynamic.vhd", dir);
        patchU32be(image, c.at, c.value);
        FileReadSeekVHD reader;
        ASSERT_TRUE(reader.open(image)) << c.what;
        std::vector<std::uint8_t> sector(512);
        ASSERT_TRUE(reader.seek(100 << 20, 0)) << c.what;
        ASSERT_TRUE(reader.read(sector.data(), 512)) << c.what;
        EXPECT_EQ(sector, test::numberedSector(100 << 11)) << c.what;
    }
}

TEST(HostileVhd, NoFooterAnywhere)
{
    test::TempDir dir;
    auto image = dir / "junk.vhd";
    test::writeWholeFile(image, std::vector<std::uint8_t>(4096, 0x41));
    std::string message;
    EXPECT_FALSE(openAndRead<FileReadSeekVHD>(image, &message));
    EXPECT_FALSE(message.empty());
}

TEST(HostileVdi, CraftedHeaders)
{
    test::TempDir dir;
    struct Case {
        const char* what;
        std::uint64_t at;
        std::uint32_t value;
        bool opens;
    };
    for (Case c : {Case{"cbBlock 0", 0x178, 0, false}, Case{"cbBlock not a power of two", 0x178, 3000, false},
                   Case{"cbBlock below a sector", 0x178, 256, false}, Case{"cBlocks huge", 0x180, 0xFFFFFFFFu, true},
                   Case{"offData past the file", 0x158, 0xFFFFF000u, true},
                   Case{"offBlocks past the file", 0x154, 0xFFFFF000u, true}}) {
        auto image = test::fixtureCopy("numbered.vdi", dir);
        patchU32le(image, c.at, c.value);
        std::string message;
        EXPECT_EQ(openAndRead<FileReadSeekVdi>(image, &message), c.opens) << c.what;
        if (!c.opens) {
            EXPECT_FALSE(message.empty()) << c.what;
        }
    }
}

TEST(HostileVdi, DataAreaPastTheFileReadsAsAFailure)
{
    test::TempDir dir;
    auto image = test::fixtureCopy("numbered.vdi", dir);
    patchU32le(image, 0x158, 0xFFFFF000u);
    FileReadSeekVdi reader;
    ASSERT_TRUE(reader.open(image));
    std::vector<std::uint8_t> sector(512, 0xEE);
    ASSERT_TRUE(reader.seek(0, 0));
    EXPECT_FALSE(reader.read(sector.data(), 512));
    EXPECT_EQ(sector, test::zeroSector());
}

TEST(HostileVmdk, CraftedHeaders)
{
    test::TempDir dir;
    struct Case {
        const char* what;
        std::uint64_t at;
        std::uint64_t value;
        bool wide;
        bool opens;
    };
    for (Case c : {Case{"grain size 0", 0x14, 0, true, false}, Case{"grain size 3", 0x14, 3, true, false},
                   Case{"grain tables of 0 entries", 0x2C, 0, false, false},
                   Case{"grain tables of 4096 entries", 0x2C, 4096, false, true},
                   Case{"capacity 2^62", 0x0C, 1ull << 62, true, false},
                   Case{"descriptor size past the file", 0x24, 1ull << 40, true, true},
                   Case{"descriptor offset past the file", 0x1C, 1ull << 40, true, true},
                   Case{"grain directories past the file", 0x30, 1ull << 40, true, false}}) {
        auto image = test::fixtureCopy("numbered.vmdk", dir);
        if (c.wide)
            patchU64le(image, c.at, c.value);
        else
            patchU32le(image, c.at, static_cast<std::uint32_t>(c.value));
        if (std::string(c.what) == "grain directories past the file")
            patchU64le(image, 0x38, 1ull << 40);
        std::string message;
        EXPECT_EQ(openAndRead<FileReadSeekVmdk>(image, &message), c.opens) << c.what << ": " << message;
    }
}

TEST(HostileVmdk, GrainTableEntryOfOneReadsAsZeros)
{
    test::TempDir dir;
    auto image = test::fixtureCopy("numbered.vmdk", dir);
    FileReadSeekVmdk good;
    ASSERT_TRUE(good.open(image));
    const auto& directory = good.disk().extents.at(0).sparse->grainDirectory;
    ASSERT_FALSE(directory.empty());
    // Entry 0 of grain table 0 maps sector 0; mark it a zero grain.
    patchU32le(image, std::uint64_t{directory[0]} * 512, 1);
    FileReadSeekVmdk reader;
    ASSERT_TRUE(reader.open(image));
    std::vector<std::uint8_t> sector(512, 0xEE);
    ASSERT_TRUE(reader.seek(0, 0));
    ASSERT_TRUE(reader.read(sector.data(), 512));
    EXPECT_EQ(sector, test::zeroSector());
}

// The image is evidence: it must open where it cannot be written.
TEST(ReadOnlyImages, EveryReaderOpensAnImageItMayNotWrite)
{
    test::TempDir dir;
    struct Case {
        const char* fixture;
        std::function<bool(const std::filesystem::path&)> open;
    };
    const Case cases[] = {
        {"numbered-default.vhdx", [](const auto& p) { return FileReadSeekVHDX().open(p); }},
        {"numbered-dynamic.vhd", [](const auto& p) { return FileReadSeekVHD().open(p); }},
        {"numbered.vdi", [](const auto& p) { return FileReadSeekVdi().open(p); }},
        {"numbered.vmdk", [](const auto& p) { return FileReadSeekVmdk().open(p); }},
    };
    ::chmod(dir.path().c_str(), 0755);
    for (const Case& c : cases) {
        auto image = test::fixtureCopy(c.fixture, dir);
        ::chmod(image.c_str(), 0444);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Root may write anything; as nobody the file really is read-only.
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(3);
            if (::open(image.c_str(), O_RDWR) >= 0)
                ::_exit(4);
            ::_exit(c.open(image) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << c.fixture;
    }
}

template <typename T>
std::optional<ParseError> failureOf(const Parsed<T>& parsed)
{
    if (parsed)
        return std::nullopt;
    return parsed.failure();
}

// Each failure says which kind it is, so a caller can tell another format
// from a damaged or an unsupported one, with the message it always had.
TEST(LayoutFailures, KindAndMessageOfEach)
{
    test::TempDir dir;
    using Read = std::function<std::optional<ParseError>(ImageFile&)>;
    const Read vhdxLayout = [](ImageFile& f) { return failureOf(vhdx::readVhdxLayout(f)); };
    const Read vhdLayout = [](ImageFile& f) { return failureOf(vhd::readVhdLayout(f)); };
    const Read vmdkLayout = [](ImageFile& f) { return failureOf(vmdk::readVmdkLayout(f)); };

    auto junk = dir / "junk.bin";
    test::writeWholeFile(junk, std::vector<std::uint8_t>(512 * 1024, 0));
    auto fewRegions = test::fixtureCopy("numbered-1m.vhdx", dir, "few-regions.vhdx");
    patchBothRegionTables(fewRegions, 8, 1);
    auto oddBlocks = test::fixtureCopy("numbered-1m.vhdx", dir, "odd-blocks.vhdx");
    FileReadSeekVHDX good;
    ASSERT_TRUE(good.open(oddBlocks));
    patchU32le(oddBlocks, good.layout().fileParametersAt, 1000);
    auto compressed = test::fixtureCopy("numbered.vmdk", dir, "compressed.vmdk");
    patchU32le(compressed, 0x08, vmdk::kFlagCompressedGrains);
    auto oddGrains = test::fixtureCopy("numbered.vmdk", dir, "odd-grains.vmdk");
    patchU64le(oddGrains, 0x14, 3);
    auto descriptorOnly = dir / "flat.vmdk";
    const std::string descriptor = "# Disk DescriptorFile\nversion=1\ncreateType=\"monolithicFlat\"\n";
    test::writeWholeFile(descriptorOnly, {descriptor.begin(), descriptor.end()});

    struct Case {
        std::filesystem::path image;
        const Read& read;
        ParseFailure kind;
        std::string message;
    };
    const Case cases[] = {
        {junk, vhdxLayout, ParseFailure::NotThisFormat, "Region entry corrupt"},
        {fewRegions, vhdxLayout, ParseFailure::Damaged, "Region entry corrupt"},
        {oddBlocks, vhdxLayout, ParseFailure::Damaged, "The VHDX block size (1000 bytes) is damaged."},
        {junk, vhdLayout, ParseFailure::NotThisFormat, "The VHD footer is missing or damaged."},
        {junk, vmdkLayout, ParseFailure::NotThisFormat, "This is not a VMDK descriptor or sparse extent."},
        {descriptorOnly, vmdkLayout, ParseFailure::Unsupported, "A VMDK descriptor file is not a sparse extent."},
        {compressed, vmdkLayout, ParseFailure::Unsupported, "The VMDK grains are compressed in a way that is not read."},
        {oddGrains, vmdkLayout, ParseFailure::Damaged, "The VMDK grain size or grain table size is damaged."},
    };
    for (const auto& c : cases) {
        ImageFile file;
        ASSERT_TRUE(file.open(c.image));
        auto failure = c.read(file);
        ASSERT_TRUE(failure.has_value()) << c.image << " parsed";
        EXPECT_EQ(failure->kind, c.kind) << c.image << ": " << failure->message;
        EXPECT_EQ(failure->message, c.message) << c.image;
    }
}

} // namespace
} // namespace qis
