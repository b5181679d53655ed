// Carving with the default signatures brings archives and audio made by
// their own tools back byte for byte, from between unrelated data.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qis {
namespace {

TEST(CarveFormatsCli, ToolMadeArchivesAndAudioComeBackWholeWithTheDefaultSignatures)
{
    test::TempDir dir;
    std::mt19937 random(5);
    std::string text, pcm;
    while (text.size() < 300000)
        text += std::to_string(random() % 1000) + (random() % 7 ? " volume " : "\n");
    for (int i = 0; i < 30000; ++i)
        pcm += {static_cast<char>(i % 50 * 5), static_cast<char>(random() % 4), static_cast<char>(i % 70), 0};
    test::writeWholeFile(dir / "text", std::vector<std::uint8_t>(text.begin(), text.end()));
    test::writeWholeFile(dir / "pcm", std::vector<std::uint8_t>(pcm.begin(), pcm.end()));
    const std::string at = "cd " + test::shellQuote(dir.path().string()) + " && ";
    ASSERT_EQ(test::runCommand(at + "xz -c text > a.xz && bzip2 -c text > b.bz2 && flac -s --force-raw-format "
                                    "--endian=little --sign=signed --channels=2 --bps=16 --sample-rate=22050 -o c.flac pcm")
                  .exitCode,
              0);

    // Each file on a sector of its own, after 20 kB of random bytes.
    std::vector<std::uint8_t> disk;
    std::vector<std::pair<std::string, std::uint64_t>> placed;
    for (const char* name : {"a.xz", "b.bz2", "c.flac"}) {
        for (int i = 0; i < 20480; ++i)
            disk.push_back(static_cast<std::uint8_t>(random()));
        placed.emplace_back(name, disk.size());
        auto bytes = test::readWholeFile(dir / name);
        disk.insert(disk.end(), bytes.begin(), bytes.end());
        disk.resize((disk.size() + 511) / 512 * 512, 0);
    }
    disk.resize(disk.size() + 65536, 0);
    test::writeWholeFile(dir / "disk.img", disk);

    auto out = dir / "out";
    auto r = test::runQsalvage({"carve", (dir / "disk.img").string(), "--disk", "--output", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Archives (2)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Audio (1)"), std::string::npos) << r.out;
    for (const auto& [name, offset] : placed) {
        const std::string ext = name.substr(name.find('.'));
        const auto carved = out / (ext == ".flac" ? "Audio" : "Archives") / (std::to_string(offset) + " " + ext);
        EXPECT_TRUE(test::sameContents(carved, dir / name)) << name;
    }
}

} // namespace
} // namespace qis
