#include "ui/VolumeScanDlg.h"

#include "recovery/FolderSave.h"
#include "platform/OutputNames.h"
#include "recovery/SearchJob.h"
#include "recovery/SelectionSave.h"
#include "ui/CBrellanApp.h"
#include "ui/MessageSink.h"
#include "util/Ascii.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>

namespace qis::ui {
namespace {

constexpr int kEntryRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;
const QColor kDeletedColour(255, 0, 0);
constexpr const char* kBusy = "Please wait for the running process.";

QString text(const std::u16string& s) { return QString::fromStdU16String(s); }
QString text(const std::string& s) { return QString::fromStdString(s); }

const QIcon& folderIcon()
{
    static const QIcon icon = QFileIconProvider().icon(QFileIconProvider::Folder);
    return icon;
}

const QIcon& fileIcon()
{
    static const QIcon icon = QFileIconProvider().icon(QFileIconProvider::File);
    return icon;
}

// The parsers whose quick save tells where the file went.
bool quickSaveSaysWhere(const std::string& fileSystem)
{
    const std::string fs = toLowerAscii(fileSystem);
    return fs == "fat64" || fs == "exfat" || fs == "extx" || fs == "hfs+";
}

} // namespace

// The core's tree filling, into the page's tree widget.
class VolumeScanDlg::ItemSink : public TreeSink {
public:
    explicit ItemSink(CXHtmlTree* tree) : tree_(tree) {}
    ItemId addItem(ItemId parent, EntryHandle entry, const std::u16string& name, bool folder, bool red) override
    {
        auto* above = reinterpret_cast<QTreeWidgetItem*>(parent);
        QTreeWidgetItem* item = tree_->insertItem(above, text(name));
        item->setData(0, kEntryRole, QVariant::fromValue<qulonglong>(entry));
        item->setData(0, kFolderRole, folder);
        item->setIcon(0, folder ? folderIcon() : fileIcon());
        if (red)
            item->setForeground(0, kDeletedColour);
        // A folder's new children take its check.
        if (above && tree_->ownCheck(above))
            tree_->SetCheck(item, true);
        return reinterpret_cast<ItemId>(item);
    }
    void addPlaceholder(ItemId parent) override
    {
        tree_->insertItem(reinterpret_cast<QTreeWidgetItem*>(parent), text(placeholderItem));
    }

private:
    CXHtmlTree* tree_;
};

VolumeScanDlg::VolumeScanDlg(CBrellanApp& app, WizardPage* owner, const VolumeRecord& volume, int mode,
                             std::shared_ptr<VolumeScan> prepared)
    : WizardPage(app, owner), volume_(volume), mode_(mode), prepared_(std::move(prepared))
{
    auto* top = new QGridLayout;
    volumeData = new QLineEdit(this);
    volumeData->setReadOnly(true);
    volumeData->setText(text("VOLUME: " + volume.volumeName + "   FILE_SYSTEM: " + volume.fileSystem +
                             "   VOLUME_SIZE: " + volume.sizeText +
                             "   START_SECTOR: " + std::to_string(volume.startSector)));
    pattern = new QLineEdit(this);
    searchButton = new QPushButton("Search", this);
    top->addWidget(new QLabel("Volume Data:", this), 0, 0);
    top->addWidget(volumeData, 0, 1, 1, 2);
    top->addWidget(pattern, 1, 1);
    top->addWidget(searchButton, 1, 2);
    top->addWidget(new QLabel("* Use \"|\" to find multiple file type ", this), 2, 1);
    body()->addLayout(top);

    auto* split = new QSplitter(this);
    tree = new CXHtmlTree(split);
    tree->setHeaderHidden(true);
    files = new CCheckListCtrl(split);
    // The last column says how much of a deleted file a save can bring back.
    files->setColumnCount(7);
    files->setHeaderLabels(
        {"File(s) List", "Creation Time", "Access Time", "Modification Time", "Size", "Attribute", "Recoverability"});
    const int widths[] = {180, 135, 135, 135, 90, 80, 120};
    for (int c = 0; c < 7; ++c)
        files->setColumnWidth(c, widths[c]);
    files->setRootIsDecorated(false);
    split->setStretchFactor(1, 2);
    body()->addWidget(split, 1);

    auto* grid = new QGridLayout;
    outputFolder = new QLineEdit(this);
    auto* browse = new QPushButton("...", this);
    save = new QPushButton("Save", this);
    status = new QLabel(this);
    detail = new QLabel(this);
    jobs = new JobPanel(this, status, detail);
    grid->addWidget(new QLabel("Output folder", this), 0, 0);
    grid->addWidget(outputFolder, 0, 1);
    grid->addWidget(browse, 0, 2);
    grid->addWidget(save, 0, 3);
    grid->addWidget(jobs, 1, 0, 1, 4);
    grid->addWidget(status, 2, 0, 1, 3);
    grid->addWidget(detail, 2, 3);
    body()->addLayout(grid);
    for (QPushButton* b : {browse, save, searchButton})
        b->setAutoDefault(false);
    sink_ = std::make_unique<ItemSink>(tree);
    jobs->setStopAction([this] {
        if (!scan_)
            return false;
        scan_->stopRequested().store(true);
        saveStopRequested_.store(true);
        return true;
    }, "stop button pressed.Please wait for the process to be stopped.");
    nextButton()->hide(); // the last page

    connect(browse, &QPushButton::clicked, this, [this] {
        QString folder = QFileDialog::getExistingDirectory(this, "Please choose a folder.", outputFolder->text());
        if (!folder.isEmpty())
            outputFolder->setText(folder);
    });
    connect(save, &QPushButton::clicked, this, [this] { saveSelected(); });
    connect(searchButton, &QPushButton::clicked, this, [this] { search(pattern->text()); });
    connect(tree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { expand(item); });
    connect(tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { showFolderFiles(item); });
    connect(tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (isFolderItem(item))
            listFolderNames(item);
        else
            quickSave(item);
    });
    // The list's boxes and the tree's are one state; search results are
    // not tree items, so their boxes do not change.
    connect(files, &CCheckListCtrl::rowCheckChanged, this, [this](int row, bool checked) {
        if (searchResultsShown_) {
            files->setRowChecked(row, !checked);
            return;
        }
        if (row >= 0 && static_cast<std::size_t>(row) < listed_.size() && tree->ownCheck(listed_[row]) != checked)
            tree->SetCheck(listed_[row], checked);
    });
    connect(tree, &CXHtmlTree::checkboxClicked, this, [this](QTreeWidgetItem*, bool) {
        for (std::size_t r = 0; r < listed_.size(); ++r)
            if (files->rowChecked(static_cast<int>(r)) != tree->ownCheck(listed_[r]))
                files->setRowChecked(static_cast<int>(r), tree->ownCheck(listed_[r]));
    });
    // A double-click on a listed file saves it at once, as on its tree item.
    connect(files, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) { quickSave(row); });
}

