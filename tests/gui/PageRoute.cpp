#include "PageRoute.h"

#include "support/Fixtures.h"
#include "ui/DriveParsingModes.h"
#include "ui/PopulateDriveDlg.h"
#include "ui/VhdInputDialog.h"
#include "ui/VisiblePage.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

namespace qis::ui {

ParceModeNtfsDlg* openRecoveryModePage(CBrellanApp& app, const Route& route)
{
    auto* image = static_cast<VhdInputDialog*>(app.start());
    const QString path = QString::fromStdString(test::fixture(route.image).string());
    image->openImage(path, detectImageFormat(path.toStdString()));
    QTest::mouseClick(image->nextButton(), Qt::LeftButton);
    auto* modes = visiblePage<DriveParsingModes>();
    if (!modes)
        return nullptr;
    if (route.gpt)
        modes->gptFormat->click();
    if (route.bootSectorSearch)
        modes->advanceScan->click();
    QTest::mouseClick(modes->nextButton(), Qt::LeftButton);
    auto* volumes = visiblePage<PopulateDriveDlg>();
    if (!volumes)
        return nullptr;
    volumes->waitForScan();
    volumes->selectRow(route.row);
    QTest::mouseClick(volumes->nextButton(), Qt::LeftButton);
    return visiblePage<ParceModeNtfsDlg>();
}

VolumeScanDlg* openScanPage(CBrellanApp& app, const Route& route)
{
    auto* mode = openRecoveryModePage(app, route);
    if (!mode)
        return nullptr;
    QTest::mouseClick(mode->nextButton(), Qt::LeftButton);
    return visiblePage<VolumeScanDlg>();
}

VolumeScanDlg* scannedPage(CBrellanApp& app, const Route& route)
{
    auto* scan = openScanPage(app, route);
    if (scan)
        scan->waitForJob();
    return scan;
}

void saveVolumeItem(VolumeScanDlg& scan, const std::filesystem::path& folder)
{
    scan.outputFolder->setText(QString::fromStdString(folder.string()));
    scan.tree->setCurrentItem(scan.rootItem());
    scan.saveSelected();
    scan.waitForJob();
}

std::map<std::string, std::string> commandLineSave(const Route& route, const std::filesystem::path& folder,
                                                   const std::vector<std::string>& extra)
{
    std::vector<std::string> words = {"save", test::fixture(route.image).string(), "--volume",
                                      std::to_string(route.row), "--output", folder.string()};
    if (route.gpt)
        words.push_back("--gpt");
    if (route.bootSectorSearch)
        words.push_back("--deep");
    words.insert(words.end(), extra.begin(), extra.end());
    // 3: saved, with some files incomplete or guessed (deleted ones).
    if (const int code = test::runQsalvage(words).exitCode; code != 0 && code != 3)
        return {};
    return filesBelow(folder);
}

std::map<std::string, std::string> filesBelow(const std::filesystem::path& root)
{
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files[std::filesystem::relative(e.path(), root).string()] =
                test::fileSha256(e.path()) + " " + test::fileMtimeIso(e.path());
    return files;
}

} // namespace qis::ui
