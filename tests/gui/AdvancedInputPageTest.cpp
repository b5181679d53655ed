// The advanced-input page: the candidate searches run from it, and the
// user's picks reach the scan page, which reads the volume with them.

#include "PageRoute.h"
#include "RecordingSink.h"
#include "support/Fixtures.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/VisiblePage.h"
#include "ui/advanceOptions.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace qis::ui {
namespace {

// Image, table scan, volume `row`, Advanced: the advanced-input page with
// its search started.
advanceOptions* openAdvancedPage(CBrellanApp& app, const Route& route)
{
    auto* mode = openRecoveryModePage(app, route);
    if (!mode)
        return nullptr;
    mode->advanced->click();
    QTest::mouseClick(mode->nextButton(), Qt::LeftButton);
    return visiblePage<advanceOptions>();
}

class AdvancedModeThroughThePages : public ::testing::TestWithParam<Route> {};

// The damaged volumes' boot sectors are zeroed; the first choices the
// search offers read them back, as the command line's advanced mode does.
TEST_P(AdvancedModeThroughThePages, TheFirstChoicesReadTheVolumeAsTheCommandLineDoes)
{
    RecordingSink sink;
    sink.whenEmpty = QMessageBox::Yes;
    CBrellanApp app;
    auto* page = openAdvancedPage(app, GetParam());
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(page->nextButton()->isEnabled()) << "not before the search has ended";
    EXPECT_FALSE(page->backButton()->isEnabled());
    page->waitForSearch();
    EXPECT_TRUE(page->nextButton()->isEnabled());
    EXPECT_FALSE(page->jobs->stop->isVisible());
    ASSERT_GE(page->candidates->count(), 1);
    EXPECT_EQ(page->candidates->currentIndex(), 0);
    EXPECT_GE(page->clusterSizes->count(), 1);
    EXPECT_NE(sink.shown.back().find("found = "), std::string::npos) << sink.shown.back();

    QTest::mouseClick(page->nextButton(), Qt::LeftButton);
    auto* scan = visiblePage<VolumeScanDlg>();
    ASSERT_NE(scan, nullptr);
    scan->waitForJob();
    ASSERT_NE(scan->rootItem(), nullptr);
    test::TempDir gui;
    saveVolumeItem(*scan, gui.path());

    // Back on the advanced page and Next again reads the volume again.
    QTest::mouseClick(scan->backButton(), Qt::LeftButton);
    QApplication::processEvents();
    ASSERT_EQ(visiblePage<advanceOptions>(), page);
    QTest::mouseClick(page->nextButton(), Qt::LeftButton);
    auto* again = visiblePage<VolumeScanDlg>();
    ASSERT_NE(again, nullptr);
    again->waitForJob();
    ASSERT_NE(again->rootItem(), nullptr);
    test::TempDir second;
    saveVolumeItem(*again, second.path());

    test::TempDir cli;
    auto expected = commandLineSave(GetParam(), cli.path(), {"--mode", "advanced"});
    EXPECT_GE(expected.size(), 3u);
    EXPECT_EQ(filesBelow(gui.path()), expected);
    EXPECT_EQ(filesBelow(second.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, AdvancedModeThroughThePages,
                         ::testing::Values(Route{"damaged-fat.vhdx", false, false, 0, "fat16"},
                                           Route{"damaged-fat.vhdx", false, false, 1, "fat32"},
                                           Route{"exfat.vhdx", true, false, 0, "exfat"}),
                         [](const auto& info) { return info.param.name; });

TEST(AdvancedInputPage, StopEndsTheSearchAndBackLeavesIt)
{
    RecordingSink sink;
    CBrellanApp app;
    auto* page = openAdvancedPage(app, kSampleNtfs);
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(page->searching());
    QTest::mouseClick(page->jobs->stop, Qt::LeftButton);
    EXPECT_EQ(page->status->text(), "stop button pressed");
    page->waitForSearch();
    EXPECT_TRUE(page->backButton()->isEnabled());
    EXPECT_TRUE(page->nextButton()->isEnabled());
    QTest::mouseClick(page->backButton(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_NE(visiblePage<ParceModeNtfsDlg>(), nullptr);
}

TEST(AdvancedInputPage, NtfsOffersTheMftCopiesAndTheClusterSizesInTheirOrder)
{
    RecordingSink sink;
    CBrellanApp app;
    auto* page = openAdvancedPage(app, kSampleNtfs);
    ASSERT_NE(page, nullptr);
    page->waitForSearch();
    EXPECT_EQ(page->candidateLabel->text(), "TFS :");
    ASSERT_GE(page->candidates->count(), 1);
    EXPECT_EQ(page->candidates->itemText(0), "MFT_ENTRY:0");
    QStringList sizes;
    for (int i = 0; i < page->clusterSizes->count(); ++i)
        sizes << page->clusterSizes->itemText(i);
    EXPECT_EQ(sizes, (QStringList{"8", "4", "2", "16", "32", "64"}));
    EXPECT_FALSE(page->heaps->isVisibleTo(page)) << "a heap only for exFAT";
    EXPECT_EQ(page->status->text(), "Parsing done.Click next to continue.");
}

TEST(AdvancedInputPage, ExfatOffersItsHeapWithTheBootSectorsFirst)
{
    RecordingSink sink;
    CBrellanApp app;
    auto* page = openAdvancedPage(app, Route{"exfat.vhdx", true, false, 0, "exfat"});
    ASSERT_NE(page, nullptr);
    page->waitForSearch();
    EXPECT_EQ(page->candidateLabel->text(), "Total fat64 Entries Found:");
    EXPECT_TRUE(page->heaps->isVisibleTo(page));
    ASSERT_GE(page->heaps->count(), 1);
    EXPECT_EQ(page->heaps->itemText(0), "HEAP_OFFSET_ENTRY:0");
    EXPECT_EQ(page->candidates->itemText(0), "FAT64_ENTRY:0");
}

} // namespace
} // namespace qis::ui
