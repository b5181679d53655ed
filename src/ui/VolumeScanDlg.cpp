#include "ui/VolumeScanDlg.h"

#include "filesystems/RecycleBin.h"
#include "platform/OutputFolder.h"
#include "recovery/FolderSave.h"
#include "recovery/NameSearch.h"
#include "recovery/OutputNames.h"
#include "ui/CBrellanApp.h"
#include "ui/MessageSink.h"
#include "util/Utf.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>

namespace qis::ui {
namespace {

constexpr int kEntryRole = Qt::UserRole;
const QColor kDeletedColour(255, 0, 0);

QString text(const std::u16string& s) { return QString::fromStdU16String(s); }

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
        item->setData(0, kEntryRole + 1, folder);
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

VolumeScanDlg::VolumeScanDlg(CBrellanApp& app, WizardPage* owner, const VolumeRecord& volume, int mode)
    : WizardPage(app, owner), volume_(volume), mode_(mode)
{
    auto* split = new QSplitter(this);
    tree = new CXHtmlTree(split);
    tree->setHeaderLabel(QString::fromStdString(volume.fileSystem + " volume " + volume.volumeName));
    files = new CCheckListCtrl(split);
    files->setColumnCount(6);
    files->setHeaderLabels({"Name", "Size", "Created", "Modified", "Accessed", "Attributes"});
    body()->addWidget(split, 1);
    auto* grid = new QGridLayout;
    outputFolder = new QLineEdit(this);
    auto* browse = new QPushButton("...", this);
    save = new QPushButton("Save", this);
    pattern = new QLineEdit(this);
    searchButton = new QPushButton("Search", this);
    pause = new QPushButton("Pause", this);
    resume = new QPushButton("Resume", this);
    stop = new QPushButton("Stop", this);
    progress = new QProgressBar(this);
    status = new QLabel(this);
    grid->addWidget(new QLabel("Output folder", this), 0, 0);
    grid->addWidget(outputFolder, 0, 1);
    grid->addWidget(browse, 0, 2);
    grid->addWidget(save, 0, 3);
    grid->addWidget(new QLabel("Search", this), 1, 0);
    grid->addWidget(pattern, 1, 1);
    grid->addWidget(searchButton, 1, 3);
    auto* jobs = new QHBoxLayout;
    jobs->addWidget(progress, 1);
    jobs->addWidget(pause);
    jobs->addWidget(resume);
    jobs->addWidget(stop);
    grid->addLayout(jobs, 2, 0, 1, 4);
    grid->addWidget(status, 3, 0, 1, 4);
    body()->addLayout(grid);
    for (QPushButton* b : {browse, save, searchButton, pause, resume, stop})
        b->setAutoDefault(false);
    sink_ = std::make_unique<ItemSink>(tree);
    nextButton()->hide(); // the last page
    setBusy(false);

    connect(browse, &QPushButton::clicked, this, [this] {
        QString folder = QFileDialog::getExistingDirectory(this, "Select output folder", outputFolder->text());
        if (!folder.isEmpty())
            outputFolder->setText(folder);
    });
    connect(save, &QPushButton::clicked, this, [this] { saveSelected(); });
    connect(searchButton, &QPushButton::clicked, this, [this] { search(pattern->text()); });
    connect(pause, &QPushButton::clicked, this, [this] {
        if (runner_)
            runner_->pause();
        status->setText("Pause button pressed");
    });
    connect(resume, &QPushButton::clicked, this, [this] {
        if (runner_)
            runner_->resume();
        status->setText("Resume button pressed");
    });
    connect(stop, &QPushButton::clicked, this, [this] {
        if (currentStop_)
            currentStop_->store(true);
        if (runner_)
            runner_->resume(); // a paused job must get to see Stop
    });
    connect(tree, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { expand(item); });
    connect(tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { showFolderFiles(item); });
    // The list's boxes and the tree's are one state.
    connect(files, &CCheckListCtrl::rowCheckChanged, this, [this](int row, bool checked) {
        if (row >= 0 && static_cast<std::size_t>(row) < listed_.size() && tree->ownCheck(listed_[row]) != checked)
            tree->SetCheck(listed_[row], checked);
    });
    connect(tree, &CXHtmlTree::checkboxClicked, this, [this](QTreeWidgetItem*, bool) {
        for (std::size_t r = 0; r < listed_.size(); ++r)
            if (files->rowChecked(static_cast<int>(r)) != tree->ownCheck(listed_[r]))
                files->setRowChecked(static_cast<int>(r), tree->ownCheck(listed_[r]));
    });
    connect(files, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* row) {
        // A double click saves the file at once, like Save on it.
        if (!tree->currentItem())
            return;
        for (int i = 0; i < tree->currentItem()->childCount(); ++i)
            if (tree->currentItem()->child(i)->data(0, kEntryRole) == row->data(0, kEntryRole))
                tree->setCurrentItem(tree->currentItem()->child(i));
        saveSelected();
    });
}

VolumeScanDlg::~VolumeScanDlg()
{
    for (std::atomic<bool>* flag : {&saveStopRequested_, &searchStopRequested_})
        flag->store(true);
    if (scan_)
        scan_->stopRequested().store(true);
    if (runner_)
        runner_->resume();
    waitForJob();
}

void VolumeScanDlg::setBusy(bool busy)
{
    for (QWidget* w : std::initializer_list<QWidget*>{backButton(), save, searchButton, tree, files})
        w->setEnabled(!busy);
    for (QWidget* w : std::initializer_list<QWidget*>{pause, resume, stop})
        w->setEnabled(busy);
    progress->setVisible(busy);
}

void VolumeScanDlg::runScan()
{
    tree->removeAll();
    files->clearRows();
    listed_.clear();
    std::string message;
    if (!app_.state.openFreshReader(&message)) {
        MessageSink::current().inform(this, "Please Restart the program to re begin necessary initialization...");
        return;
    }
    ScanOptions options;
    options.mode = mode_;
    options.driveFormatted = app_.isDriveFormatted;
    std::string whyNot;
    scan_ = makeVolumeScan(volume_, *app_.state.currentReader, options, whyNot);
    if (!scan_) {
        // No job starts: say why and let the user go back.
        MessageSink::current().inform(this, QString::fromStdString(whyNot));
        backButton()->setEnabled(true);
        return;
    }
    currentStop_ = &scan_->stopRequested();
    reporter_ = std::make_unique<QtJobReporter>(this, status, progress);
    runner_ = std::make_unique<JobRunner>(*reporter_);
    setBusy(true);
    runner_->start([this](JobContext& job) {
        const bool recognised = scan_->run(job);
        QMetaObject::invokeMethod(this, [this, recognised] { scanEnded(recognised); }, Qt::QueuedConnection);
    });
}

void VolumeScanDlg::scanEnded(bool recognised)
{
    setBusy(false);
    currentStop_ = nullptr;
    if (!recognised)
        return;
    scan_->stopRequested().store(false);
    parser_ = &scan_->view();
    restoreRecycleBinNames(*parser_);
    fillTopLevelTree(*parser_, *sink_, 0);
}

EntryHandle VolumeScanDlg::entryOf(QTreeWidgetItem* item) const
{
    return item ? static_cast<EntryHandle>(item->data(0, kEntryRole).toULongLong()) : kNoEntry;
}

void VolumeScanDlg::expand(QTreeWidgetItem* item)
{
    if (!parser_ || !item || item->childCount() != 1 || item->child(0)->text(0) != text(placeholderItem))
        return;
    tree->removeItem(item->child(0));
    fillFolderItem(*parser_, *sink_, reinterpret_cast<TreeSink::ItemId>(item), entryOf(item), Population::Expand);
}

void VolumeScanDlg::showFolderFiles(QTreeWidgetItem* item)
{
    files->clearRows();
    listed_.clear();
    if (!parser_ || !item || !item->data(0, kEntryRole + 1).toBool())
        return;
    expand(item);
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        const EntryHandle e = entryOf(child);
        if (child->data(0, kEntryRole + 1).toBool())
            continue;
        EntryDetails d = parser_->describe(e);
        QTreeWidgetItem* row = files->addRow({child->text(0), QString::fromStdString(d.sizeText),
                                              QString::fromStdString(d.creationText),
                                              QString::fromStdString(d.modificationText),
                                              QString::fromStdString(d.accessText), QString::fromStdString(d.attributeText)});
        row->setData(0, kEntryRole, child->data(0, kEntryRole));
        if (parser_->isDeleted(e))
            for (int c = 0; c < 6; ++c)
                row->setForeground(c, kDeletedColour);
        listed_.push_back(child);
        files->setRowChecked(files->topLevelItemCount() - 1, tree->ownCheck(child));
    }
}