VolumeScanDlg::~VolumeScanDlg()
{
    // The program may end while a job runs: it is stopped and shows none
    // of its messages (the user chose to leave).
    jobs->shutdown();
}

bool VolumeScanDlg::busy() const { return pageBusy_ || jobs->running(); }

bool VolumeScanDlg::refuseWhileBusy()
{
    if (!busy())
        return false;
    MessageSink::current().inform(this, kBusy);
    return true;
}

void VolumeScanDlg::startPageJob(std::function<void(JobContext&)> work, JobEnd ended)
{
    jobs->showControls(true);
    jobs->runner().start([this, work = std::move(work), ended = std::move(ended)](JobContext& job) {
        work(job);
        QMetaObject::invokeMethod(this, [this, ended] {
            jobs->runner().join();
            jobs->showControls(false);
            if (ended)
                ended();
            emit jobEnded();
        }, Qt::QueuedConnection);
    });
}

void VolumeScanDlg::noScan(const QString& message)
{
    // No job starts: say why and let the user go back instead of leaving
    // the page busy for good.
    MessageSink::current().inform(this, message);
    pageBusy_ = false;
    backButton()->setEnabled(true);
}

void VolumeScanDlg::runScan()
{
    ++listing_;
    pendingRows_.clear();
    tree->removeAll();
    rootItem_ = nullptr;
    files->clearRows();
    listed_.clear();
    parser_ = nullptr;
    pageBusy_ = true;
    backButton()->setEnabled(false);
    std::string whyNot;
    if (prepared_) {
        // The reader the candidates were found with reads the volume too.
        scan_ = prepared_;
    } else {
        std::string message;
        if (!app_.state.openFreshReader(&message)) {
            noScan("Please Restart the program to re begin necessary initialization...");
            return;
        }
        ScanOptions options;
        options.mode = mode_;
        options.driveFormatted = app_.isDriveFormatted;
        scan_ = makeVolumeScan(volume_, *app_.state.currentReader, options, whyNot);
    }
    if (!scan_) {
        noScan(text(whyNot));
        if (whyNot == "Not a valid drive.")
            status->setText("Not a valid Drive .Go back");
        return;
    }
    auto parsed = std::make_shared<VolumeParser*>(nullptr);
    startPageJob([this, parsed](JobContext& job) { *parsed = runVolumeScan(*scan_, job); },
                 [this, parsed] { scanEnded(*parsed); });
}

