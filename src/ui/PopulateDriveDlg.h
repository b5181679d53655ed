#pragma once

#include "jobs/JobRunner.h"
#include "ui/DriveParsingModes.h"
#include "ui/QtJobReporter.h"
#include "ui/WizardPage.h"
#include "ui/controls/SectorField.h"
#include "volumes/Partition.h"

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTreeWidget;

namespace qis::ui {

// The volumes of the disk, from its partition table or a search for boot
// records; the user picks one, and may correct its start, end and kind.
class PopulateDriveDlg : public WizardPage {
    Q_OBJECT
public:
    PopulateDriveDlg(CBrellanApp& app, WizardPage* owner, const QString& imagePath,
                     const DriveParsingModes::Choices& choices);
    ~PopulateDriveDlg() override;

    // The scan the scan-mode page chose: the table at once, the search as a job.
    void runScan();
    void waitForScan();

    // The volume Next goes on with, after the custom settings were applied.
    [[nodiscard]] const VolumeRecord* chosenVolume() const { return chosen_.get(); }

    void selectRow(int row);
    void addCustomVolume();
    void filterEntries();

    QTreeWidget* list = nullptr;
    QPushButton* filter = nullptr;
    QPushButton* addCustom = nullptr;
    QCheckBox* customSettings = nullptr;
    QLabel* selectedVolume = nullptr;
    SectorField* startSector = nullptr;
    SectorField* endSector = nullptr;
    QComboBox* treatAs = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* status = nullptr;
    QPushButton* stop = nullptr;

protected:
    void onNext() override;
    void onBack() override;

private:
    void standardScan();
    void advancedScan();
    void fillRows();
    void addRow(const VolumeRecord& record, bool atTop);
    void followCustomSettings();
    [[nodiscard]] VolumeRecord recordOfRow(int row) const;

    QString imagePath_;
    DriveParsingModes::Choices choices_;
    std::vector<VolumeRecord> volumeList_;
    std::vector<VolumeRecord> rows_; // what each row shows, in row order
    std::unique_ptr<Partition> partition_;
    std::unique_ptr<QtJobReporter> reporter_;
    std::unique_ptr<JobRunner> runner_;
    std::unique_ptr<VolumeRecord> chosen_;
    bool customApplied_ = false;
};

} // namespace qis::ui
