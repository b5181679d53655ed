#pragma once

#include "filesystems/TreeFill.h"
#include "filesystems/VolumeScan.h"
#include "platform/OutputFolder.h"
#include "jobs/JobRunner.h"
#include "ui/JobPanel.h"
#include "ui/WizardPage.h"
#include "ui/controls/CXHtmlTree.h"
#include "volumes/VolumeRecord.h"

#include <QElapsedTimer>

#include <atomic>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QTreeWidgetItem;

namespace qis::ui {

// The volume read by its parser: the tree of folders beside the list of a
// folder's files, search by name, and saving into an output folder.
class VolumeScanDlg : public WizardPage {
    Q_OBJECT
public:
    // `prepared` is the advanced mode's scan, its candidates found and
    // picked on the page before; without it the page makes its own.
    VolumeScanDlg(CBrellanApp& app, WizardPage* owner, const VolumeRecord& volume, int mode,
                  std::shared_ptr<VolumeScan> prepared = nullptr);
    ~VolumeScanDlg() override;

    // The scan job of the volume's parser; the tree fills when it ends.
    void runScan();
    // Save: a folder's contents (after the user confirmed their number) or
    // one file into the output folder, as a job.
    void saveSelected();
    // A double-click on a file: that file into the output folder at once.
    void quickSave(QTreeWidgetItem* item);
    // Lists the files whose names match the pattern, as a job.
    void search(const QString& pattern);
    void waitForJob() { jobs->waitForJob(); }

    // The whole volume's item, once the scan has ended.
    [[nodiscard]] QTreeWidgetItem* rootItem() const { return rootItem_; }
    // The tree item of the entry at `path` ("Docs/report.txt"), filling
    // folders on the way as expanding them would.
    QTreeWidgetItem* findItem(const QString& path);
    // A folder's files in the list with every column, as a click on its
    // label shows them.
    void showFolderFiles(QTreeWidgetItem* item);
    // A folder's files by name only, as a double-click on it shows them.
    void listFolderNames(QTreeWidgetItem* item);
    // A large folder's rows come a slice at a time; this waits for the last.
    void waitForListing();
    // While a job runs or the scan has not ended: says so and returns true.
    bool refuseWhileBusy();
    [[nodiscard]] bool busy() const;

    QLineEdit* volumeData = nullptr;
    CXHtmlTree* tree = nullptr;
    CCheckListCtrl* files = nullptr;
    QLineEdit* outputFolder = nullptr;
    QLineEdit* pattern = nullptr;
    QPushButton* save = nullptr;
    QPushButton* searchButton = nullptr;
    QLabel* status = nullptr;
    // Progress, Pause, Resume and Stop.
    JobPanel* jobs = nullptr;
    QLabel* detail = nullptr;

signals:
    // A job of the page (scan, search, save) has ended and the page shows its result.
    void jobEnded();
    // The folder asked for last is listed whole.
    void listingDone();

protected:
    void onBack() override;

private:
    class ItemSink;
    using JobEnd = std::function<void()>;
    // Runs `work` as the page's job with the job buttons shown; `ended`
    // runs on the page's thread afterwards.
    void startPageJob(std::function<void(JobContext&)> work, JobEnd ended);
    void scanEnded(VolumeParser* parsed);
    void noScan(const QString& message);
    void expand(QTreeWidgetItem* item);
    void listFolder(QTreeWidgetItem* item, bool allColumns);
    void addPendingRows(std::uint64_t listing, QElapsedTimer turn);
    [[nodiscard]] bool isFolderItem(QTreeWidgetItem* item) const;
    [[nodiscard]] EntryHandle entryOf(QTreeWidgetItem* item) const;
    QTreeWidgetItem* addFileRow(EntryHandle entry, const QString& shown, bool allColumns);
    // The output folder the user chose, or null after saying why there is none.
    std::shared_ptr<OutputFolder> chosenOutputFolder();

    // The tree items of the files the list shows, row by row (empty while
    // search results are shown).
    std::vector<QTreeWidgetItem*> listed_;
    bool searchResultsShown_ = false;
    // The files of the folder being listed, and which listing it is (a
    // newer click or scan makes the older slices stop).
    std::vector<QTreeWidgetItem*> pendingRows_;
    std::uint64_t listing_ = 0;
    bool listAllColumns_ = true;
    // The whole volume's item, above the top-level entries (its entry is
    // kNoEntry: the top level).
    QTreeWidgetItem* rootItem_ = nullptr;
    bool pageBusy_ = false;
    VolumeRecord volume_;
    int mode_;
    std::shared_ptr<VolumeScan> prepared_;
    std::shared_ptr<VolumeScan> scan_;
    VolumeParser* parser_ = nullptr;
    std::unique_ptr<ItemSink> sink_;
    std::atomic<bool> saveStopRequested_{false};
};

} // namespace qis::ui
