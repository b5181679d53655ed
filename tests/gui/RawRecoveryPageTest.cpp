// The raw recovery page and the signature editor: the way to the page
// through a custom RAW volume, the carving and saving of the checked files
// compared with the command line's carve, and the page's messages.

#include "RecordingSink.h"
#include "support/Fixtures.h"
#include "ui/CBrellanApp.h"
#include "ui/DriveParsingModes.h"
#include "ui/PopulateDriveDlg.h"
#include "ui/RawRecoveryDialog.h"
#include "ui/RawSettingDlg.h"
#include "ui/VhdInputDialog.h"
#include "ui/VisiblePage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <map>

namespace qis::ui {
namespace {

// The default settings the build writes beside qsalvage.
QString buildSettings()
{
    return QString::fromStdString((std::filesystem::path(QIS_CLI_PATH).parent_path() / "FileSetting.txt").string());
}

std::map<std::string, std::string> filesBelow(const std::filesystem::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files[std::filesystem::relative(e.path(), root).string()] = test::fileSha256(e.path());
    return files;
}

// carve.vhdx holds files and no table: its first 16 MiB given as a RAW
// custom volume lead to the raw recovery page.
struct AtRawPage {
    RecordingSink sink;
    CBrellanApp app;
    RawRecoveryDialog* page = nullptr;
    explicit AtRawPage(std::int64_t endSector = 32767)
    {
        auto* image = static_cast<VhdInputDialog*>(app.start());
        image->openImage(QString::fromStdString(test::fixture("carve.vhdx").string()), ImageFormat::Vhdx);
        QTest::mouseClick(image->nextButton(), Qt::LeftButton);
        auto* modes = visiblePage<DriveParsingModes>();
        if (!modes)
            return;
        QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
        auto* volumes = visiblePage<PopulateDriveDlg>();
        if (!volumes || volumes->list->topLevelItemCount() == 0)
            return;
        volumes->selectRow(0);
        volumes->customSettings->click();
        volumes->startSector->setText("0");
        volumes->endSector->setText(QString::number(endSector));
        volumes->treatAs->setCurrentText("RAW");
        QTest::mouseClick(volumes->nextButton(), Qt::LeftButton);
        page = visiblePage<RawRecoveryDialog>();
        if (page) {
            page->loadDefaults->setChecked(false); // the default file beside the test program is not there
            page->settingsPath->setText(buildSettings());
        }
    }
};

TEST(RawRecoveryPage, TheCheckedFilesAreSavedAsTheCommandLineCarvesThem)
{
    AtRawPage w;
    ASSERT_NE(w.page, nullptr);
    EXPECT_EQ(w.page->status->text(), "Please select parse button to scan the default file.");
    EXPECT_FALSE(w.page->jobs->stop->isVisible());
    QTest::mouseClick(w.page->parseButton, Qt::LeftButton);
    EXPECT_FALSE(w.page->parseButton->isEnabled());
    EXPECT_FALSE(w.page->backButton()->isEnabled()) << "not while the search runs";
    w.page->waitForJob();
    EXPECT_EQ(w.sink.shown.back(), "done..");
    EXPECT_EQ(w.page->status->text(), "Scanning processing done.Select save button to save the data");
    EXPECT_TRUE(w.page->backButton()->isEnabled());
    EXPECT_FALSE(w.page->parseButton->isEnabled()) << "one search per visit";
    ASSERT_EQ(w.page->tree->topLevelItemCount(), 1);
    QTreeWidgetItem* top = w.page->tree->topLevelItem(0);
    EXPECT_EQ(top->text(0), "RAW RECOVERY ");

    // A category lists its files; the top item lists nothing.
    ASSERT_GE(top->childCount(), 2);
    QTreeWidgetItem* category = top->child(0);
    w.page->showCategoryFiles(category);
    EXPECT_EQ(w.page->files->topLevelItemCount(), category->childCount());
    EXPECT_TRUE(category->text(0).endsWith(QString(" (%1)").arg(category->childCount()))) << category->text(0).toStdString();
    w.page->showCategoryFiles(top);
    EXPECT_EQ(w.page->files->topLevelItemCount(), 0);

    w.page->saveChecked();
    EXPECT_EQ(w.sink.shown.back(), "Please select folder to continue the saving process.");
    test::TempDir gui;
    w.page->outputFolder->setText(QString::fromStdString(gui.path().string()));
    w.page->tree->SetCheck(top, true);
    w.page->saveChecked();
    w.page->waitForJob();
    EXPECT_EQ(w.sink.shown.back(), "Saving process done.");

    test::TempDir cli;
    auto r = test::runQsalvage({"carve", test::fixture("carve.vhdx").string(), "--disk", "--output", cli.path().string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto expected = filesBelow(cli.path());
    EXPECT_GE(expected.size(), 20u);
    EXPECT_EQ(filesBelow(gui.path()), expected);
}

TEST(RawRecoveryPage, NothingToLoadOrNothingToScanIsSaidAndParseStaysUsedUp)
{
    {
        AtRawPage w;
        ASSERT_NE(w.page, nullptr);
        w.page->settingsPath->clear();
        QTest::mouseClick(w.page->parseButton, Qt::LeftButton);
        EXPECT_EQ(w.sink.shown.back(), "Enter the info file first..");
        EXPECT_EQ(w.page->status->text(), "Scanning processing done.Select save button to save the data.");
        EXPECT_FALSE(w.page->parseButton->isEnabled());
        EXPECT_TRUE(w.page->backButton()->isEnabled());
    }
    {
        AtRawPage w;
        ASSERT_NE(w.page, nullptr);
        w.page->settingsPath->setText(QString::fromStdString((test::fixture("carve.vhdx").parent_path() / "none.txt").string()));
        QTest::mouseClick(w.page->parseButton, Qt::LeftButton);
        EXPECT_EQ(w.sink.shown.back(), "Cannot open the selected file");
    }
    {
        AtRawPage w(0); // start and end 0: a size of "0"
        ASSERT_NE(w.page, nullptr);
        QTest::mouseClick(w.page->parseButton, Qt::LeftButton);
        EXPECT_EQ(w.sink.shown.back(), "zero size volume..");
        EXPECT_FALSE(w.page->parseButton->isEnabled());
    }
}

TEST(SignatureEditor, RecordsGoToTheChosenFileWithTheEditorsMessages)
{
    RecordingSink sink;
    RawSettingDlg editor;
    editor.saveEntry();
    EXPECT_EQ(sink.shown.back(), "Select valid file to save the entries.");
    editor.chooseOutputFile("");
    EXPECT_EQ(sink.shown.back(), "File can not be created");

    test::TempDir dir;
    const auto file = dir / "mine.txt";
    test::writeWholeFile(file, {1, 2, 3}); // what "..." chose is emptied
    editor.chooseOutputFile(QString::fromStdString(file.string()));
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
    editor.saveEntry();
    EXPECT_EQ(sink.shown.back(), "extention length is zero..");
    editor.extension->setText("png");
    editor.saveEntry();
    EXPECT_EQ(sink.shown.back(), "signature length is zero..");
    editor.startSignature->setText("0x89, 0x50,0x4E,,0x47");
    editor.endSignature->setText("0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82");
    editor.approxSize->setText("1048576");
    editor.category->setText("Pictures");
    editor.saveEntry();
    EXPECT_EQ(sink.shown.back(), "everything initialized well.....");
    editor.saveEntry();
    EXPECT_EQ(std::filesystem::file_size(file), 2u * 173u);

    // The command line reads the two records back.
    auto r = test::runQsalvage({"signatures", "list", file.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("png"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Pictures"), std::string::npos) << r.out;
}

} // namespace
} // namespace qis::ui
