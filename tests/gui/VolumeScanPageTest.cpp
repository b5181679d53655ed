// The volume scan page on the sample disk: the whole way from the image
// page to files saved through the page, compared with what the volume held.

#include "support/Fixtures.h"
#include "support/SampleManifest.h"
#include "ui/CBrellanApp.h"
#include "ui/DriveParsingModes.h"
#include "ui/MessageSink.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/PopulateDriveDlg.h"
#include "ui/VhdInputDialog.h"
#include "ui/VisiblePage.h"
#include "ui/VolumeScanDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace qis::ui {
namespace {

struct QuietSink : MessageSink {
    std::vector<std::string> shown;
    QuietSink() { MessageSink::setCurrent(this); }
    ~QuietSink() override { MessageSink::setCurrent(nullptr); }
    QMessageBox::StandardButton show(QWidget*, const QString& text, QMessageBox::Icon, QMessageBox::StandardButtons) override
    {
        shown.push_back(text.toStdString());
        return QMessageBox::Ok;
    }
};

// Image, scan mode (GPT), volume `row`, Standard: the scan page, scanned.
VolumeScanDlg* scanPage(CBrellanApp& app, int row)
{
    auto* image = static_cast<VhdInputDialog*>(app.start());
    image->openImage(QString::fromStdString(test::fixture("sample.vhdx").string()), ImageFormat::Vhdx);
    QTest::mouseClick(image->nextButton(), Qt::LeftButton);
    auto* modes = visiblePage<DriveParsingModes>();
    modes->gptFormat->click();
    QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
    auto* volumes = visiblePage<PopulateDriveDlg>();
    volumes->selectRow(row);
    QTest::mouseClick(volumes->nextButton(), Qt::LeftButton);
    QTest::mouseClick(visiblePage<ParceModeNtfsDlg>()->nextButton(), Qt::LeftButton);
    auto* scan = visiblePage<VolumeScanDlg>();
    if (scan)
        scan->waitForJob();
    return scan;
}

class SampleVolumeThroughThePages : public ::testing::TestWithParam<int> {};

TEST_P(SampleVolumeThroughThePages, SavingTheDocumentsFolderWritesItsFilesByteForByte)
{
    QuietSink sink;
    CBrellanApp app;
    auto* scan = scanPage(app, GetParam());
    ASSERT_NE(scan, nullptr);
    EXPECT_TRUE(scan->backButton()->isEnabled()) << "the scan ended";
    ASSERT_GE(scan->tree->topLevelItemCount(), 3);
    auto* documents = scan->findItem("Documents");
    ASSERT_NE(documents, nullptr);
    scan->showFolderFiles(documents);
    EXPECT_GE(scan->files->topLevelItemCount(), 1);

    test::TempDir dir;
    scan->outputFolder->setText(QString::fromStdString(dir.path().string()));
    scan->tree->setCurrentItem(documents);
    scan->saveSelected();
    scan->waitForJob();
    int checked = 0;
    for (const auto& e : test::sampleManifest(GetParam() + 1)) {
        if (e.kind != "file" || e.path.rfind("Documents/", 0) != 0)
            continue;
        auto saved = dir / e.path;
        ASSERT_TRUE(std::filesystem::exists(saved)) << e.path;
        EXPECT_EQ(test::fileSha256(saved), e.sha256) << e.path;
        EXPECT_EQ(test::fileMtimeIso(saved), e.mtime) << e.path;
        ++checked;
    }
    EXPECT_GE(checked, 2);
}

TEST_P(SampleVolumeThroughThePages, SearchFindsThePhotosByPattern)
{
    QuietSink sink;
    CBrellanApp app;
    auto* scan = scanPage(app, GetParam());
    ASSERT_NE(scan, nullptr);
    scan->search("jpg$");
    scan->waitForJob();
    std::vector<std::string> found;
    for (int i = 0; i < scan->files->topLevelItemCount(); ++i)
        found.push_back(scan->files->topLevelItem(i)->text(0).toStdString());
    EXPECT_NE(std::find(found.begin(), found.end(), "Photos/holiday.jpg"), found.end());
}

TEST_P(SampleVolumeThroughThePages, TheTreesAndTheListsCheckBoxesAreOneState)
{
    QuietSink sink;
    CBrellanApp app;
    auto* scan = scanPage(app, GetParam());
    ASSERT_NE(scan, nullptr);
    auto* documents = scan->findItem("Documents");
    ASSERT_NE(documents, nullptr);
    scan->showFolderFiles(documents);
    ASSERT_GE(scan->files->topLevelItemCount(), 1);
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

INSTANTIATE_TEST_SUITE_P(Sample, SampleVolumeThroughThePages, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? std::string("ntfs") : std::string("fat32"); });

TEST(VolumeScanPage, AModeTheFileSystemLacksSaysSoAndLeavesBackUsable)
{
    QuietSink sink;
    CBrellanApp app;
    auto* image = static_cast<VhdInputDialog*>(app.start());
    image->openImage(QString::fromStdString(test::fixture("sample.vhdx").string()), ImageFormat::Vhdx);
    app.state.imagePath = test::fixture("sample.vhdx").string();
    VolumeScanDlg page(app, image, VolumeRecord{"extX", "3", "31", 215040}, 3);
    page.runScan();
    ASSERT_FALSE(sink.shown.empty());
    EXPECT_NE(sink.shown.back().find("not available"), std::string::npos) << sink.shown.back();
    EXPECT_TRUE(page.backButton()->isEnabled());
}

} // namespace
} // namespace qis::ui