void VolumeScanDlg::scanEnded(VolumeParser* parsed)
{
    pageBusy_ = false;
    backButton()->setEnabled(true);
    if (!parsed) {
        // The parser refused the volume and said so; Pause, Resume and Stop
        // stay in view with nothing to act on, as after any refused scan.
        jobs->showControls(true);
        return;
    }
    parser_ = parsed;
    // One item stands for the whole volume, so that it can be listed and
    // saved like any folder.
    rootItem_ = tree->insertItem(nullptr, text("Volume " + volume_.volumeName + " (" + volume_.fileSystem + ")"));
    rootItem_->setData(0, kFolderRole, true);
    rootItem_->setIcon(0, folderIcon());
    tree->beginChildren(rootItem_);
    fillTopLevelTree(*parser_, *sink_, reinterpret_cast<TreeSink::ItemId>(rootItem_));
    tree->endChildren();
    rootItem_->setExpanded(true);
    tree->setCurrentItem(rootItem_);
}

EntryHandle VolumeScanDlg::entryOf(QTreeWidgetItem* item) const
{
    if (!item || !item->data(0, kEntryRole).isValid())
        return kNoEntry;
    return static_cast<EntryHandle>(item->data(0, kEntryRole).toULongLong());
}

bool VolumeScanDlg::isFolderItem(QTreeWidgetItem* item) const { return item && item->data(0, kFolderRole).toBool(); }

void VolumeScanDlg::expand(QTreeWidgetItem* item)
{
    if (!parser_ || !item || item->childCount() != 1 || item->child(0)->text(0) != text(placeholderItem))
        return;
    tree->removeItem(item->child(0));
    tree->beginChildren(item);
    fillFolderItem(*parser_, *sink_, reinterpret_cast<TreeSink::ItemId>(item), entryOf(item), Population::Expand);
    tree->endChildren();
}

QTreeWidgetItem* VolumeScanDlg::addFileRow(EntryHandle entry, const QString& shown, bool allColumns)
{
    QStringList columns{shown};
    if (allColumns) {
        EntryDetails d = parser_->describe(entry);
        columns << text(d.creationText) << text(d.accessText) << text(d.modificationText) << text(d.sizeText)
                << text(d.attributeText) << text(std::string(recoverabilityText(parser_->recoverability(entry))));
    }
    QTreeWidgetItem* row = files->addRow(columns);
    row->setData(0, kEntryRole, QVariant::fromValue<qulonglong>(entry));
    if (parser_->isDeleted(entry))
        for (int c = 0; c < columns.size(); ++c)
            row->setForeground(c, kDeletedColour);
    return row;
}

void VolumeScanDlg::showFolderFiles(QTreeWidgetItem* item) { listFolder(item, true); }

void VolumeScanDlg::listFolderNames(QTreeWidgetItem* item) { listFolder(item, false); }

void VolumeScanDlg::listFolder(QTreeWidgetItem* item, bool allColumns)
{
    files->clearRows();
    listed_.clear();
    pendingRows_.clear();
    searchResultsShown_ = false;
    ++listing_;
    if (!parser_ || !isFolderItem(item)) {
        emit listingDone();
        return;
    }
    // The first slice of rows shares this turn of the event loop with
    // putting the folder's items into the tree.
    QElapsedTimer turn;
    turn.start();
    expand(item);
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        if (!isFolderItem(child) && entryOf(child) != kNoEntry)
            pendingRows_.push_back(child);
    }
    listAllColumns_ = allColumns;
    addPendingRows(listing_, turn);
}

