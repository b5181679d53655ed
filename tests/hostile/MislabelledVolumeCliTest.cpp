// A custom volume whose label names a file system it is not: each parser
// refuses it with its own message and lists nothing, instead of an empty
// tree that passes for an empty volume.

#include "support/DamagedVolume.h"

#include <gtest/gtest.h>

#include <ostream>

namespace qis {
namespace {

struct Mislabelled {
    const char* name;
    test::FixtureVolume volume; // a real volume of another kind, under the wrong label
    std::vector<std::string> mode;
    const char* refusal;
    friend void PrintTo(const Mislabelled& p, std::ostream* os) { *os << p.name; }
};

// mbr-mixed.img: NTFS at 2048, FAT16 at 34816, FAT32 at 59392, exFAT at
// 135168, ext2 at 153600; hfsplus.img: HFS+ at 128.
const Mislabelled kMislabelled[] = {
    {"NtfsOnFat16", {"mbr-mixed.img", 34816, "NTFS", 12}, {}, "No NTFS boot sector or MFT record was found"},
    {"NtfsOnExt2", {"mbr-mixed.img", 153600, "NTFS", 8}, {}, "No NTFS boot sector or MFT record was found"},
    {"NtfsDeepOnFat32",
     {"mbr-mixed.img", 59392, "NTFS", 36},
     {"--mode", "deep"},
     "No NTFS boot sector or MFT record was found"},
    {"NtfsOnHfsPlus", {"hfsplus.img", 128, "NTFS", 2}, {}, "No NTFS boot sector or MFT record was found"},
    {"Fat16OnNtfs", {"mbr-mixed.img", 2048, "FAT16", 16}, {}, "Selected Drive is not in Fat16 Format"},
    {"Fat32OnExfat", {"mbr-mixed.img", 135168, "FAT32", 8}, {}, "Selected Drive is not in Fat32 Format"},
    {"ExfatOnFat16", {"mbr-mixed.img", 34816, "FAT64", 12}, {}, "Selected Drive is not in exFat Format"},
    {"ExtOnFat32", {"mbr-mixed.img", 59392, "extX", 36}, {}, "No ext2, ext3 or ext4 superblock was found"},
    {"HfsPlusOnExt2", {"mbr-mixed.img", 153600, "HFS+", 8}, {}, "Scanning process Aborted...."},
};

class MislabelledVolumes : public ::testing::TestWithParam<Mislabelled> {};

TEST_P(MislabelledVolumes, AreRefusedWithTheirParsersMessage)
{
    const Mislabelled& m = GetParam();
    test::TempDir dir;
    auto image = test::damagedVolume(m.volume, {}, dir);
    for (const char* command : {"list", "save"}) {
        std::vector<std::string> extra = m.mode;
        if (std::string(command) == "save")
            extra.insert(extra.end(), {"--output", (dir / "out").string()});
        auto r = test::onVolume(command, image, m.volume, extra);
        EXPECT_EQ(r.exitCode, 1) << command << "\n" << r.err;
        EXPECT_NE(r.err.find(m.refusal), std::string::npos) << command << "\n" << r.err;
        EXPECT_EQ(r.out, "") << command;
    }
}

INSTANTIATE_TEST_SUITE_P(Labels, MislabelledVolumes, ::testing::ValuesIn(kMislabelled),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace qis
