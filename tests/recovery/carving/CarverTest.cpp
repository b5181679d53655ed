// The signature carver on volumes laid out byte by byte: how starts, ends,
// size fields and approximate sizes make files, with the signatures' own
// rules (wildcards, two-byte minimum, load order) and the tree it fills.

#include "images/raw/FileReadSeekRaw.h"
#include "platform/OutputFolder.h"
#include "recovery/carving/CarvedSave.h"
#include "recovery/carving/SharedReader.h"
#include "recovery/carving/SignatureEditor.h"
#include "recovery/carving/myJpg.h"
#include "support/Fixtures.h"
#include "util/Utf.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <span>

namespace qis {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint64_t kMiB = 1048576;

SignatureRecord record(const char* ext, const char* start, const char* end = "", const char* category = "Pictures",
                       const char* approx = "", const char* sizeOffset = "", const char* sizeBytes = "")
{
    SignatureFields f;
    f.extension = ext;
    f.startSignature = start;
    f.endSignature = end;
    f.category = category;
    f.approxSize = approx;
    f.offsetToSize = sizeOffset;
    f.bytesInSize = sizeBytes;
    auto built = buildSignatureRecord(f, 0);
    EXPECT_TRUE(built.record) << built.message;
    return *built.record;
}

struct Found {
    std::uint64_t start;
    std::int64_t length;
    std::string name;
    bool operator==(const Found&) const = default;
};

void PrintTo(const Found& f, std::ostream* os) { *os << "{" << f.start << ", " << f.length << ", " << f.name << "}"; }

// What the tree shows, as "folder > item" lines in insertion order, with
// the folders' final texts.
struct RecordingTree : CarveTree {
    std::vector<std::u16string> texts;
    std::vector<std::optional<ItemId>> parents;
    ItemId addFolder(std::optional<ItemId> parent, const std::u16string& text) override
    {
        texts.push_back(text);
        parents.push_back(parent);
        return texts.size() - 1;
    }
    ItemId addFile(ItemId parent, const std::u16string& text, std::size_t) override
    {
        return addFolder(parent, text);
    }
    void setText(ItemId item, const std::u16string& text) override { texts[item] = text; }
    void expand(ItemId) override {}
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < texts.size(); ++i)
            out.push_back((parents[i] ? utf16ToUtf8(texts[*parents[i]]) + " > " : std::string()) + utf16ToUtf8(texts[i]));
        return out;
    }
};

// Records the last message and presses Stop once a given window is reached.
struct Recorder : NullReporter {
    std::string lastMessage;
    std::atomic<bool>* stop = nullptr;
    std::int32_t stopAt = -1;
    void setProgressPos(std::int32_t position) override
    {
        if (stop && stopAt >= 0 && position >= stopAt)
            stop->store(true);
    }
    MessageResult showMessage(std::string_view text, MessageIcon, MessageButtons) override
    {
        lastMessage = text;
        return MessageResult::Ok;
    }
};

class Carve {
public:
    explicit Carve(std::uint64_t size) : bytes(size, 0x11) {}
    void put(std::uint64_t at, std::initializer_list<std::uint8_t> data) { std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at)); }
    void put32(std::uint64_t at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }

    std::vector<Found> run(const std::vector<SignatureRecord>& records, std::int32_t stopAtWindow = -1)
    {
        auto path = dir_ / "volume.img";
        test::writeWholeFile(path, bytes);
        EXPECT_TRUE(reader_.open(path));
        engine.reader = &reader_;
        engine.scanSize = claimedSize ? *claimedSize : bytes.size();
        engine.validateLengths = false;
        for (const auto& r : records)
            engine.addSignature(r);
        recorder.stop = &engine.rawStopRequested;
        recorder.stopAt = stopAtWindow;
        PauseGate gate;
        JobContext job(recorder, gate);
        engine.carveVolume(job, &tree);
        std::vector<Found> found;
        for (std::size_t i = 0; i < engine.carvedFiles.size(); ++i)
            found.push_back({engine.carvedFiles[i].start, engine.carvedFiles[i].length, utf16ToUtf8(engine.fileName(i))});
        return found;
    }

    std::vector<std::uint8_t> bytes;
    std::optional<std::uint64_t> claimedSize; // the volume's size as listed, when not the bytes'
    myJpg engine;
    RecordingTree tree;
    Recorder recorder;

