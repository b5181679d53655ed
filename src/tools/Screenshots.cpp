#include "tools/Screenshots.h"

#include "ui/CBrellanApp.h"
#include "ui/DriveParsingModes.h"
#include "ui/MessageSink.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/PopulateDriveDlg.h"
#include "ui/RawRecoveryDialog.h"
#include "ui/VhdInputDialog.h"
#include "ui/VisiblePage.h"
#include "ui/VolumeScanDlg.h"
#include "ui/advanceOptions.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

namespace qis::ui {
namespace {

struct SilentSink : MessageSink {
    QMessageBox::StandardButton show(QWidget*, const QString&, QMessageBox::Icon, QMessageBox::StandardButtons) override
    {
        return QMessageBox::Ok;
    }
};

bool picture(QWidget* page, const QString& folder, const QString& name)
{
    if (!page)
        return false;
    page->resize(960, 640);
    QApplication::processEvents();
    return page->grab().save(QDir(folder).filePath(name));
}

} // namespace

int renderScreenshots(const QString& folder, const QString& image)
{
    SilentSink silent;
    MessageSink::setCurrent(&silent);
    QDir().mkpath(folder);
    int written = 0;
    {
        CBrellanApp app;
        auto* first = static_cast<VhdInputDialog*>(app.start());
        first->openImage(image, detectImageFormat(image.toStdString()));
        written += picture(first, folder, "1-image.png");
        first->nextButton()->click();
        auto* modes = visiblePage<DriveParsingModes>();
        if (modes) {
            modes->gptFormat->setChecked(true);
            written += picture(modes, folder, "2-scan-mode.png");
            modes->nextButton()->click();
        }
        auto* volumes = visiblePage<PopulateDriveDlg>();
        if (volumes) {
            volumes->selectRow(0);
            written += picture(volumes, folder, "3-volumes.png");
            volumes->nextButton()->click();
        }
        auto* mode = visiblePage<ParceModeNtfsDlg>();
        if (mode) {
            written += picture(mode, folder, "4-recovery-mode.png");
            mode->nextButton()->click();
        }
        if (auto* scan = visiblePage<VolumeScanDlg>()) {
            scan->waitForJob();
            if (QTreeWidgetItem* documents = scan->findItem("Documents")) {
                scan->tree->setCurrentItem(documents);
                documents->setExpanded(true);
                scan->showFolderFiles(documents);
            }
            scan->outputFolder->setText(QDir::home().filePath("recovered"));
            written += picture(scan, folder, "5-volume-scan.png");
            scan->backButton()->click();
            QApplication::processEvents();
        }
        if (mode && mode->isVisible()) {
            mode->advanced->click();
            mode->nextButton()->click();
            if (auto* advanced = visiblePage<advanceOptions>()) {
                advanced->waitForSearch();
                written += picture(advanced, folder, "6-advanced-input.png");
                advanced->backButton()->click();
                QApplication::processEvents();
            }
            mode->backButton()->click();
            QApplication::processEvents();
        }
        if (volumes && volumes->isVisible()) {
            // The first volume carved as RAW, its pictures listed.
            volumes->selectRow(0);
            volumes->customSettings->setChecked(true);
            volumes->treatAs->setCurrentText("RAW");
            volumes->nextButton()->click();
            if (auto* raw = visiblePage<RawRecoveryDialog>()) {
                raw->parse();
                raw->waitForJob();
                if (QTreeWidgetItem* top = raw->tree->topLevelItem(0)) {
                    top->setExpanded(true);
                    if (top->childCount() > 0) {
                        raw->tree->setCurrentItem(top->child(0));
                        raw->showCategoryFiles(top->child(0));
                    }
                }
                raw->outputFolder->setText(QDir::home().filePath("carved"));
                written += picture(raw, folder, "7-raw-recovery.png");
            }
        }
    }
    MessageSink::setCurrent(nullptr);
    return written;
}

} // namespace qis::ui
