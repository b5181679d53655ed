// The searches of a damaged NTFS volume on volumes put together from real
// MFT records (taken from a volume mkntfs and ntfs-3g made) at chosen
// places: the chunk boundary, records without names, copies of the MFT.

#include "filesystems/ntfs/Ntfs.h"
#include "images/raw/FileReadSeekRaw.h"
#include "support/Fixtures.h"
#include "support/ListingJson.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

namespace qis {
namespace {

constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kChunk = 10 * kMiB;

// Records of the ntfs-features volume, by name, as 1024-byte blocks.
class RecordSource {
public:
    RecordSource()
    {
        raw_ = test::qemuRawReference(test::fixture("ntfs-features.vhdx"), "vhdx");
        EXPECT_TRUE(reader_.open(raw_));
        ntfs parser(reader_);
        parser.volumeStartSector = 2048;
        NullReporter quiet;
        PauseGate gate;
        JobContext job(quiet, gate);
        parser.runScan(job);
        for (const auto& e : parser.entryList)
            if (e.name)
                offsets_.emplace(*e.name, e.recordOffset);
        std::ifstream in(raw_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(2048 * 512 + offsets_.at(u"$MFT")));
        mftStart_.resize(8 * 1024);
        in.read(reinterpret_cast<char*>(mftStart_.data()), static_cast<std::streamsize>(mftStart_.size()));
    }
    std::vector<std::uint8_t> record(const std::u16string& name) const
    {
        std::ifstream in(raw_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(2048 * 512 + offsets_.at(name)));
        std::vector<std::uint8_t> r(1024);
        in.read(reinterpret_cast<char*>(r.data()), 1024);
        return r;
    }
    std::vector<std::uint8_t> bootSector() const
    {
        std::ifstream in(raw_, std::ios::binary);
        in.seekg(2048 * 512);
        std::vector<std::uint8_t> b(512);
        in.read(reinterpret_cast<char*>(b.data()), 512);
        return b;
    }
    // Records 0 to 7: $MFT … $Boot.
    const std::vector<std::uint8_t>& mftStart() const { return mftStart_; }

private:
    std::filesystem::path raw_;
    FileReadSeekRaw reader_;
    std::map<std::u16string, std::uint64_t> offsets_;
    std::vector<std::uint8_t> mftStart_;
};

const RecordSource& records()
{
    static RecordSource source;
    return source;
}

// A record with every $FILE_NAME attribute renamed to another type: what is
// left of a record whose names were overwritten.
std::vector<std::uint8_t> withoutNames(std::vector<std::uint8_t> record)
{
    std::size_t at = record[0x14] | (record[0x15] << 8);
    while (at + 8 <= record.size()) {
        std::uint32_t type = record[at] | (record[at + 1] << 8) | (record[at + 2] << 16) | (std::uint32_t{record[at + 3]} << 24);
        std::uint32_t length = record[at + 4] | (record[at + 5] << 8) | (record[at + 6] << 16);
        if (type == 0xFFFFFFFF || length == 0)
            break;
        if (type == 0x30)
            record[at] = 0x40;
        at += length;
    }
    return record;
}

std::filesystem::path volumeWith(const test::TempDir& dir, std::uint64_t size,
                                 const std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>>& pieces)
{
    std::vector<std::uint8_t> bytes(size, 0);
    for (const auto& [at, piece] : pieces)
        std::copy(piece.begin(), piece.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    auto path = dir / "volume.img";
    test::writeWholeFile(path, bytes);
    return path;
}

test::CommandResult qsalvage(const std::filesystem::path& image, std::uint64_t mebibytes, std::vector<std::string> words)
{
    std::vector<std::string> all = {words.front(), image.string(), "--start-sector", "0", "--fs", "NTFS", "--size-mb",
                                    std::to_string(mebibytes)};
    all.insert(all.end(), words.begin() + 1, words.end());
    return test::runQsalvage(all);
}

std::vector<std::string> listedPaths(const std::string& json)
{
    std::vector<std::string> paths;
    for (const auto& [path, e] : test::parseJsonListing(json))
        paths.push_back(path);
    return paths;
}

const std::string kLongName = "L254-" + std::string(245, 'x') + ".txt";

TEST(NtfsDeepScan, KeepsNamedRecordsWhereverTheyLieAndHangsFilesInTheFolderBeforeThem)
{
    test::TempDir dir;
    auto image = volumeWith(dir, 12 * kMiB,
                            {{512 * 1024, records().record(u"tiny.txt")},
                             {kMiB, records().record(u"Names")},
                             {kMiB + 4096, withoutNames(records().record(u"empty.txt"))},
                             // Straddles the first chunk's end: its name lies in the second chunk.
                             {kChunk - 512, records().record(std::u16string(kLongName.begin(), kLongName.end()))}});
    auto r = qsalvage(image, 12, {"list", "--mode", "deep", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(listedPaths(r.out), (std::vector<std::string>{"ORPHAN_ENTRY", "ORPHAN_ENTRY/Names", "ORPHAN_ENTRY/Names/" + kLongName,
                                               "ORPHAN_ENTRY/tiny.txt"}));
}

TEST(NtfsDeepScan, ABootSectorClaimingFarMoreSectorsThanTheDiskHoldsIsSearchedToTheDisksEnd)
{
    test::TempDir dir;
    std::vector<std::uint8_t> boot = records().bootSector();
    for (int i = 0; i < 8; ++i)
        boot[0x28 + i] = static_cast<std::uint8_t>((std::uint64_t{1} << 50) >> (8 * i));
    auto image = volumeWith(dir, 12 * kMiB,
                            {{0, boot}, {kMiB, records().record(u"tiny.txt")}, {12 * kMiB - 1024, records().record(u"Names")}});
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(image));
    ntfs parser(reader);
    parser.volumeSizeText = "12";
    ASSERT_TRUE(parser.readBootSector());
    EXPECT_EQ(parser.volumeSize, 12 * kMiB);

    auto r = qsalvage(image, 12, {"list", "--mode", "deep", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(listedPaths(r.out), (std::vector<std::string>{"ORPHAN_ENTRY", "ORPHAN_ENTRY/Names", "ORPHAN_ENTRY/tiny.txt"}));
}

// Presses Stop once the search reports reaching the given chunk.
struct StopAtChunk : NullReporter {
    std::atomic<bool>* stop;
    std::int32_t chunk;
    StopAtChunk(std::atomic<bool>* s, std::int32_t c) : stop(s), chunk(c) {}
    void setProgressPos(std::int32_t position) override
    {
        if (position >= chunk)
            stop->store(true);
    }
};

TEST(NtfsDeepScan, StopKeepsWhatWasFoundBeforeIt)
{
    test::TempDir dir;
    auto image = volumeWith(dir, 32 * kMiB, {{kMiB, records().record(u"tiny.txt")}, {21 * kMiB, records().record(u"Names")}});
    FileReadSeekRaw reader;
    ASSERT_TRUE(reader.open(image));
    ntfs parser(reader);
    parser.volumeSizeText = "32";
    parser.scanMode = 3;
    StopAtChunk stopper(&parser.stopRequested, 1);
    PauseGate gate;
    JobContext job(stopper, gate);
    parser.runScan(job);
    std::vector<std::u16string> names;
    for (const auto& e : parser.entryList)
        if (e.name)
            names.push_back(*e.name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"tiny.txt", u"ORPHAN_ENTRY"}));
}

TEST(NtfsFirstRecordSearch, WithoutAnyMftRecordsFoundAreLinkedByTheNumbersTheyCarry)
{
    test::TempDir dir;
    // No $MFT, no root folder: Names and tiny.txt lost their parents,
    // the long-named file still has its folder.
    auto image = volumeWith(dir, 12 * kMiB,
                            {{kMiB, records().record(std::u16string(kLongName.begin(), kLongName.end()))},
                             {2 * kMiB, records().record(u"Names")},
                             {3 * kMiB, records().record(u"tiny.txt")}});
    auto r = qsalvage(image, 12, {"list", "--json"});
    // Only the records met before the search gave up: not the whole volume.
    ASSERT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(listedPaths(r.out), (std::vector<std::string>{"ORPHAN_ENTRY", "ORPHAN_ENTRY/Names", "ORPHAN_ENTRY/Names/" + kLongName,
                                               "ORPHAN_ENTRY/tiny.txt"}));
}

TEST(NtfsCandidateSearch, StopsInTheChunkThatBringsTheWantedCountAndNeedsSevenRecordsBeforeBoot)
{
    const auto& mft = records().mftStart();
    // Records 1 to 7 at the very start: $Boot without the $MFT seven before it.
    std::vector<std::uint8_t> noMft(mft.begin() + 1024, mft.end());
    test::TempDir dir;
    auto image = volumeWith(dir, 32 * kMiB,
                            {{0, noMft}, {2 * kMiB, mft}, {11 * kMiB, mft}, {15 * kMiB, mft}, {25 * kMiB, mft}});
    auto offsets = [&](const std::string& most) {
        auto r = qsalvage(image, 32, {"candidates", "--max", most, "--json"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::uint64_t> out;
        std::regex offset("\"MFT_ENTRY:[0-9]+\", \"offset\": ([0-9]+)");
        for (std::sregex_iterator it(r.out.begin(), r.out.end(), offset), end; it != end; ++it)
            out.push_back(std::stoull((*it)[1]));
        return out;
    };
    EXPECT_EQ(offsets("3"), (std::vector<std::uint64_t>{2 * kMiB, 11 * kMiB, 15 * kMiB}));
    EXPECT_EQ(offsets("2"), (std::vector<std::uint64_t>{2 * kMiB, 11 * kMiB, 15 * kMiB}))
        << "the second chunk is searched to its end";
    EXPECT_EQ(offsets("9"), (std::vector<std::uint64_t>{2 * kMiB, 11 * kMiB, 15 * kMiB, 25 * kMiB}));
}

TEST(NtfsCandidateSearch, AVolumeWithoutMftCopiesOffersNothingAndTheAdvancedScanShowsAnEmptyVolume)
{
    test::TempDir dir;
    auto image = volumeWith(dir, 4 * kMiB, {{kMiB, records().record(u"tiny.txt")}});
    auto r = qsalvage(image, 4, {"candidates"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Number of MFT-ENTRY found = 0 ."), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("MFT_ENTRY:"), std::string::npos) << r.out;
    auto listed = qsalvage(image, 4, {"list", "--mode", "advanced", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_TRUE(test::parseJsonListing(listed.out).empty()) << listed.out;
}

} // namespace
} // namespace qis
