// Names are image data: a plain `list` must not hand their control
// characters to the terminal, and every name it prints, "/" included, must
// be one `save --path` can choose.

#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qis {
namespace {

// The FAT32 volume of sample.vhdx (sectors 67584 to 149503) holds
// "Ünïcødé résumé – long file name.txt"; its first long-name entry stores
// the first five characters together in UTF-16LE, under a checksum of the
// short name only.
constexpr std::uint64_t kFatFirst = 67584ull * 512, kFatEnd = 149504ull * 512;
constexpr char kLongNameSha[] = "98133dc0c872dd4bd10e7c104204954b460fd8e9adbe99b0ce69e6f6493818d1";
const std::string kRest = "d\xc3\xa9 r\xc3\xa9sum\xc3\xa9 \xe2\x80\x93 long file name.txt";

struct Renamed {
    std::vector<std::uint8_t> units; // UTF-16LE units written over "nïcø"
    std::string listed;              // the name as list prints it
};

TEST(ListOutputCli, ControlCharactersAndSlashesAreEscapedAndSavePathTakesTheEscapedForm)
{
    const auto raw = test::qemuRawReference(test::fixture("sample.vhdx"), "vhdx");
    const auto original = test::readWholeFile(raw);
    const std::vector<std::uint8_t> first = {0xDC, 0, 'n', 0, 0xEF, 0, 'c', 0, 0xF8, 0};
    auto at = std::search(original.begin() + kFatFirst, original.begin() + kFatEnd, first.begin(), first.end());
    ASSERT_NE(at, original.begin() + kFatEnd);
    const auto offset = static_cast<std::uint64_t>(at - original.begin()) + 2;

    const Renamed cases[] = {
        {{0x1B, 0, '/', 0, '\\', 0, 0x07, 0}, "\xc3\x9c\\x1b\\x2f\\\\\\x07" + kRest},
        {{'[', 0, 0x9B, 0, '2', 0, 'J', 0}, "\xc3\x9c[\\xc2\\x9b2J" + kRest}, // the C1 control CSI
    };
    for (const Renamed& c : cases) {
        SCOPED_TRACE(c.listed);
        test::TempDir dir;
        auto image = dir / "disk.img";
        test::writeWholeFile(image, original);
        test::patchFile(image, offset, c.units);

        auto list = test::runQsalvage({"list", image.string(), "--gpt", "--volume", "1"});
        ASSERT_EQ(list.exitCode, 0) << list.err;
        EXPECT_NE(list.out.find(" " + c.listed + "\n"), std::string::npos) << list.out;
        // C0 controls but the line ends, DEL, and the UTF-8 of C1 controls.
        auto controls = [](const std::string& out) {
            std::size_t n = 0;
            for (std::size_t i = 0; i < out.size(); ++i) {
                auto b = static_cast<unsigned char>(out[i]);
                auto next = i + 1 < out.size() ? static_cast<unsigned char>(out[i + 1]) : 0;
                n += (b < 0x20 && b != '\n') || b == 0x7F || (b == 0xC2 && next >= 0x80 && next <= 0x9F);
            }
            return n;
        };
        EXPECT_EQ(controls(list.out), 0u);
        auto search = test::runQsalvage({"search", image.string(), "--gpt", "--volume", "1", "long file"});
        ASSERT_EQ(search.exitCode, 0) << search.err;
        EXPECT_NE(search.out.find("long file name.txt"), std::string::npos) << search.out;
        EXPECT_EQ(controls(search.out), 0u);

        auto save = test::runQsalvage(
            {"save", image.string(), "--gpt", "--volume", "1", "--path", c.listed, "--output", (dir / "out").string()});
        ASSERT_EQ(save.exitCode, 0) << save.err;
        std::vector<std::string> saved;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir / "out"))
            if (e.is_regular_file())
                saved.push_back(test::fileSha256(e.path()));
        EXPECT_NE(std::find(saved.begin(), saved.end(), kLongNameSha), saved.end());
    }
}

} // namespace
} // namespace qis