QTreeWidgetItem* VolumeScanDlg::findItem(const QString& path)
{
    QTreeWidgetItem* at = nullptr;
    for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
        QTreeWidgetItem* next = nullptr;
        const int count = at ? at->childCount() : tree->topLevelItemCount();
        if (at)
            expand(at);
        for (int i = 0; i < (at ? at->childCount() : count) && !next; ++i) {
            QTreeWidgetItem* c = at ? at->child(i) : tree->topLevelItem(i);
            if (c->text(0) == part)
                next = c;
        }
        if (!next)
            return nullptr;
        at = next;
    }
    return at;
}

void VolumeScanDlg::saveSelected()
{
    QTreeWidgetItem* item = tree->currentItem();
    if (!parser_ || !item || entryOf(item) == kNoEntry) {
        MessageSink::current().inform(this, "Select a folder or a file to save.");
        return;
    }
    if (outputFolder->text().isEmpty()) {
        QString folder = QFileDialog::getExistingDirectory(this, "Select output folder");
        if (folder.isEmpty())
            return;
        outputFolder->setText(folder);
    }
    auto root = OutputFolder::open(outputFolder->text().toStdString());
    if (!root) {
        MessageSink::current().inform(this, "The output folder cannot be opened or made.");
        return;
    }
    const EntryHandle entry = entryOf(item);
    const bool folder = item->data(0, kEntryRole + 1).toBool();
    saveStopRequested_.store(false);
    currentStop_ = &saveStopRequested_;
    reporter_ = std::make_unique<QtJobReporter>(this, status, progress);
    runner_ = std::make_unique<JobRunner>(*reporter_);
    setBusy(true);
    auto into = std::make_shared<OutputFolder>(std::move(*root));
    runner_->start([this, entry, folder, into](JobContext& job) {
        FolderSave saver(*parser_, saveStopRequested_);
        FolderSave::Totals totals;
        const std::string name = outputComponent(parser_->outputName(entry));
        if (folder) {
            if (auto sub = into->subfolder(name))
                totals = saver.saveFolderContents(entry, *sub, name, job);
        } else {
            saver.saveFile(entry, *into, name, job, totals);
        }
        job.reporter().showMessage(totals.failed ? "Some files could not be saved." : "Files saved successfully.");
        QMetaObject::invokeMethod(this, [this] {
            setBusy(false);
            currentStop_ = nullptr;
        }, Qt::QueuedConnection);
    });
}

