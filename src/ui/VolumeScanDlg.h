#pragma once

#include "filesystems/TreeFill.h"
#include "filesystems/VolumeScan.h"
#include "recovery/JobRunner.h"
#include "ui/QtJobReporter.h"
#include "ui/WizardPage.h"
#include "ui/controls/CXHtmlTree.h"
#include "volumes/VolumeRecord.h"

#include <atomic>
#include <map>
#include <memory>

class QLabel;
class QLineEdit;
class QProgressBar;
class QTreeWidgetItem;

namespace qis::ui {

// The volume read by its parser: the tree of folders beside the list of a
// folder's files, search by name, and saving into an output folder.
class VolumeScanDlg : public WizardPage {
    Q_OBJECT
public:
    VolumeScanDlg(CBrellanApp& app, WizardPage* owner, const VolumeRecord& volume, int mode);
    ~VolumeScanDlg() override;

    // The scan job of the volume's parser; the tree fills when it ends.
    void runScan();
    // Saves the selected tree item (a folder's contents in a folder of its
    // name, or a file) into the output folder, as a job.
    void saveSelected();
    // Lists the files whose names match the pattern, as a job.
    void search(const QString& pattern);
    void waitForJob() { WizardPage::waitForJob(runner_.get()); }

    // The tree item of the entry at `path` ("Docs/report.txt"), filling
    // folders on the way as expanding them would.
    QTreeWidgetItem* findItem(const QString& path);
    // A folder's files in the list, as a click on its label shows them.
    void showFolderFiles(QTreeWidgetItem* item);

    CXHtmlTree* tree = nullptr;
    CCheckListCtrl* files = nullptr;
    QLineEdit* outputFolder = nullptr;
    QLineEdit* pattern = nullptr;
    QPushButton* save = nullptr;
    QPushButton* searchButton = nullptr;
    QPushButton* pause = nullptr;
    QPushButton* resume = nullptr;
    QPushButton* stop = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* status = nullptr;

protected:
    void onBack() override;

private:
    class ItemSink;
    void setBusy(bool busy);
    void scanEnded(bool recognised);
    void expand(QTreeWidgetItem* item);
    EntryHandle entryOf(QTreeWidgetItem* item) const;

    // The tree items of the files the list shows, row by row.
    std::vector<QTreeWidgetItem*> listed_;
    VolumeRecord volume_;
    int mode_;
    std::unique_ptr<VolumeScan> scan_;
    VolumeParser* parser_ = nullptr;
    std::unique_ptr<ItemSink> sink_;
    std::unique_ptr<QtJobReporter> reporter_;
    std::unique_ptr<JobRunner> runner_;
    std::atomic<bool> saveStopRequested_{false};
    std::atomic<bool> searchStopRequested_{false};
    std::atomic<bool>* currentStop_ = nullptr;
};

} // namespace qis::ui
