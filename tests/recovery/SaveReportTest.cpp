// The records a save hands out, on the FAT16 volume of undelete-fat.img
// (deleted files read by a guess among them): each written file's digests
// are those of the file on disk, a second save with skip-existing finds
// every file present, and a file changed since is written again.

#include "filesystems/VolumeScan.h"
#include "images/raw/FileReadSeekRaw.h"
#include "recovery/HashingSink.h"
#include "recovery/SelectionSave.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace qis {
namespace {

std::string fileMd5(const std::filesystem::path& file)
{
    return test::runCommand("md5sum " + test::shellQuote(file.string())).out.substr(0, 32);
}

class SaveReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(reader_.open(test::fixture("undelete-fat.img")));
        std::string whyNot;
        scan_ = makeVolumeScan({"FAT16", "", "16", 2048}, reader_, ScanOptions{}, whyNot);
        ASSERT_TRUE(scan_) << whyNot;
        JobContext job{quiet_, gate_};
        parser_ = runVolumeScan(*scan_, job);
        ASSERT_TRUE(parser_);
    }
    std::vector<SavedFileRecord> save(SelectionSaveResult* result = nullptr)
    {
        std::vector<SavedFileRecord> records;
        auto into = OutputFolder::open(out_.path());
        JobContext job{quiet_, gate_};
        SaveObserver observer{[&](const SavedFileRecord& r) { records.push_back(r); },
                              [](EntryHandle h) { return std::optional<std::uint64_t>(h + 7); }, ""};
        SelectionSaveResult saved = saveSelection(*parser_, kNoEntry, *into, "out", stop_, job, !records_.empty(), observer);
        if (result)
            *result = saved;
        return records;
    }

    FileReadSeekRaw reader_;
    std::unique_ptr<VolumeScan> scan_;
    VolumeParser* parser_ = nullptr;
    NullReporter quiet_;
    PauseGate gate_;
    std::atomic<bool> stop_{false};
    test::TempDir out_;
    std::vector<SavedFileRecord> records_;
};

TEST_F(SaveReport, DigestsAreThoseOfTheWrittenFilesAndARepeatedSaveFindsThemPresent)
{
    SelectionSaveResult first;
    records_ = save(&first);
    ASSERT_EQ(records_.size(), first.totals.files);
    std::size_t guessed = 0;
    for (const SavedFileRecord& r : records_) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(r.entry, r.handle + 7);
        ASSERT_NE(r.status, SaveStatus::NotWritten) << r.reason;
        const auto written = out_.path() / r.outputPath;
        ASSERT_TRUE(std::filesystem::is_regular_file(written));
        EXPECT_EQ(std::filesystem::file_size(written), r.size);
        EXPECT_EQ(r.md5, fileMd5(written));
        EXPECT_EQ(r.sha256, test::fileSha256(written));
        if (r.status == SaveStatus::Guessed) {
            ++guessed;
            EXPECT_TRUE(r.deleted);
            EXPECT_EQ(r.recoverability, Recoverability::Guessed);
            EXPECT_FALSE(r.reason.empty());
        } else if (r.status == SaveStatus::Whole) {
            EXPECT_NE(r.recoverability, Recoverability::Guessed);
        }
    }
    EXPECT_GE(guessed, 5u) << "the deleted FAT16 files are read by a guess";
    // The path is the tree's: the manifest's live Docs/Report.txt by its digest.
    auto report = std::find_if(records_.begin(), records_.end(), [](const auto& r) { return r.path == "Docs/Report.txt"; });
    ASSERT_NE(report, records_.end());
    EXPECT_EQ(report->sha256, "b86c9a896fd64950cc696ebd1d4c4d5f4ebb5fd18e16a265b93ea95bb6a6cb91");

    // Run again: nothing is written, each file is there with its digests.
    SelectionSaveResult second;
    std::vector<SavedFileRecord> again = save(&second);
    ASSERT_EQ(again.size(), records_.size());
    EXPECT_EQ(second.totals.present, records_.size());
    for (std::size_t i = 0; i < again.size(); ++i) {
        EXPECT_EQ(again[i].status, SaveStatus::Present) << again[i].path;
        EXPECT_EQ(again[i].sha256, records_[i].sha256) << again[i].path;
        EXPECT_EQ(again[i].outputPath, records_[i].outputPath);
    }

    // A file of the same length but other contents is not taken for the entry's.
    const std::size_t k = static_cast<std::size_t>(report - records_.begin());
    const auto changed = out_.path() / report->outputPath;
    test::patchFile(changed, 0, {static_cast<std::uint8_t>(~test::readWholeFile(changed).at(0))});
    SelectionSaveResult third;
    std::vector<SavedFileRecord> last = save(&third);
    ASSERT_EQ(last.size(), records_.size());
    EXPECT_EQ(third.totals.present, records_.size() - 1);
    EXPECT_EQ(last[k].status, SaveStatus::Whole);
    EXPECT_EQ(last[k].outputPath, "Docs/Report (1).txt") << "written beside the changed file";
    EXPECT_EQ(last[k].sha256, test::fileSha256(out_.path() / last[k].outputPath));
    EXPECT_EQ(last[k].sha256, report->sha256);
}

TEST(HashingSink, AHoleIsHashedAsTheZerosItStandsFor)
{
    test::TempDir dir;
    auto folder = OutputFolder::open(dir.path());
    SavedFile file;
    ASSERT_TRUE(file.create(*folder, "sparse.bin"));
    HashingSink sink(file);
    const std::uint8_t head[] = {'a', 'b', 'c'};
    ASSERT_TRUE(sink.write(head));
    ASSERT_TRUE(sink.skip(300000)); // several of the pieces zeros are fed in
    ASSERT_TRUE(sink.write(head));
    std::uint64_t copied = 1;
    EXPECT_TRUE(sink.copyFrom(0, 0, 10, copied));
    EXPECT_EQ(copied, 0u) << "bytes copied inside the system would pass the digests by";
    ASSERT_TRUE(file.close());
    const FileHashes h = sink.finish();
    EXPECT_EQ(h.sha256, test::fileSha256(dir.path() / "sparse.bin"));
    EXPECT_EQ(h.md5, fileMd5(dir.path() / "sparse.bin"));
}

} // namespace
} // namespace qis