private:
    test::TempDir dir_;
    FileReadSeekRaw reader_;
};

TEST(Carver, AStartAndAnEndMakeAFileThatEndsRightAfterItsEndSignature)
{
    Carve c(4 * kMiB);
    c.put(kMiB, {0xFF, 0xD8, 0xFF});
    c.put(kMiB + 1536, {0xFF, 0xD9});
    auto found = c.run({record("jpg", "0xFF,0xD8,0xFF", "0xFF,0xD9")});
    EXPECT_THAT(found, ElementsAre(Found{kMiB, 1538, "1048576 .jpg"}));
    EXPECT_EQ(c.recorder.lastMessage, "done..");
}

TEST(Carver, AnEndSignatureIsFoundAnywhereInTheSectorsAfterItsStart)
{
    Carve c(2 * kMiB);
    c.put(4096, {0xFF, 0xD8, 0xFF});
    c.put(4096 + 700, {0xFF, 0xD9});        // inside the second sector
    c.put(8192, {0xFF, 0xD8, 0xFF});
    c.put(8192 + 100, {0xFF, 0xD9});        // a file shorter than a sector
    c.put(12288 + 510, {0xFF, 0xD8, 0xFF}); // not at a sector start: no file
    auto found = c.run({record("jpg", "0xFF,0xD8,0xFF", "0xFF,0xD9")});
    EXPECT_THAT(found, ElementsAre(Found{4096, 702, "4096 .jpg"}, Found{8192, 102, "8192 .jpg"}));
}

TEST(Carver, TwoStartsAndOneEndCloseTheLaterStartAndTheEarlierRunsToIt)
{
    Carve c(2 * kMiB);
    c.put(0, {0xFF, 0xD8, 0xFF});
    c.put(2048, {0xFF, 0xD8, 0xFF});
    c.put(4096, {0xFF, 0xD9});
    auto found = c.run({record("jpg", "0xFF,0xD8,0xFF", "0xFF,0xD9", "Pictures", "1000000")});
    EXPECT_THAT(found, ElementsAre(Found{2048, 2050, "2048 .jpg"}, Found{0, 2048, "0 .jpg"}));
}

TEST(Carver, LeftOverStartsOfATypeWithoutApproximateSizeGiveNoFiles)
{
    Carve c(kMiB);
    c.put(0, {0xFF, 0xD8, 0xFF});
    EXPECT_THAT(c.run({record("jpg", "0xFF,0xD8,0xFF", "0xFF,0xD9")}), IsEmpty());
}

TEST(Carver, OneByteSignaturesNeverMatchAndWildcardsMatchAnyByte)
{
    Carve c(kMiB);
    c.put(0, {0x42});
    c.put(512, {0x42, 0x4D, 0x99, 0x00});
    auto found = c.run({record("one", "0x42", "", "Pictures", "100"), record("bmp", "0x42,0x4D,0x2A,0x00", "", "Pictures", "100")});
    EXPECT_THAT(found, ElementsAre(Found{512, 100, "512 .bmp"}));
}

TEST(Carver, TheFirstLoadedTypeWinsASectorBothMatch)
{
    Carve c(kMiB);
    c.put(0, {0x50, 0x4B, 0x03, 0x04});
    auto found = c.run({record("docx", "0x50,0x4B", "", "Documents", "10"), record("zip", "0x50,0x4B,0x03,0x04", "", "Archives", "10")});
    EXPECT_THAT(found, ElementsAre(Found{0, 10, "0 .docx"}));
}

