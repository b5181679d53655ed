// A deleted file read by a guess is checked against its own format: a guess
// that took another file's clusters is told from one that holds together,
// and the bytes reach the output unchanged either way.

#include "recovery/GuessedFileCheck.h"

#include <gtest/gtest.h>

#include <string>

namespace qis {
namespace {

using namespace std::string_literals;

std::string be32(std::uint32_t v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

const std::string kPng = "\x89PNG\r\n\x1A\n"s + be32(13) + "IHDR" + std::string(13, '\0') + "CRC!" + be32(600) +
                         "IDAT" + std::string(600, '\x11') + "CRC!" + be32(0) + "IEND" + "CRC!";

TEST(GuessedFileCheck, AGuessIsJudgedByTheFormatItsNameSays)
{
    std::string otherFilesCluster = kPng;
    otherFilesCluster.replace(512, 200, std::string(200, 'x')); // a text file's cluster where IDAT went on
    struct Case {
        const char* what;
        std::u16string name;
        std::string bytes;
        GuessVerdict verdict;
    } cases[] = {
        {"a whole picture", u"photo.png", kPng, GuessVerdict::Holds},
        {"the extension in capitals", u"PHOTO.PNG", kPng, GuessVerdict::Holds},
        {"zeros after its end (the rest of the last cluster)", u"photo.png", kPng + std::string(300, '\0'),
         GuessVerdict::Holds},
        {"another file's cluster in the middle", u"photo.png", otherFilesCluster, GuessVerdict::Broken},
        {"cut short", u"photo.png", kPng.substr(0, 400), GuessVerdict::Broken},
        {"a kind with no validator", u"notes.txt", "plain words", GuessVerdict::Unchecked},
        {"no extension", u"README", kPng, GuessVerdict::Unchecked},
    };
    for (const Case& c : cases)
        EXPECT_EQ(checkGuessedBytes(c.name, bytesOf(c.bytes)), c.verdict) << c.what;
}

TEST(GuessedFileCheck, TheSavedBytesPassThroughUnchangedWhileTheyAreChecked)
{
    MemorySink saved(1 << 20);
    GuessedFileCheck check(saved, u"photo.png");
    const auto bytes = bytesOf(kPng);
    ASSERT_TRUE(check.write(std::span(bytes).first(100)));
    ASSERT_TRUE(check.write(std::span(bytes).subspan(100)));
    ASSERT_TRUE(check.skip(50));
    std::vector<std::uint8_t> expected = bytes;
    expected.resize(expected.size() + 50, 0);
    EXPECT_EQ(saved.bytes, expected);
    EXPECT_EQ(check.verdict(), GuessVerdict::Holds);

    MemorySink text(1 << 20);
    GuessedFileCheck unchecked(text, u"notes.txt");
    ASSERT_TRUE(unchecked.write(bytes));
    EXPECT_EQ(text.bytes, bytes);
    EXPECT_EQ(unchecked.verdict(), GuessVerdict::Unchecked);
}

} // namespace
} // namespace qis
