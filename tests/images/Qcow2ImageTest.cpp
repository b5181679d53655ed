// qcow2 images from qemu-img, and the same images altered the ways a damaged
// or unusual image is: refused variants, backing chains that are missing,
// loop or run too deep, and what allocationRun says of each cluster kind.

#include "images/qcow2/FileReadSeekQcow2.h"
#include "images/qcow2/Qcow2Format.h"
#include "support/Fixtures.h"
#include "support/NumberedDisk.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

void patchU64be(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t value)
{
    test::patchU32be(path, offset, static_cast<std::uint32_t>(value >> 32));
    test::patchU32be(path, offset + 4, static_cast<std::uint32_t>(value));
}

TEST(Qcow2Image, VariantsThatCannotBeReadAreRefusedByName)
{
    struct Case {
        const char* what;
        std::uint64_t offset;
        std::uint64_t value;
        bool wide;
        const char* message; // part of it
    };
    const Case cases[] = {
        {"encrypted", 32, 1, false, "Encrypted qcow2 images are not supported."},
        {"external data file", 72, 1u << 2, true, "external data file"},
        {"extended L2", 72, 1u << 4, true, "extended L2 entries"},
        {"unknown feature", 72, 1u << 9, true, "features that are not supported"},
        {"version 4", 4, 4, false, "qcow2 version 4"},
        {"clusters of 4 MiB", 20, 22, false, "cluster size is damaged"},
        {"clusters of 256 bytes", 20, 8, false, "cluster size is damaged"},
        {"backing name of 4 KiB", 16, 4096, false, "backing file name is damaged"},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        auto image = test::fixtureCopy("numbered.qcow2", dir, "disk.qcow2");
        if (c.wide)
            patchU64be(image, c.offset, c.value);
        else
            test::patchU32be(image, c.offset, static_cast<std::uint32_t>(c.value));
        if (c.offset == 16) // a name needs an offset to be one
            patchU64be(image, 8, 0x200);
        FileReadSeekQcow2 reader;
        EXPECT_FALSE(reader.open(image)) << c.what;
        EXPECT_NE(reader.lastMessage().find(c.message), std::string::npos) << c.what << ": " << reader.lastMessage();
        auto info = qcow2Information(image);
        EXPECT_FALSE(info.ok) << c.what;
        EXPECT_EQ(info.messages, std::vector<std::string>{reader.lastMessage()}) << c.what;
    }

    // zstd is refused; deflate (type 0) declared outright reads as before.
    auto image = test::fixtureCopy("numbered.qcow2", dir, "zstd.qcow2");
    patchU64be(image, 72, 1u << 3);
    FileReadSeekQcow2 deflate;
    EXPECT_TRUE(deflate.open(image)) << deflate.lastMessage();
    test::patchFile(image, 104, {1});
    FileReadSeekQcow2 zstd;
    EXPECT_FALSE(zstd.open(image));
    EXPECT_EQ(zstd.lastMessage(), "qcow2 images compressed with zstd are not supported.");
}

// Writes a qcow2 header with no clusters that names `backing` (nothing when
// empty): its whole disk reads from the backing image.
void writeLink(const std::filesystem::path& path, const std::string& backing)
{
    std::vector<std::uint8_t> bytes(512, 0);
    auto be = [&](std::size_t at, std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
    };
    be(0, 0x514649FB, 4);
    be(4, 2, 4);
    if (!backing.empty()) {
        be(8, 72, 8);
        be(16, backing.size(), 4);
        std::copy(backing.begin(), backing.end(), bytes.begin() + 72);
    }
    be(20, 16, 4);
    be(24, 1 << 20, 8);
    test::writeWholeFile(path, bytes);
}