TEST(Carver, ASizeFieldGivesTheLengthOnlyWithFourBytesAndWithinTheApproximateSize)
{
    Carve c(kMiB);
    c.put(0, {0x42, 0x4D});
    c.put32(2, 3000);
    c.put(4096, {0x42, 0x4D});
    c.put32(4096 + 2, 900000); // larger than the approximate size
    c.put(8192, {0x43, 0x4D});
    c.put32(8192 + 2, 3000);
    auto found = c.run({record("bmp", "0x42,0x4D", "", "Pictures", "500000", "2", "4"),
                        record("two", "0x43,0x4D", "", "Pictures", "500000", "2", "2")});
    EXPECT_THAT(found, ElementsAre(Found{0, 3000, "0 .bmp"}));
}

TEST(Carver, TypesSharingACategoryShareItsItemAndCount)
{
    Carve c(kMiB);
    c.put(0, {0x47, 0x49, 0x46, 0x38, 0x39, 0x61});
    c.put(512, {0x89, 0x50, 0x4E, 0x47});
    c.put(1024, {0x25, 0x50, 0x44, 0x46});
    c.run({record("gif", "0x47,0x49,0x46,0x38,0x39,0x61", "", "Pictures", "10"),
           record("png", "0x89,0x50,0x4E,0x47", "", "Pictures", "10"), record("pdf", "0x25,0x50,0x44,0x46", "", "Documents", "10")});
    EXPECT_THAT(c.tree.lines(), ElementsAre("RAW RECOVERY ", "RAW RECOVERY  > Pictures (2)", "RAW RECOVERY  > Documents (1)",
                                            "Pictures (2) > 0 .gif", "Pictures (2) > 512 .png", "Documents (1) > 1024 .pdf"));
    EXPECT_EQ(c.engine.categoryCounts.at(u"Pictures"), 2u);
}

TEST(Carver, StopKeepsWhatWasFoundAndStillEndsWithDone)
{
    Carve c(4 * kMiB);
    c.put(0, {0x47, 0x49, 0x46, 0x38});
    c.put(3 * kMiB, {0x47, 0x49, 0x46, 0x38});
    auto found = c.run({record("gif", "0x47,0x49,0x46,0x38", "", "Pictures", "10")}, 2);
    EXPECT_THAT(found, ElementsAre(Found{0, 10, "0 .gif"}));
    EXPECT_EQ(c.recorder.lastMessage, "done..");
}

TEST(Carver, ALastWindowShorterThanAMebibyteIsScannedToo)
{
    Carve c(kMiB + 4096);
    c.put(kMiB + 1024, {0x47, 0x49, 0x46, 0x38});
    auto found = c.run({record("gif", "0x47,0x49,0x46,0x38", "", "Pictures", "100000")});
    EXPECT_THAT(found, ElementsAre(Found{kMiB + 1024, 3072, "1049600 .gif"})) << "cut at the end of the scanned range";
}

TEST(Carver, AVolumeListedFarLargerThanTheDiskIsScannedToTheDisksEndAndItsFilesEndThere)
{
    Carve c(kMiB + 4096);
    c.claimedSize = std::uint64_t{1} << 50;
    c.put(kMiB + 1024, {0x47, 0x49, 0x46, 0x38});
    auto found = c.run({record("gif", "0x47,0x49,0x46,0x38", "", "Pictures", "100000")});
    EXPECT_THAT(found, ElementsAre(Found{kMiB + 1024, 3072, "1049600 .gif"}));
    EXPECT_EQ(c.engine.scanSize, kMiB + 4096);
    EXPECT_EQ(c.recorder.lastMessage, "done..");
}

