#pragma once

#include "jobs/JobRunner.h"
#include "recovery/carving/myJpg.h"
#include "ui/JobPanel.h"
#include "ui/WizardPage.h"
#include "ui/controls/CXHtmlTree.h"
#include "volumes/VolumeRecord.h"

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace qis::ui {

// Raw recovery: the volume searched sector by sector for the signatures of
// the settings files loaded, the files found shown by category and saved
// into an output folder. One search per visit of the page.
class RawRecoveryDialog : public WizardPage {
    Q_OBJECT
public:
    RawRecoveryDialog(CBrellanApp& app, WizardPage* owner, const VolumeRecord& volume);
    ~RawRecoveryDialog() override;

    // Parse: loads the settings and starts the search as a job.
    void parse();
    // Save: the checked files into the output folder, as a job.
    void saveChecked();
    void waitForJob() { jobs->waitForJob(); }
    // A click on a category lists its files.
    void showCategoryFiles(QTreeWidgetItem* item);
    [[nodiscard]] const myJpg* engine() const { return engine_.get(); }

    QLineEdit* settingsPath = nullptr;
    QPushButton* browseSettings = nullptr;
    QPushButton* parseButton = nullptr;
    QCheckBox* loadDefaults = nullptr;
    QPushButton* setting = nullptr;
    CXHtmlTree* tree = nullptr;
    QTreeWidget* files = nullptr;
    QLineEdit* outputFolder = nullptr;
    QPushButton* save = nullptr;
    QLabel* status = nullptr;
    // Progress, Pause, Resume and Stop.
    JobPanel* jobs = nullptr;

signals:
    void jobEnded();

protected:
    void onBack() override;

private:
    class TreeSink;
    void givenUp();
    void searchEnded();

    VolumeRecord volume_;
    QString defaultSettingsPath_;
    std::unique_ptr<myJpg> engine_;
    std::unique_ptr<TreeSink> sink_;
};

} // namespace qis::ui
