#pragma once

#include "jobs/JobRunner.h"
#include "ui/QtJobReporter.h"
#include "ui/WizardPage.h"
#include "volumes/DiskExport.h"

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QRadioButton;

namespace qis::ui {

// How the volume list page is to find the volumes, and the export of the
// whole disk as a raw image.
class DriveParsingModes : public WizardPage {
    Q_OBJECT
public:
    DriveParsingModes(CBrellanApp& app, WizardPage* owner, const QString& imagePath);
    ~DriveParsingModes() override;

    // What Next hands to the volume list page.
    struct Choices {
        int scanMode = 1; // 1 standard partition table, 2 boot-sector search
        bool gptMode = false;
        bool doNotSkip = false;
        bool custom = false;
        std::int64_t startSector = 0, endSector = -1;
    };
    [[nodiscard]] Choices choices() const;

    // Save Image into `folder`: the export as a job on this page.
    void startExport(const QString& folder);
    void waitForExport();

    QRadioButton* standardScan = nullptr;
    QRadioButton* advanceScan = nullptr;
    QCheckBox* gptFormat = nullptr;
    QCheckBox* doNotSkip = nullptr;
    QCheckBox* customSetting = nullptr;
    QLineEdit* startingSector = nullptr;
    QLineEdit* endingSector = nullptr;
    QCheckBox* saveDiskImage = nullptr;
    QLineEdit* exportPath = nullptr;
    QPushButton* saveImage = nullptr;
    QPushButton* stop = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* status = nullptr;

protected:
    void onNext() override;
    void onBack() override;

private:
    void followMode();
    void exportEnded(const DiskExport::Result& result);
    QString imagePath_;
    DiskExport export_;
    std::unique_ptr<QtJobReporter> reporter_;
    std::unique_ptr<JobRunner> runner_;
};

} // namespace qis::ui