TEST(CarvedSave, AStopFromTheScanIsClearedAndAStopDuringTheSaveRemovesTheFileItInterrupts)
{
    Carve c(4 * kMiB);
    for (std::uint64_t at : {std::uint64_t{0}, kMiB, 2 * kMiB})
        c.put(at, {0x47, 0x49, 0x46, 0x38, static_cast<std::uint8_t>(at >> 20)});
    auto found = c.run({record("gif", "0x47,0x49,0x46,0x38", "", "Pictures", "3000")});
    ASSERT_EQ(found.size(), 3u);
    test::TempDir out;
    auto root = OutputFolder::open(out.path());
    ASSERT_TRUE(root);
    auto all = [](std::size_t) { return true; };
    PauseGate gate;

    // The scan's Stop is still set when the user saves what it found.
    c.engine.rawStopRequested.store(true);
    NullReporter quiet;
    JobContext job(quiet, gate);
    auto saved = saveCarvedFiles(c.engine, *c.engine.reader, *root, all, c.engine.rawStopRequested, job);
    EXPECT_FALSE(saved.stopped);
    EXPECT_EQ(saved.written, 3u);
    for (std::uint64_t at : {std::uint64_t{0}, kMiB, 2 * kMiB}) {
        auto bytes = test::readWholeFile(out.path() / "Pictures" / (std::to_string(at) + " .gif"));
        ASSERT_EQ(bytes.size(), 3000u);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), c.bytes.begin() + static_cast<std::ptrdiff_t>(at)));
    }

    // Stop pressed while the second file is written: it is removed, the
    // third is not begun. (A reader that serves one thread at a time: the
    // files are copied one after the other.)
    test::TempDir again;
    auto second = OutputFolder::open(again.path());
    ASSERT_TRUE(second);
    Recorder pressing;
    pressing.stop = &c.engine.rawStopRequested;
    pressing.stopAt = 1;
    JobContext stopped(pressing, gate);
    std::mutex serialLock;
    carve::SharedReader serial(*c.engine.reader, serialLock);
    saved = saveCarvedFiles(c.engine, serial, *second, all, c.engine.rawStopRequested, stopped);
    EXPECT_TRUE(saved.stopped);
    EXPECT_EQ(saved.written, 1u);
    EXPECT_THAT(saved.savedAs, ElementsAre("Pictures/0 .gif", "", ""));
    EXPECT_EQ(std::filesystem::file_size(again.path() / "Pictures" / "0 .gif"), 3000u);
    EXPECT_FALSE(std::filesystem::exists(again.path() / "Pictures" / "1048576 .gif"));
    EXPECT_FALSE(std::filesystem::exists(again.path() / "Pictures" / "2097152 .gif"));

    // Copied by several threads, Stop pressed while the second file is read:
    // it is not left, and each of the others is whole or absent (a thread
    // may have finished the third before).
    struct StopOnRead : FileReadSeekRaw {
        std::atomic<bool>* stop = nullptr;
        bool readAt(std::uint64_t offset, std::span<std::uint8_t> out) override
        {
            if (offset == kMiB)
                stop->store(true);
            return FileReadSeekRaw::readAt(offset, out);
        }
        int storedAt(std::uint64_t offset, std::uint64_t length, std::uint64_t& fileOffset, std::uint64_t& run) override
        {
            if (offset == kMiB)
                stop->store(true);
            return FileReadSeekRaw::storedAt(offset, length, fileOffset, run);
        }
    } stopping;
    stopping.stop = &c.engine.rawStopRequested;
    test::TempDir image, third;
    test::writeWholeFile(image / "volume.img", c.bytes);
    ASSERT_TRUE(stopping.open(image / "volume.img"));
    auto parallel = OutputFolder::open(third.path());
    ASSERT_TRUE(parallel);
    saved = saveCarvedFiles(c.engine, stopping, *parallel, all, c.engine.rawStopRequested, job);
    EXPECT_TRUE(saved.stopped);
    ASSERT_EQ(saved.savedAs.size(), 3u);
    EXPECT_EQ(saved.savedAs[1], "");
    EXPECT_FALSE(std::filesystem::exists(third.path() / "Pictures" / "1048576 .gif"));
    std::size_t left = 0;
    for (std::size_t i : {0u, 2u}) {
        const std::string name = std::to_string(i * kMiB) + " .gif";
        const bool there = std::filesystem::exists(third.path() / "Pictures" / name);
        EXPECT_EQ(saved.savedAs[i], there ? "Pictures/" + name : "") << name;
        if (there) {
            EXPECT_EQ(std::filesystem::file_size(third.path() / "Pictures" / name), 3000u) << name;
            ++left;
        }
    }
    EXPECT_EQ(saved.written, left);
}

} // namespace
} // namespace qis