TEST(Qcow2Image, BackingChainsAreBoundedAndLoopsRefused)
{
    test::TempDir dir;
    test::writeWholeFile(dir / "bottom.img", std::vector<std::uint8_t>(1 << 20, 0x42));
    std::string below = "bottom.img";
    auto top = [&](int n) { return dir / ("link" + std::to_string(n) + ".qcow2"); };
    for (int n = 1; n <= 64; ++n) {
        writeLink(top(n), below);
        below = top(n).filename().string();
    }
    // 64 qcow2 images over a raw disk: the raw bytes come through them all.
    FileReadSeekQcow2 deep;
    ASSERT_TRUE(deep.open(top(63))) << deep.lastMessage();
    std::vector<std::uint8_t> sector(512);
    ASSERT_TRUE(deep.seek(4096, 0));
    ASSERT_TRUE(deep.read(sector.data(), 512));
    EXPECT_EQ(sector, std::vector<std::uint8_t>(512, 0x42));
    FileReadSeekQcow2 tooDeep;
    EXPECT_FALSE(tooDeep.open(top(64)));
    EXPECT_NE(tooDeep.lastMessage().find("longer than 64"), std::string::npos) << tooDeep.lastMessage();

    writeLink(dir / "self.qcow2", "self.qcow2");
    writeLink(dir / "a.qcow2", "b.qcow2");
    writeLink(dir / "b.qcow2", "a.qcow2");
    for (const char* name : {"self.qcow2", "a.qcow2"}) {
        FileReadSeekQcow2 loop;
        EXPECT_FALSE(loop.open(dir / name)) << name;
        EXPECT_NE(loop.lastMessage().find("loops back"), std::string::npos) << loop.lastMessage();
    }

    // A name that leaves the image's folder is looked for inside it too.
    writeLink(dir / "far.qcow2", "/var/lib/images/../elsewhere/bottom.img");
    FileReadSeekQcow2 far;
    ASSERT_TRUE(far.open(dir / "far.qcow2")) << far.lastMessage();
    writeLink(dir / "gone.qcow2", "../gone.img");
    FileReadSeekQcow2 gone;
    EXPECT_FALSE(gone.open(dir / "gone.qcow2"));
    EXPECT_EQ(gone.lastMessage(), "The parent image \"../gone.img\" of gone.qcow2 was not found. Looked for: " +
                                      (dir / "../gone.img").lexically_normal().string() + ", " +
                                      (dir / "gone.img").string() + ". Name it with --parent PATH.");
}

TEST(Qcow2Image, ChildClustersOverTheBackingImage)
{
    test::fixture("chain-base.qcow2");
    FileReadSeekQcow2 child;
    ASSERT_TRUE(child.open(test::fixture("chain-child.qcow2"))) << child.lastMessage();
    ASSERT_NE(child.backing(), nullptr);
    struct Case {
        std::uint64_t offset;
        bool allocated;
        std::vector<std::uint8_t> sector;
    };
    const Case cases[] = {
        {1 << 20, true, std::vector<std::uint8_t>(512, 0xAB)},   // written in the child
        {100 << 20, false, test::zeroSector()},                    // a zero cluster hides the base's data
        {(37 << 20) + 1536, true, test::numberedSector((37 << 11) + 3)}, // the base's data
        {64 << 20, false, test::zeroSector()},                     // allocated nowhere
    };
    std::vector<std::uint8_t> sector(512);
    for (const auto& c : cases) {
        ASSERT_TRUE(child.readAt(c.offset, sector)) << c.offset;
        EXPECT_EQ(sector, c.sector) << c.offset;
        bool allocated = !c.allocated;
        EXPECT_GE(child.allocationRun(static_cast<std::int64_t>(c.offset), 512, allocated), 512u);
        EXPECT_EQ(allocated, c.allocated) << c.offset;
    }
}

TEST(Qcow2Image, DamagedCompressedClusterReadsAsZerosAndFails)
{
    test::TempDir dir;
    auto image = test::fixtureCopy("numbered-compressed.qcow2", dir, "disk.qcow2");
    FileReadSeekQcow2 reader;
    ASSERT_TRUE(reader.open(image));
    std::vector<std::uint8_t> cluster(65536);
    ASSERT_TRUE(reader.readAt(0, cluster));
    // The first compressed cluster follows the tables: overwrite the start of
    // every compressed stream there with bytes deflate refuses.
    const std::uint64_t size = std::filesystem::file_size(image);
    for (std::uint64_t at = 0x50000; at + 64 < size; at += 4096)
        test::patchFile(image, at, std::vector<std::uint8_t>(64, 0xFF));
    FileReadSeekQcow2 damaged;
    ASSERT_TRUE(damaged.open(image));
    int failed = 0;
    for (std::uint64_t at = 0; at < (1 << 20); at += cluster.size())
        if (!damaged.readAt(at, cluster)) {
            ++failed;
            EXPECT_EQ(cluster, std::vector<std::uint8_t>(cluster.size(), 0)) << at;
        }
    EXPECT_GT(failed, 0);
}

} // namespace
} // namespace qis
