// The first pages of the wizard on the offscreen platform: their controls,
// the messages of their rules (answered through a recording message sink),
// and the way from one page to the next with the sample disk.

#include "RecordingSink.h"
#include "support/Fixtures.h"
#include "ui/CBrellanApp.h"
#include "ui/DriveParsingModes.h"
#include "ui/MessageSink.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/PopulateDriveDlg.h"
#include "ui/VhdInputDialog.h"
#include "ui/VisiblePage.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <deque>

namespace qis::ui {
namespace {

struct Wizard {
    RecordingSink sink;
    CBrellanApp app;
    VhdInputDialog* image = nullptr;
    Wizard() { image = static_cast<VhdInputDialog*>(app.start()); }
    template <typename Page>
    Page* visible()
    {
        return visiblePage<Page>();
    }
};

TEST(ImagePage, NextWithoutAFileAsksForOne)
{
    Wizard w;
    QTest::mouseClick(w.image->nextButton(), Qt::LeftButton);
    ASSERT_EQ(w.sink.shown.size(), 1u);
    EXPECT_EQ(w.sink.shown[0], "Please select valid path to continue the recovery process.");
    EXPECT_TRUE(w.image->isVisible());
    EXPECT_EQ(w.image->windowTitle(), "Quenmar Image Salvage v3.02");
}

TEST(ImagePage, AVhdxShowsItsInformationAndTheWrongKindShowsNothing)
{
    Wizard w;
    EXPECT_FALSE(w.image->informationBox()->isVisibleTo(w.image));
    // A VHD is not a VHDX: the VHDX command refuses it.
    EXPECT_FALSE(w.image->openImage(QString::fromStdString(test::fixture("numbered-fixed.vhd").string()), ImageFormat::Vhdx));
    EXPECT_FALSE(w.sink.shown.empty());
    EXPECT_FALSE(w.image->informationBox()->isVisibleTo(w.image));
    ASSERT_TRUE(w.image->openImage(QString::fromStdString(test::fixture("sample.vhdx").string()), ImageFormat::Vhdx));
    EXPECT_TRUE(w.image->informationBox()->isVisibleTo(w.image));
    EXPECT_EQ(w.image->shownValue("Size of HDD:"), "140 MB");
    EXPECT_EQ(w.app.imageType, 1);
    EXPECT_EQ(w.app.sourcePageId, 142);
    EXPECT_EQ(w.app.state.currentReader, nullptr) << "the information display leaves no reader open";
    EXPECT_FALSE(w.image->findChild<QLineEdit*>()->isEnabled()) << "the path is not typed by hand";
}

TEST(Pages, EnterAndEscapeDoNothingAndClosingAsksFirst)
{
    Wizard w;
    QTest::keyClick(w.image, Qt::Key_Return);
    QTest::keyClick(w.image, Qt::Key_Escape);
    EXPECT_TRUE(w.image->isVisible());
    EXPECT_TRUE(w.sink.shown.empty());
    w.sink.answers = {QMessageBox::No};
    w.image->close();
    EXPECT_TRUE(w.image->isVisible());
    EXPECT_FALSE(w.app.ended);
    EXPECT_EQ(w.sink.shown.back(), "Do you want to Close Application ?");
    w.sink.answers = {QMessageBox::Yes};
    w.image->close();
    EXPECT_TRUE(w.app.ended);
}

struct AtScanMode : Wizard {
    DriveParsingModes* modes = nullptr;
    AtScanMode()
    {
        image->openImage(QString::fromStdString(test::fixture("sample.vhdx").string()), ImageFormat::Vhdx);
        QTest::mouseClick(image->nextButton(), Qt::LeftButton);
        modes = visible<DriveParsingModes>();
    }
};

TEST(ScanModePage, AdvancedOptionsOnlyWithTheAdvancedScanAndCustomSectorsHandedOver)
{
    AtScanMode w;
    ASSERT_NE(w.modes, nullptr);
    EXPECT_FALSE(w.image->isVisible());
    EXPECT_TRUE(w.modes->standardScan->isChecked());
    EXPECT_FALSE(w.modes->doNotSkip->isEnabled());
    EXPECT_FALSE(w.modes->customSetting->isEnabled());
    EXPECT_FALSE(w.modes->saveImage->isEnabled());
    w.modes->advanceScan->click();
    EXPECT_TRUE(w.modes->doNotSkip->isEnabled());
    w.modes->customSetting->click();
    w.modes->startingSector->setText("5000");
    w.modes->endingSector->setText("100");
    auto c = w.modes->choices();
    EXPECT_EQ(c.scanMode, 2);
    EXPECT_EQ(c.startSector, 5000);
    EXPECT_EQ(c.endSector, 100) << "an ending sector that is not negative is taken over";
    w.modes->standardScan->click();
    EXPECT_FALSE(w.modes->customSetting->isChecked());
    QTest::mouseClick(w.modes->backButton(), Qt::LeftButton);
    EXPECT_TRUE(w.image->isVisible());
}

TEST(ScanModePage, SaveImageExportsTheWholeDisk)
{
    AtScanMode w;
    test::TempDir dir;
    w.modes->saveDiskImage->click();
    EXPECT_TRUE(w.modes->saveImage->isEnabled());
    w.modes->startExport(QString::fromStdString(dir.path().string()));
    w.modes->waitForExport();
    auto written = dir / "sample.vhdx.img";
    ASSERT_TRUE(std::filesystem::exists(written));
    EXPECT_EQ(test::fileSha256(written), test::fileSha256(test::qemuRawReference(test::fixture("sample.vhdx"), "vhdx")));
    EXPECT_EQ(w.modes->status->text(), "Image Saved, click next to continue recovery proess.");
    EXPECT_TRUE(w.modes->nextButton()->isEnabled());
}

TEST(ScanModePage, ClosingTheProgramDuringAnExportLeavesOnlyAPartialFile)
{
    AtScanMode w;
    test::TempDir dir;
    w.modes->startExport(QString::fromStdString(dir.path().string()));
    // The export's first report waits for the page: it is running now.
    w.sink.answers = {QMessageBox::Yes};
    w.modes->close();
    EXPECT_EQ(w.sink.shown.back(), "Do you want to Close Application ?");
    EXPECT_TRUE(w.app.ended);
    delete w.modes; // as the program's end does
    EXPECT_FALSE(std::filesystem::exists(dir / "sample.vhdx.img")) << "nothing that looks like a whole disk";
    ASSERT_TRUE(std::filesystem::exists(dir / "sample.vhdx.img.partial"));
    EXPECT_LT(std::filesystem::file_size(dir / "sample.vhdx.img.partial"),
              std::filesystem::file_size(test::qemuRawReference(test::fixture("sample.vhdx"), "vhdx")));
}

struct AtVolumeList : AtScanMode {
    PopulateDriveDlg* volumes = nullptr;
    explicit AtVolumeList(bool gpt = true)
    {
        if (gpt)
            modes->gptFormat->click();
        QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
        volumes = visible<PopulateDriveDlg>();
    }
};

TEST(VolumeListPage, TheTableScanListsTheSampleVolumesAndARowGivesItsSectors)
{
    AtVolumeList w;
    ASSERT_NE(w.volumes, nullptr);
    ASSERT_EQ(w.volumes->list->topLevelItemCount(), 4);
    EXPECT_EQ(w.volumes->list->topLevelItem(0)->text(1), "NTFS");
    EXPECT_EQ(w.volumes->list->topLevelItem(3)->text(1), "extX");
    EXPECT_EQ(w.volumes->status->text(), "Select volume and click next button...");
    QTest::mouseClick(w.volumes->nextButton(), Qt::LeftButton);
    EXPECT_EQ(w.sink.shown.back(), "please select a valid volume.");
    w.volumes->selectRow(1);
    EXPECT_EQ(w.volumes->startSector->text(), "67584");
    EXPECT_EQ(w.volumes->endSector->text(), QString::number(67584 + 40 * 2048 - 1));
    EXPECT_EQ(w.volumes->treatAs->currentText(), "FAT32");
}

TEST(VolumeListPage, CustomSettingsGiveTheVolumeItsSizeAndKind)
{
    AtVolumeList w;
    w.volumes->selectRow(0);
    w.volumes->customSettings->click();
    w.volumes->startSector->setText("2048");
    w.volumes->endSector->setText(QString::number(2048 + 8192 * 2048 - 1));
    w.volumes->treatAs->setCurrentText("FAT32");
    QTest::mouseClick(w.volumes->nextButton(), Qt::LeftButton);
    ASSERT_NE(w.volumes->chosenVolume(), nullptr);
    EXPECT_EQ(w.volumes->chosenVolume()->sizeText, "8192");
    EXPECT_EQ(w.volumes->chosenVolume()->fileSystem, "fat32");
    auto* modes = w.visible<ParceModeNtfsDlg>();
    ASSERT_NE(modes, nullptr);
    EXPECT_TRUE(modes->advanced->isVisibleTo(modes));
    EXPECT_FALSE(modes->deep->isVisibleTo(modes));
}

TEST(VolumeListPage, AnUnknownVolumeIsRefusedUnlessTheCustomSettingsNameItsKind)
{
    AtVolumeList w(false); // read as MBR, the sample's protective entry is all there is
    ASSERT_EQ(w.volumes->list->topLevelItemCount(), 1);
    w.volumes->selectRow(0);
    QTest::mouseClick(w.volumes->nextButton(), Qt::LeftButton);
    EXPECT_EQ(w.sink.shown.back(), "can not parse unknown volume");
    EXPECT_EQ(w.visible<ParceModeNtfsDlg>(), nullptr);
}

TEST(VolumeListPage, BackAndNextAgainScanAgainWithTheOptionsNowSet)
{
    AtVolumeList w(false);
    ASSERT_EQ(w.volumes->list->topLevelItemCount(), 1) << "the protective MBR entry";
    QTest::mouseClick(w.volumes->backButton(), Qt::LeftButton);
    QApplication::processEvents(); // the page is deleted later
    auto* modes = w.visible<DriveParsingModes>();
    ASSERT_EQ(modes, w.modes) << "the scan-mode page is shown again as it was";
    modes->gptFormat->click();
    QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
    auto* again = w.visible<PopulateDriveDlg>();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->list->topLevelItemCount(), 4) << "the GPT's four volumes";
}

TEST(VolumeListPage, WithNothingFoundOnlyACustomVolumeGoesOn)
{
    // A disk of numbered sectors has neither a table nor a boot record.
    Wizard w;
    w.image->openImage(QString::fromStdString(test::fixture("numbered-1m.vhdx").string()), ImageFormat::Vhdx);
    QTest::mouseClick(w.image->nextButton(), Qt::LeftButton);
    auto* modes = w.visible<DriveParsingModes>();
    ASSERT_NE(modes, nullptr);
    QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
    auto* table = w.visible<PopulateDriveDlg>();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->list->topLevelItemCount(), 0);
    EXPECT_FALSE(table->addCustom->isEnabled()) << "no custom volume after the table scan";
    QTest::mouseClick(table->nextButton(), Qt::LeftButton);
    EXPECT_EQ(w.sink.shown.back(), "please select a valid volume.");

