// Stop during a save: the file being written is removed, not left cut
// short under its own name; an earlier Stop does not keep a save from
// writing. On the sample disk's NTFS volume.

#include "filesystems/ntfs/NtfsVolumeParser.h"
#include "images/vhdx/FileReadSeekVHDX.h"
#include "recovery/FolderSave.h"
#include "recovery/SelectionSave.h"
#include "support/Fixtures.h"
#include "support/StopAtStatus.h"

#include <gtest/gtest.h>

namespace qis {
namespace {

using test::StopAtStatus;

class SampleNtfs : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(reader_.open(test::fixture("sample.vhdx")));
        parser_.volumeStartSector = 2048;
        NullReporter quiet;
        JobContext scan(quiet, gate);
        parser_.runScan(scan);
        for (EntryHandle e : view.topLevel())
            if (view.name(e) == u"Documents")
                documents = e;
        ASSERT_NE(documents, kNoEntry);
    }
    EntryHandle child(EntryHandle folder, const std::u16string& name)
    {
        for (EntryHandle c = view.firstChild(folder); c != kNoEntry; c = view.nextSibling(c))
            if (view.name(c) == name)
                return c;
        return kNoEntry;
    }

    FileReadSeekVHDX reader_;
    ntfs parser_{reader_};

public:
    NtfsVolumeParser view{parser_};
    PauseGate gate;
    EntryHandle documents = kNoEntry;
    std::atomic<bool> stop{false};
    test::TempDir out;
};

TEST_F(SampleNtfs, StopDuringAFileRemovesItAndEndsTheSave)
{
    auto into = OutputFolder::open(out.path());
    ASSERT_TRUE(into);
    StopAtStatus page(stop, "saving File  Documents/report.txt");
    JobContext job(page, gate);
    FolderSave save(view, stop);
    const FolderSave::Totals totals = save.saveFolderContents(documents, *into, "Documents", job);
    EXPECT_EQ(totals.stopped, 1u);
    EXPECT_EQ(totals.files, 0u) << "the removed file is not counted as saved";
    EXPECT_FALSE(std::filesystem::exists(out.path() / "report.txt"));
    EXPECT_TRUE(std::filesystem::is_empty(out.path())) << "nothing after the Stop is begun";
    EXPECT_NE(saveTotalsText(totals).find("1 begun when Stop came, and removed."), std::string::npos);
}

TEST_F(SampleNtfs, AStopLeftFromTheScanDoesNotKeepOneFileFromBeingSaved)
{
    auto into = OutputFolder::open(out.path());
    ASSERT_TRUE(into);
    const EntryHandle report = child(documents, u"report.txt");
    ASSERT_NE(report, kNoEntry);
    stop.store(true);
    NullReporter quiet;
    JobContext job(quiet, gate);
    FolderSave save(view, stop);
    FolderSave::Totals totals;
    EXPECT_TRUE(save.saveFile(report, *into, "Documents", job, totals));
    EXPECT_EQ(totals.files, 1u);
    EXPECT_EQ(totals.stopped, 0u);
    EXPECT_EQ(std::filesystem::file_size(out.path() / "report.txt"), 162u);
}

} // namespace
} // namespace qis
