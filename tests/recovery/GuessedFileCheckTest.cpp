// A deleted file read by a guess is checked against its own format: a guess
// that took another file's clusters is told from one that holds together,
// and where the parser has other readings of its clusters, the first that
// makes a whole file is the one written.

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

// One deleted file the parser can read several ways, as a FAT parser reads
// a guessed file again passing over another deleted file's clusters.
class ReadingsParser : public VolumeParser {
public:
    ReadingsParser(std::u16string name, std::vector<std::string> readings)
        : name_(std::move(name)), readings_(std::move(readings))
    {
    }
    std::vector<EntryHandle> topLevel() const override { return {1}; }
    EntryHandle firstChild(EntryHandle) const override { return kNoEntry; }
    EntryHandle nextSibling(EntryHandle) const override { return kNoEntry; }
    std::u16string name(EntryHandle) const override { return name_; }
    bool isFolder(EntryHandle) const override { return false; }
    bool isDeleted(EntryHandle) const override { return true; }
    EntryDetails describe(EntryHandle) override { return {}; }
    bool saveEntry(EntryHandle entry, DataSink& out) override { return *saveGuess(entry, 0, out); }
    std::optional<bool> saveGuess(EntryHandle, std::size_t reading, DataSink& out) override
    {
        if (reading >= readings_.size())
            return std::nullopt;
        out.write(bytesOf(readings_[reading]));
        return true;
    }
    void rename(EntryHandle, std::u16string) override {}

private:
    std::u16string name_;
    std::vector<std::string> readings_;
};

TEST(GuessedFileCheck, TheFirstReadingThatMakesAWholeFileIsWritten)
{
    std::string broken = kPng;
    broken.replace(512, 200, std::string(200, 'x'));
    struct Case {
        const char* what;
        std::u16string name;
        std::vector<std::string> readings;
        std::string written;
        GuessVerdict verdict;
        std::size_t reading;
    } cases[] = {
        {"the first holds", u"photo.png", {kPng, broken}, kPng, GuessVerdict::Holds, 0},
        {"a later one holds", u"photo.png", {broken, broken + "y", kPng}, kPng, GuessVerdict::Holds, 2},
        {"none holds: the first is kept", u"photo.png", {broken, broken + "y"}, broken, GuessVerdict::Broken, 0},
        {"no validator: read once", u"notes.txt", {"words", "other"}, "words", GuessVerdict::Unchecked, 0},
    };
    for (const Case& c : cases) {
        ReadingsParser parser(c.name, c.readings);
        MemorySink out(1 << 20);
        GuessedSave saved = saveGuessed(parser, 1, out);
        EXPECT_EQ(out.bytes, bytesOf(c.written)) << c.what;
        EXPECT_EQ(saved.verdict, c.verdict) << c.what;
        EXPECT_EQ(saved.reading, c.reading) << c.what;
        EXPECT_TRUE(saved.complete) << c.what;
    }
}

} // namespace
} // namespace qis