    QTest::mouseClick(table->backButton(), Qt::LeftButton);
    QApplication::processEvents();
    modes->advanceScan->click();
    QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
    auto* search = w.visible<PopulateDriveDlg>();
    ASSERT_NE(search, nullptr);
    search->waitForScan();
    EXPECT_EQ(search->list->topLevelItemCount(), 0);
    ASSERT_TRUE(search->addCustom->isEnabled());
    QTest::mouseClick(search->addCustom, Qt::LeftButton);
    EXPECT_TRUE(search->customSettings->isChecked());
    search->startSector->setText("0");
    search->endSector->setText("2047");
    search->treatAs->setCurrentText("NTFS");
    QTest::mouseClick(search->nextButton(), Qt::LeftButton);
    ASSERT_NE(search->chosenVolume(), nullptr);
    EXPECT_EQ(search->chosenVolume()->fileSystem, "ntfs");
    EXPECT_EQ(search->chosenVolume()->sizeText, "1");
    EXPECT_NE(w.visible<ParceModeNtfsDlg>(), nullptr);
}

TEST(VolumeListPage, TheBootRecordSearchFindsTheVolumesOnAWorker)
{
    AtScanMode w;
    w.modes->advanceScan->click();
    QTest::mouseClick(w.modes->nextButton(), Qt::LeftButton);
    auto* volumes = w.visible<PopulateDriveDlg>();
    ASSERT_NE(volumes, nullptr);
    volumes->waitForScan();
    EXPECT_GE(volumes->list->topLevelItemCount(), 4);
    EXPECT_TRUE(volumes->backButton()->isEnabled());
    EXPECT_TRUE(volumes->addCustom->isEnabled());
    EXPECT_NE(std::find(w.sink.shown.begin(), w.sink.shown.end(), "populated partitions...."), w.sink.shown.end());
}

