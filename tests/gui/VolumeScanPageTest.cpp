// The volume scan page, reached through every page before it: saves
// compared with what the volumes held, search, the check boxes, and the
// rules that keep the user from leaving or saving while a job runs.

#include "PageRoute.h"
#include "RecordingSink.h"
#include "support/Fixtures.h"
#include "support/SampleManifest.h"
#include "ui/CBrellanApp.h"
#include "ui/DriveParsingModes.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/PopulateDriveDlg.h"
#include "ui/VhdInputDialog.h"
#include "ui/VisiblePage.h"
#include "ui/VolumeScanDlg.h"

#include <QApplication>
#include <QComboBox>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <map>

namespace qis::ui {
namespace {

std::vector<std::string> listedNames(const VolumeScanDlg& scan)
{
    std::vector<std::string> names;
    for (int i = 0; i < scan.files->topLevelItemCount(); ++i)
        names.push_back(scan.files->topLevelItem(i)->text(0).toStdString());
    return names;
}

// Each case starts on the scan page of a sample volume, scanned.
class SampleVolumeThroughThePages : public ::testing::TestWithParam<Route> {
protected:
    void SetUp() override
    {
        scan = scannedPage(app, GetParam());
        ASSERT_NE(scan, nullptr);
    }
    RecordingSink sink;
    CBrellanApp app;
    VolumeScanDlg* scan = nullptr;
};

TEST_P(SampleVolumeThroughThePages, SavingTheDocumentsFolderAsksAndWritesItsFilesByteForByte)
{
    sink.whenEmpty = QMessageBox::Yes;
    EXPECT_TRUE(scan->backButton()->isEnabled()) << "the scan ended";
    EXPECT_FALSE(scan->jobs->stop->isVisible()) << "the job buttons go when the scan ends";
    ASSERT_NE(scan->rootItem(), nullptr);
    EXPECT_GE(scan->rootItem()->childCount(), 3);
    auto* documents = scan->findItem("Documents");
    ASSERT_NE(documents, nullptr);

    // What the volume held below Documents, as paths from inside it.
    std::map<std::string, test::SampleEntry> expected;
    for (const auto& e : test::sampleManifest(GetParam().row + 1))
        if (e.kind != "dir" && e.path.rfind("Documents/", 0) == 0)
            expected[e.path.substr(10)] = e;
    ASSERT_GE(expected.size(), 3u) << "two files and a deleted one";

    test::TempDir dir;
    scan->outputFolder->setText(QString::fromStdString(dir.path().string()));
    scan->tree->setCurrentItem(documents);
    QTest::mouseClick(scan->save, Qt::LeftButton);
    scan->waitForJob();
    EXPECT_TRUE(sink.saw("number of files found inside this folder = " + std::to_string(expected.size()) +
                         " .do u want to continue dumping these files..?"));
    EXPECT_TRUE(sink.saw("Saving process done."));
    // The folder's contents go straight into the output folder.
    auto written = filesBelow(dir.path());
    EXPECT_EQ(written.size(), expected.size());
    for (const auto& [path, e] : expected) {
        ASSERT_TRUE(written.count(path)) << path;
        // A deleted file is written too; its bytes are whatever its
        // clusters hold now (on FAT another file may have taken them).
        if (e.kind == "file") {
            EXPECT_EQ(written[path], e.sha256 + " " + e.mtime) << path;
        }
    }
}

TEST_P(SampleVolumeThroughThePages, NoAnswerWritesNothingAndAnEmptyOutputFolderIsAskedFor)
{
    scan->tree->setCurrentItem(scan->findItem("Documents"));
    scan->saveSelected();
    EXPECT_EQ(sink.shown.back(), "Select output folder");

    test::TempDir dir;
    scan->outputFolder->setText(QString::fromStdString(dir.path().string()));
    sink.answers = {QMessageBox::No};
    scan->saveSelected();
    scan->waitForJob();
    EXPECT_TRUE(filesBelow(dir.path()).empty());
    EXPECT_FALSE(sink.saw("Saving process done."));
}

TEST_P(SampleVolumeThroughThePages, SearchListsPathsWithTheirColumnsAndRefusesABadPattern)
{
    scan->pattern->setText("JPG$");
    QTest::mouseClick(scan->searchButton, Qt::LeftButton);
    scan->waitForJob();
    EXPECT_EQ(sink.shown.back(), "Searching Finished");
    auto names = listedNames(*scan);
    auto at = std::find(names.begin(), names.end(), "Photos/holiday.jpg");
    ASSERT_NE(at, names.end());
    QTreeWidgetItem* row = scan->files->topLevelItem(static_cast<int>(at - names.begin()));
    EXPECT_FALSE(row->text(4).isEmpty()) << "the size column";
    EXPECT_FALSE(row->text(3).isEmpty()) << "the modification time";
    for (const auto& n : names)
        EXPECT_NE(n.find(".jpg"), std::string::npos) << n;
    // A result row is not a tree item: its box does not change.
    row->setCheckState(0, Qt::Checked);
    EXPECT_EQ(row->checkState(0), Qt::Unchecked);

    scan->search("*.jpg");
    scan->waitForJob();
    EXPECT_EQ(sink.shown.back(), "such characters are not allowed for search.Try again with different pattern.");
    EXPECT_EQ(scan->files->topLevelItemCount(), 0);
}

TEST_P(SampleVolumeThroughThePages, TheTreesAndTheListsCheckBoxesAreOneState)
{
    auto* documents = scan->findItem("Documents");
    ASSERT_NE(documents, nullptr);
    scan->showFolderFiles(documents);
    scan->waitForListing();
    ASSERT_GE(scan->files->topLevelItemCount(), 1);
    // Only files are listed; the folder below Documents is in the tree.
    auto names = listedNames(*scan);
    EXPECT_EQ(std::find(names.begin(), names.end(), "notes"), names.end());
    // The last column says how much of a deleted file is left, and is
    // empty for a live one.
    int deletedRows = 0;
    for (const auto& e : test::sampleManifest(GetParam().row + 1)) {
        if (e.path.rfind("Documents/", 0) != 0 || e.path.find('/', 10) != std::string::npos || e.kind == "dir")
            continue;
        auto at = std::find(names.begin(), names.end(), e.path.substr(10));
        ASSERT_NE(at, names.end()) << e.path;
        const QString shown = scan->files->topLevelItem(static_cast<int>(at - names.begin()))->text(6);
        EXPECT_EQ(shown.isEmpty(), e.kind != "deleted") << e.path << ": " << shown.toStdString();
        deletedRows += e.kind == "deleted";
    }
    EXPECT_GE(deletedRows, 1);
    scan->tree->SetCheck(documents, true);
    for (int r = 0; r < scan->files->topLevelItemCount(); ++r)
        EXPECT_TRUE(scan->files->rowChecked(r)) << r;
    EXPECT_TRUE(scan->files->headerChecked());
    scan->files->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(documents->checkState(0), Qt::PartiallyChecked);
    // A folder's children shown later take its check: "notes" below it is checked.
    auto* notes = scan->findItem("Documents/notes");
    ASSERT_NE(notes, nullptr);
    EXPECT_EQ(notes->checkState(0), Qt::Checked);
}

TEST_P(SampleVolumeThroughThePages, ADoubleClickListsAFoldersNamesOrSavesAFile)
{
    auto* photos = scan->findItem("Photos");
    ASSERT_NE(photos, nullptr);
    emit scan->tree->itemDoubleClicked(photos, 0);
    scan->waitForListing();
    ASSERT_GE(scan->files->topLevelItemCount(), 1);
    for (int r = 0; r < scan->files->topLevelItemCount(); ++r) {
        EXPECT_FALSE(scan->files->topLevelItem(r)->text(0).isEmpty());
        EXPECT_TRUE(scan->files->topLevelItem(r)->text(4).isEmpty()) << "names only";
    }

    auto* holiday = scan->findItem("Photos/holiday.jpg");
    ASSERT_NE(holiday, nullptr);
    emit scan->tree->itemDoubleClicked(holiday, 0);
    EXPECT_EQ(sink.shown.back(), "Select output folder");
    test::TempDir dir;
    scan->outputFolder->setText(QString::fromStdString(dir.path().string()));
    const auto before = sink.shown.size();
    emit scan->tree->itemDoubleClicked(holiday, 0);
    scan->waitForJob();
    std::string expected;
    for (const auto& e : test::sampleManifest(GetParam().row + 1))
        if (e.path == "Photos/holiday.jpg")
            expected = e.sha256;
    EXPECT_EQ(test::fileSha256(dir / "holiday.jpg"), expected);
    EXPECT_EQ(sink.shown.size(), before) << "NTFS and FAT quick saves say nothing";
}

INSTANTIATE_TEST_SUITE_P(Sample, SampleVolumeThroughThePages, ::testing::Values(kSampleNtfs, kSampleFat32),
                         [](const auto& info) { return info.param.name; });

// Every file system through the pages: the whole volume saved from its
// item equals what the command line's save writes (which the command-line
// tests compare with the fixtures' listings).
class EveryFileSystemThroughThePages : public ::testing::TestWithParam<Route> {};

// An entry without a time (NTFS's $MFT lists none) keeps the time it was
// written at; that is "now" for both saves, maybe a second apart.
std::string untimedAsNow(std::string shaAndTime, const std::string& startedIso)
{
    const auto space = shaAndTime.find(' ');
    if (space != std::string::npos && shaAndTime.substr(space + 1) >= startedIso)
        shaAndTime = shaAndTime.substr(0, space) + " now";
    return shaAndTime;
}

TEST_P(EveryFileSystemThroughThePages, SavingTheVolumeItemWritesWhatTheCommandLineWrites)
{
    test::TempDir clock;
    test::writeWholeFile(clock / "started", {});
    const std::string started = test::fileMtimeIso(clock / "started");
    RecordingSink sink;
    sink.whenEmpty = QMessageBox::Yes;
    CBrellanApp app;
    auto* scan = scannedPage(app, GetParam());
    ASSERT_NE(scan, nullptr);
    ASSERT_NE(scan->rootItem(), nullptr) << (sink.shown.empty() ? "" : sink.shown.back());
    test::TempDir gui;
    saveVolumeItem(*scan, gui.path());
    EXPECT_TRUE(sink.saw("Saving process done."));

    test::TempDir cli;
    auto expected = commandLineSave(GetParam(), cli.path());
    auto written = filesBelow(gui.path());
    EXPECT_GE(expected.size(), 3u);
    for (auto* files : {&expected, &written})
        for (auto& [path, shaAndTime] : *files)
            shaAndTime = untimedAsNow(shaAndTime, started);
    EXPECT_EQ(written, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, EveryFileSystemThroughThePages,
    ::testing::Values(Route{"sample.vhdx", true, false, 0, "ntfs"}, Route{"ntfs-512.vhdx", false, false, 0, "ntfs512"},
                      Route{"sample.vhdx", true, false, 1, "fat32"}, Route{"fat16.vhdx", false, false, 0, "fat16"},
                      Route{"exfat.vhdx", true, false, 0, "exfat"}, Route{"ext.vhdx", true, false, 0, "ext2"},
                      Route{"ext.vhdx", true, false, 2, "ext4"},
                      Route{"hfsplus-tree.vhdx", false, true, 0, "hfsplus"}),
    [](const auto& info) { return info.param.name; });

TEST(VolumeScanPage, AnExfatQuickSaveSaysWhereTheFileWent)
{
    RecordingSink sink;
    CBrellanApp app;
    auto* scan = scannedPage(app, Route{"exfat.vhdx", true, false, 0, "exfat"});
    ASSERT_NE(scan, nullptr);
    ASSERT_NE(scan->rootItem(), nullptr);
    QTreeWidgetItem* file = nullptr;
    for (int i = 0; i < scan->rootItem()->childCount() && !file; ++i)
        if (!scan->rootItem()->child(i)->data(0, Qt::UserRole + 1).toBool())
            file = scan->rootItem()->child(i);
    ASSERT_NE(file, nullptr);
    test::TempDir dir;
    scan->outputFolder->setText(QString::fromStdString(dir.path().string()));
    scan->quickSave(file);
    scan->waitForJob();
    EXPECT_EQ(sink.shown.back(),
              "file is dumped in path  :  " + dir.path().string() + "/" + file->text(0).toStdString() + "   ");
    EXPECT_TRUE(std::filesystem::exists(dir / file->text(0).toStdString()));

    // Saved again beside itself, it is named by the name it was given.
    scan->quickSave(file);
    scan->waitForJob();
    const std::string prefix = "file is dumped in path  :  " + dir.path().string() + "/";
    const std::string& said = sink.shown.back();
    ASSERT_EQ(said.rfind(prefix, 0), 0u) << said;
    ASSERT_GE(said.size(), prefix.size() + 3);
    const std::string savedAs = said.substr(prefix.size(), said.size() - prefix.size() - 3);
    EXPECT_NE(savedAs, file->text(0).toStdString());
    EXPECT_NE(savedAs.find(" (1)"), std::string::npos) << savedAs;
    EXPECT_TRUE(std::filesystem::exists(dir / savedAs)) << savedAs;
}

// The scan's first report waits for the page, so the page is caught with
// its job running.
TEST(VolumeScanPage, BackWaitsForTheScanAndPauseHoldsItUntilStopEndsIt)
{
    RecordingSink sink;
    CBrellanApp app;
    auto* scan = openScanPage(app, kSampleNtfs);
    ASSERT_NE(scan, nullptr);
    ASSERT_TRUE(scan->busy());
    EXPECT_FALSE(scan->backButton()->isEnabled());
    EXPECT_TRUE(scan->jobs->stop->isVisible());
    EXPECT_TRUE(scan->refuseWhileBusy());
    EXPECT_EQ(sink.shown.back(), "Please wait for the running process.");
    scan->saveSelected();
    EXPECT_EQ(sink.shown.back(), "Please wait for the running process.");

    QTest::mouseClick(scan->jobs->pause, Qt::LeftButton);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 200)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    // At most the report already on its way got through; nothing since.
    const QString held = scan->status->text();
    while (clock.elapsed() < 600)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(scan->status->text(), held);
    EXPECT_TRUE(scan->busy()) << "a paused scan does not end";

    QTest::mouseClick(scan->jobs->stop, Qt::LeftButton);
    scan->waitForJob();
    EXPECT_FALSE(scan->busy());
    EXPECT_TRUE(scan->backButton()->isEnabled());
    EXPECT_TRUE(sink.saw("Scanning process completed.")) << "a stopped scan still ends as a scan";
    EXPECT_NE(scan->rootItem(), nullptr) << "what was found before Stop is shown";
    EXPECT_FALSE(scan->refuseWhileBusy());
}

TEST(VolumeScanPage, ClosingTheProgramDuringTheScanEndsItWithoutItsMessages)
{
    RecordingSink sink;
    CBrellanApp app;
    auto* scan = openScanPage(app, kSampleNtfs);
    ASSERT_NE(scan, nullptr);
    ASSERT_TRUE(scan->busy());
    sink.answers = {QMessageBox::No};
    scan->close();
    EXPECT_FALSE(app.ended) << "No keeps the page";
    EXPECT_TRUE(scan->isVisible());
    sink.answers = {QMessageBox::Yes};
    scan->close();
    EXPECT_TRUE(app.ended);
    const auto asked = sink.shown.size();
    delete scan; // as the program's end does: the job is stopped and waited for
    EXPECT_EQ(sink.shown.size(), asked) << "no completion message after the user chose to leave";
}

TEST(VolumeScanPage, DeepModeShowsOnlyTheOrphansUnderTheVolume)
{
    RecordingSink sink;
    CBrellanApp app;
    auto* image = static_cast<VhdInputDialog*>(app.start());
    image->openImage(QString::fromStdString(test::fixture("sample.vhdx").string()), ImageFormat::Vhdx);
    app.state.imagePath = test::fixture("sample.vhdx").string();
    VolumeScanDlg page(app, image, VolumeRecord{"NTFS", "0", "31   MB", 2048}, 3);
    page.runScan();
    page.waitForJob();
    EXPECT_TRUE(sink.saw("Scanning process completed."));
    ASSERT_NE(page.rootItem(), nullptr);
    ASSERT_EQ(page.rootItem()->childCount(), 1);
    QTreeWidgetItem* orphans = page.rootItem()->child(0);
    EXPECT_EQ(orphans->text(0), "ORPHAN_ENTRY");
    // Every file of the volume is found among them, deleted ones too.
    page.search("holiday|deleted-photo");
    page.waitForJob();
    EXPECT_EQ(page.files->topLevelItemCount(), 2);
}

TEST(VolumeScanPage, AModeTheFileSystemLacksSaysSoAndLeavesBackUsable)
{
    RecordingSink sink;
    CBrellanApp app;
    auto* image = static_cast<VhdInputDialog*>(app.start());
    image->openImage(QString::fromStdString(test::fixture("sample.vhdx").string()), ImageFormat::Vhdx);
    app.state.imagePath = test::fixture("sample.vhdx").string();
    VolumeScanDlg page(app, image, VolumeRecord{"extX", "3", "31", 215040}, 3);
    page.runScan();
    ASSERT_FALSE(sink.shown.empty());
    EXPECT_NE(sink.shown.back().find("not available"), std::string::npos) << sink.shown.back();
    EXPECT_TRUE(page.backButton()->isEnabled());
    EXPECT_FALSE(page.busy());

    VolumeScanDlg raw(app, image, VolumeRecord{"RAW", "0", "100", 2048}, 1);
    raw.runScan();
    EXPECT_EQ(sink.shown.back(), "Not a valid drive.");
    EXPECT_EQ(raw.status->text(), "Not a valid Drive .Go back");
    EXPECT_TRUE(raw.backButton()->isEnabled());
}

} // namespace
} // namespace qis::ui