void VolumeScanDlg::search(const QString& text)
{
    if (!parser_)
        return;
    auto matcher = NameSearch::compile(text.toStdString());
    if (!matcher) {
        MessageSink::current().inform(this, "The search text is not a valid regular expression.");
        return;
    }
    files->clearRows();
    listed_.clear();
    searchStopRequested_.store(false);
    currentStop_ = &searchStopRequested_;
    reporter_ = std::make_unique<QtJobReporter>(this, status, progress);
    runner_ = std::make_unique<JobRunner>(*reporter_);
    setBusy(true);
    runner_->start([this, m = *matcher](JobContext& job) {
        NameSearch searcher(*parser_, searchStopRequested_);
        searcher.run(m, job, [this](const NameSearch::Hit& hit) {
            const QString path = QString::fromStdString(hit.path);
            const qulonglong entry = hit.entry;
            QMetaObject::invokeMethod(this, [this, path, entry] {
                QTreeWidgetItem* row = files->addRow({path});
                row->setData(0, kEntryRole, entry);
            }, Qt::BlockingQueuedConnection);
        });
        QMetaObject::invokeMethod(this, [this] {
            setBusy(false);
            currentStop_ = nullptr;
        }, Qt::QueuedConnection);
    });
}

void VolumeScanDlg::onBack()
{
    if (runner_ && runner_->running())
        return;
    goBack();
}

} // namespace qis::ui