TEST(RecoveryModePage, EachFileSystemOffersItsModes)
{
    RecordingSink sink;
    CBrellanApp app;
    auto offered = [&](const char* fs) {
        ParceModeNtfsDlg page(app, nullptr, VolumeRecord{fs, "0", "100", 2048});
        std::string modes;
        for (QRadioButton* r : {page.standard, page.advanced, page.deep})
            if (r->isVisibleTo(&page))
                modes += r->text().toStdString() + " ";
        return modes;
    };
    EXPECT_EQ(offered("ntfs"), "Standard Advanced Deep ");
    EXPECT_EQ(offered("extX"), "Standard ");
    EXPECT_EQ(offered("HFS+"), "Standard Deep ");
    EXPECT_EQ(offered("fat32"), "Standard Advanced ");
    EXPECT_EQ(offered("FAT64"), "Standard Advanced ");

    ParceModeNtfsDlg page(app, nullptr, VolumeRecord{"FAT32", "0", "100", 2048});
    EXPECT_FALSE(page.formatted->isVisibleTo(&page));
    page.advanced->click();
    EXPECT_TRUE(page.formatted->isVisibleTo(&page));
    EXPECT_TRUE(page.maxEdit->isVisibleTo(&page));
    page.formatted->click();
    EXPECT_TRUE(app.isDriveFormatted);
    page.standard->click();
    EXPECT_FALSE(app.isDriveFormatted);
    EXPECT_FALSE(page.formatted->isVisibleTo(&page));
    page.maxEdit->setText("0");
    EXPECT_EQ(page.maxFileSystems(), 3);
}

} // namespace
} // namespace qis::ui
