// VHDX images with one named structure damaged, as a user meets them through
// qsalvage: what cannot be read is refused or counted, never passed off as
// a whole disk.

#include "images/vhdx/FileReadSeekVHDX.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <functional>

namespace qis {
namespace {

using test::patchU32le;
using test::patchU64le;

constexpr std::uint64_t kMiB = 1 << 20;

struct Damage {
    const char* what;
    std::function<void(const std::filesystem::path&, const vhdx::VhdxLayout&)> apply;
    int exportExit;        // 0 whole, 1 refused, 3 written with zeros
    const char* said;      // what stderr (and info) must say
    std::uint64_t unreadable; // bytes counted as unreadable
};

// numbered-1m.vhdx: 1 MiB blocks, chunk ratio 4096, so BAT entry k is block
// k; blocks 0, 37, 100 and 127 are present.
const Damage kDamage[] = {
    {"a present block's entry with a state the format does not define",
     [](const auto& image, const auto& l) { patchU64le(image, l.batOffset + 37 * 8, (8ull << 20) | 4); }, 3,
     "state the format does not define", kMiB},
    {"a fully present block at file offset 0",
     [](const auto& image, const auto& l) { patchU64le(image, l.batOffset + 100 * 8, 6); }, 3,
     "without a usable file offset", kMiB},
    {"a virtual size of 0", [](const auto& image, const auto& l) { patchU64le(image, l.virtualDiskSizeAt, 0); }, 1,
     "virtual disk size is 0", 0},
    {"both headers' signatures",
     [](const auto& image, const auto&) {
         patchU32le(image, 64 * 1024, 0);
         patchU32le(image, 128 * 1024, 0);
     },
     0, "Both VHDX headers are damaged", 0},
};

TEST(DamagedVhdxCli, ExportInfoAndVolumesSayWhatCouldNotBeRead)
{
    const auto reference = test::qemuRawReference(test::fixture("numbered-1m.vhdx"), "vhdx");
    const auto whole = test::readWholeFile(reference);
    for (const Damage& d : kDamage) {
        SCOPED_TRACE(d.what);
        test::TempDir dir;
        auto image = test::fixtureCopy("numbered-1m.vhdx", dir);
        FileReadSeekVHDX good;
        ASSERT_TRUE(good.open(image));
        d.apply(image, good.layout());

        auto out = dir / "disk.img";
        auto exported = test::runQsalvage({"export", image.string(), "--output", out.string()});
        EXPECT_EQ(exported.exitCode, d.exportExit) << exported.err;
        EXPECT_NE(exported.err.find(d.said), std::string::npos) << exported.err;
        auto info = test::runQsalvage({"info", image.string(), "--json"});
        if (d.exportExit == 1) {
            EXPECT_FALSE(std::filesystem::exists(out));
            EXPECT_EQ(info.exitCode, 1);
            EXPECT_NE(info.err.find(d.said), std::string::npos) << info.err;
            continue;
        }
        EXPECT_EQ(info.exitCode, 0) << info.err;
        EXPECT_NE(info.out.find("\"unreadableBytes\": " + std::to_string(d.unreadable)), std::string::npos)
            << info.out;
        EXPECT_NE(info.out.find(d.said), std::string::npos) << info.out;

        ASSERT_TRUE(std::filesystem::exists(out)) << exported.err;
        auto bytes = test::readWholeFile(out);
        ASSERT_EQ(bytes.size(), whole.size());
        // Every byte not counted as unreadable is the disk's own.
        std::uint64_t differing = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i)
            differing += bytes[i] != whole[i];
        EXPECT_LE(differing, d.unreadable);
        if (d.unreadable) {
            EXPECT_GT(differing, 0u); // the damaged block held numbered sectors
            EXPECT_NE(exported.err.find(std::to_string(d.unreadable) + " bytes"), std::string::npos) << exported.err;
        }

        auto volumes = test::runQsalvage({"volumes", image.string()});
        EXPECT_NE(volumes.err.find(d.said), std::string::npos) << volumes.err;
    }
}

} // namespace
} // namespace qis