void VolumeScanDlg::addPendingRows(std::uint64_t listing, QElapsedTimer turn)
{
    // A folder of thousands of files is listed a slice at a time, so the
    // page keeps answering; a small one is complete when the click returns.
    if (listing != listing_)
        return;
    constexpr qint64 kSliceMs = 25;
    files->setUpdatesEnabled(false);
    // At least one row per turn, so a slow machine still gets to the end.
    bool first = true;
    while (listed_.size() < pendingRows_.size() && (first || turn.elapsed() < kSliceMs)) {
        first = false;
        QTreeWidgetItem* child = pendingRows_[listed_.size()];
        addFileRow(entryOf(child), child->text(0), listAllColumns_);
        listed_.push_back(child);
        files->setRowChecked(files->topLevelItemCount() - 1, tree->ownCheck(child));
    }
    files->setUpdatesEnabled(true);
    if (listed_.size() < pendingRows_.size()) {
        QTimer::singleShot(0, this, [this, listing] {
            QElapsedTimer next;
            next.start();
            addPendingRows(listing, next);
        });
        return;
    }
    pendingRows_.clear();
    emit listingDone();
}

void VolumeScanDlg::waitForListing()
{
    while (!pendingRows_.empty())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QTreeWidgetItem* VolumeScanDlg::findItem(const QString& path)
{
    QTreeWidgetItem* at = rootItem_;
    for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
        if (!at)
            return nullptr;
        expand(at);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < at->childCount() && !next; ++i) {
            QTreeWidgetItem* c = at->child(i);
            if (c->text(0) == part)
                next = c;
        }
        if (!next)
            return nullptr;
        at = next;
    }
    return at;
}

std::shared_ptr<OutputFolder> VolumeScanDlg::chosenOutputFolder()
{
    // No default folder: files go where the user said, or nowhere.
    if (outputFolder->text().trimmed().isEmpty()) {
        MessageSink::current().inform(this, "Select output folder");
        return nullptr;
    }
    auto root = OutputFolder::open(outputFolder->text().toStdString());
    if (!root) {
        MessageSink::current().inform(this, "The output folder cannot be opened or made.");
        return nullptr;
    }
    return std::make_shared<OutputFolder>(std::move(*root));
}

void VolumeScanDlg::saveSelected()
{
    if (refuseWhileBusy())
        return;
    QTreeWidgetItem* item = tree->currentItem();
    if (!parser_ || !item || (item != rootItem_ && entryOf(item) == kNoEntry)) {
        MessageSink::current().inform(this, "Select a folder or a file to save.");
        return;
    }
    auto into = chosenOutputFolder();
    if (!into)
        return;
    const EntryHandle entry = entryOf(item);
    const std::string shown = outputFolder->text().toStdString();
    saveStopRequested_.store(false);
    tree->setEnabled(false);
    startPageJob([this, entry, into, shown](JobContext& job) {
        saveSelection(*parser_, entry, *into, shown, saveStopRequested_, job);
    }, [this] { tree->setEnabled(true); });
}

void VolumeScanDlg::quickSave(QTreeWidgetItem* item)
{
    const EntryHandle entry = entryOf(item);
    if (!parser_ || entry == kNoEntry || parser_->isFolder(entry))
        return;
    if (refuseWhileBusy())
        return;
    auto into = chosenOutputFolder();
    if (!into)
        return;
    const std::string folder = outputFolder->text().toStdString();
    const bool sayWhere = quickSaveSaysWhere(volume_.fileSystem);
    saveStopRequested_.store(false);
    startPageJob([this, entry, into, folder, sayWhere](JobContext& job) {
        FolderSave saver(*parser_, saveStopRequested_);
        FolderSave::Totals totals;
        saver.saveFile(entry, *into, folder, job, totals);
        if (totals.failed || totals.incomplete || totals.stopped) {
            job.reporter().showMessage(saveTotalsText(totals));
            if (totals.failed)
                job.reporter().showMessage(notWrittenText(totals));
        }
        else if (sayWhere)
            job.reporter().showMessage("file is dumped in path  :  " + folder + "/" + saver.lastSavedName() + "   ");
    }, nullptr);
}

void VolumeScanDlg::search(const QString& patternText)
{
    if (!parser_ || refuseWhileBusy())
        return;
    files->clearRows();
    listed_.clear();
    searchResultsShown_ = true;
    tree->setEnabled(false);
    startPageJob([this, p = patternText.toStdString()](JobContext& job) {
        runSearchJob(*parser_, scan_->stopRequested(), p, job, [this](const NameSearch::Hit& hit) {
            const QString path = text(hit.path);
            const EntryHandle entry = hit.entry;
            QMetaObject::invokeMethod(this, [this, path, entry] { addFileRow(entry, path, true); },
                                      Qt::BlockingQueuedConnection);
        });
    }, [this] { tree->setEnabled(true); });
}

void VolumeScanDlg::onBack()
{
    if (refuseWhileBusy())
        return;
    goBack();
}

} // namespace qis::ui
