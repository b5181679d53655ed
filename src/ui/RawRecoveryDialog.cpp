#include "ui/RawRecoveryDialog.h"

#include "filesystems/VolumeSweep.h"
#include "platform/OutputFolder.h"
#include "platform/ProgramFolder.h"
#include "recovery/carving/CarvedSave.h"
#include "recovery/carving/DefaultSignaturePlaces.h"
#include "recovery/carving/SignatureFile.h"
#include "ui/CBrellanApp.h"
#include "ui/MessageSink.h"
#include "ui/RawSettingDlg.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QThread>
#include <QTreeWidget>

#include <functional>

namespace qis::ui {
namespace {

constexpr int kFileIndexRole = Qt::UserRole;
constexpr const char* kDone = "Scanning processing done.Select save button to save the data.";

QString text(const std::u16string& s) { return QString::fromStdU16String(s); }

// The default file where one is found (the install's, the one beside the
// program, the user's); else the place beside the program, as a hint of
// where one can be put.
QString defaultSettingsPath()
{
    std::filesystem::path path = findDefaultSignatures().found;
    if (path.empty())
        path = programFolder() / kDefaultSignatureFile;
    return QString::fromStdString(path.string());
}

} // namespace

// The carver's tree, filled from the search's thread: each insertion is
// carried out on the page's thread before the search goes on.
class RawRecoveryDialog::TreeSink : public CarveTree {
public:
    TreeSink(RawRecoveryDialog* page, CXHtmlTree* tree) : page_(page), tree_(tree) {}
    ItemId addFolder(std::optional<ItemId> parent, const std::u16string& name) override
    {
        ItemId id = 0;
        onPage([&] {
            QTreeWidgetItem* item = tree_->insertItem(parent ? item_(*parent) : nullptr, text(name));
            item->setIcon(0, QFileIconProvider().icon(QFileIconProvider::Folder));
            id = reinterpret_cast<ItemId>(item);
        });
        return id;
    }
    ItemId addFile(ItemId parent, const std::u16string& name, std::size_t fileIndex) override
    {
        ItemId id = 0;
        onPage([&] {
            QTreeWidgetItem* item = tree_->insertItem(item_(parent), text(name));
            item->setIcon(0, QFileIconProvider().icon(QFileIconProvider::File));
            item->setData(0, kFileIndexRole, QVariant::fromValue<qulonglong>(fileIndex));
            // A checked category's new files are checked too.
            if (tree_->ownCheck(item_(parent)))
                tree_->SetCheck(item, true);
            id = reinterpret_cast<ItemId>(item);
        });
        return id;
    }
    void setText(ItemId item, const std::u16string& name) override
    {
        onPage([&] { item_(item)->setText(0, text(name)); });
    }
    void expand(ItemId item) override
    {
        onPage([&] { item_(item)->setExpanded(true); });
    }

private:
    static QTreeWidgetItem* item_(ItemId id) { return reinterpret_cast<QTreeWidgetItem*>(id); }
    void onPage(const std::function<void()>& work)
    {
        if (QThread::currentThread() == page_->thread())
            work();
        else
            QMetaObject::invokeMethod(page_, work, Qt::BlockingQueuedConnection);
    }
    RawRecoveryDialog* page_;
    CXHtmlTree* tree_;
};

RawRecoveryDialog::RawRecoveryDialog(CBrellanApp& app, WizardPage* owner, const VolumeRecord& volume)
    : WizardPage(app, owner), volume_(volume),
      defaultSettingsPath_(defaultSettingsPath())
{
    auto* group = new QGroupBox(
        "Click Parse button to add default file settings or create your own file to process raw recovery.", this);
    auto* grid = new QGridLayout(group);
    settingsPath = new QLineEdit(defaultSettingsPath_, group);
    browseSettings = new QPushButton("...", group);
    parseButton = new QPushButton("Parse", group);
    loadDefaults = new QCheckBox("Load Default Items ", group);
    loadDefaults->setChecked(true);
    setting = new QPushButton("Setting", group);
    grid->addWidget(settingsPath, 0, 0);
    grid->addWidget(browseSettings, 0, 1);
    grid->addWidget(parseButton, 0, 2);
    grid->addWidget(loadDefaults, 1, 0);
    grid->addWidget(setting, 1, 2);
    grid->addWidget(new QLabel("[Add new signatures in \n new/existing file]", group), 1, 1);
    body()->addWidget(group);

    auto* split = new QSplitter(this);
    tree = new CXHtmlTree(split);
    tree->setHeaderHidden(true);
    files = new QTreeWidget(split);
    files->setHeaderLabels({"File(s) List"});
    files->setColumnWidth(0, 300);
    files->setRootIsDecorated(false);
    body()->addWidget(split, 1);

    auto* out = new QHBoxLayout;
    outputFolder = new QLineEdit(this);
    auto* browseOutput = new QPushButton("Browse", this);
    save = new QPushButton("Save", this);
    out->addWidget(new QLabel("Output folder", this));
    out->addWidget(outputFolder, 1);
    out->addWidget(browseOutput);
    out->addWidget(save);
    body()->addLayout(out);
    status = new QLabel("Please select parse button to scan the default file.", this);
    jobs = new JobPanel(this, status);
    body()->addWidget(jobs);
    body()->addWidget(status);
    for (QPushButton* b : {browseSettings, parseButton, setting, browseOutput, save})
        b->setAutoDefault(false);
    nextButton()->hide(); // the last page of its branch
    jobs->showControls(false);
    sink_ = std::make_unique<TreeSink>(this, tree);
    jobs->setStopAction([this] {
        if (engine_)
            engine_->rawStopRequested.store(true);
        return true;
    }, "Stop button pressed.Please wait for the process to stop");

    connect(browseSettings, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getOpenFileName(this, QString(), settingsPath->text(), "Text Files (*.txt)");
        if (!chosen.isEmpty() && QFileInfo::exists(chosen))
            settingsPath->setText(chosen);
    });
    connect(browseOutput, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, "Please choose a folder.", outputFolder->text());
        outputFolder->setText(folder);
    });
    connect(parseButton, &QPushButton::clicked, this, [this] { parse(); });
    connect(setting, &QPushButton::clicked, this, [this] {
        RawSettingDlg editor(this);
        editor.exec();
    });
    connect(save, &QPushButton::clicked, this, [this] { saveChecked(); });
    connect(tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { showCategoryFiles(item); });
}

RawRecoveryDialog::~RawRecoveryDialog() { jobs->shutdown(); }

void RawRecoveryDialog::givenUp()
{
    // Parse stays disabled: another search needs a new visit of the page.
    jobs->showControls(false);
    backButton()->setEnabled(true);
    save->setEnabled(true);
    status->setText(kDone);
}

void RawRecoveryDialog::parse()
{
    if (jobs->running())
        return;
    jobs->showControls(true);
    setting->setEnabled(false);
    parseButton->setEnabled(false);
    engine_ = std::make_unique<myJpg>();
    const bool defaults = loadDefaults->isChecked();
    if (defaults)
        loadDefaultSignatures(defaultSettingsPath_.toStdString(), *engine_);
    // The path field starts as the default file: with the box ticked it
    // is loaded once, not twice.
    const QString path = settingsPath->text().trimmed();
    if (!path.isEmpty() && !(defaults && QFileInfo(path) == QFileInfo(defaultSettingsPath_))) {
        std::string message;
        if (!loadSignatureFile(path.toStdString(), *engine_, message)) {
            MessageSink::current().inform(this, QString::fromStdString(message));
            givenUp();
            return;
        }
    }
    if (engine_->signatureTypes.empty()) {
        MessageSink::current().inform(this, "Enter the info file first..");
        givenUp();
        return;
    }
    const std::uint64_t size = volumeBytesFromSizeText(volume_.sizeText);
    if (size == 0) {
        MessageSink::current().inform(this, "zero size volume..");
        givenUp();
        return;
    }
    if (!app_.state.openFreshReader()) {
        MessageSink::current().inform(this, "Please Restart the program to re begin necessary initialization...");
        givenUp();
        return;
    }
    for (QWidget* w : std::initializer_list<QWidget*>{save, backButton(), browseSettings, settingsPath, setting})
        w->setEnabled(false);
    // The search covers the volume the user chose, from its start sector.
    readWriteInterface& reader = *app_.state.currentReader;
    reader.baseOffset = volume_.startSector * 512;
    engine_->reader = &reader;
    engine_->scanSize = size;
    jobs->runner().start([this](JobContext& job) {
        job.reporter().setStatusText("Processing.....");
        engine_->carveVolume(job, sink_.get());
        QMetaObject::invokeMethod(this, [this] { searchEnded(); }, Qt::QueuedConnection);
    });
}

void RawRecoveryDialog::searchEnded()
{
    jobs->runner().join();
    backButton()->setEnabled(true);
    setting->setEnabled(true);
    save->setEnabled(true);
    status->setText("Scanning processing done.Select save button to save the data");
    jobs->showControls(false);
    emit jobEnded();
}

void RawRecoveryDialog::showCategoryFiles(QTreeWidgetItem* item)
{
    files->clear();
    if (!item)
        return;
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        if (!child->data(0, kFileIndexRole).isValid())
            continue; // a category, not a file
        auto* row = new QTreeWidgetItem({child->text(0)});
        row->setData(0, kFileIndexRole, child->data(0, kFileIndexRole));
        files->addTopLevelItem(row);
    }
}

void RawRecoveryDialog::saveChecked()
{
    if (jobs->running())
        return;
    // The checked files, by their place in the engine's list.
    std::vector<bool> wanted(engine_ ? engine_->carvedFiles.size() : 0, false);
    bool anyChecked = false;
    std::vector<QTreeWidgetItem*> below;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        below.push_back(tree->topLevelItem(i));
    while (!below.empty()) {
        QTreeWidgetItem* item = below.back();
        below.pop_back();
        if (tree->ownCheck(item)) {
            anyChecked = true;
            const QVariant index = item->data(0, kFileIndexRole);
            if (index.isValid() && index.toULongLong() < wanted.size())
                wanted[index.toULongLong()] = true;
        }
        for (int c = 0; c < item->childCount(); ++c)
            below.push_back(item->child(c));
    }
    if (!anyChecked) {
        MessageSink::current().inform(this, "Please select folder to continue the saving process.");
        return;
    }
    if (outputFolder->text().trimmed().isEmpty()) {
        MessageSink::current().inform(this, "Select output folder");
        return;
    }
    auto root = OutputFolder::open(outputFolder->text().toStdString());
    if (!root) {
        MessageSink::current().inform(this, "The output folder cannot be opened or made.");
        return;
    }
    auto into = std::make_shared<OutputFolder>(std::move(*root));
    backButton()->setEnabled(false);
    save->setEnabled(false);
    jobs->showControls(true);
    jobs->runner().start([this, into, wanted = std::move(wanted)](JobContext& job) {
        const CarvedSaveResult saved =
            saveCarvedFiles(*engine_, *engine_->reader, *into, [&](std::size_t i) { return wanted[i]; },
                            engine_->rawStopRequested, job);
        if (saved.stopped)
            job.reporter().showMessage("Saving stopped: " + std::to_string(saved.written) +
                                       " carved files were written, each of them whole.");
        else if (saved.failed == 0)
            job.reporter().showMessage("Saving process done.");
        if (saved.failed) {
            // Which files, and why: the output's reason, not the image's.
            job.reporter().showMessage(
                saved.failures.text(std::to_string(saved.failed) + " carved files could not be written:"));
        }
        QMetaObject::invokeMethod(this, [this] {
            jobs->runner().join();
            backButton()->setEnabled(true);
            save->setEnabled(true);
            jobs->showControls(false);
            emit jobEnded();
        }, Qt::QueuedConnection);
    });
}

void RawRecoveryDialog::onBack()
{
    if (jobs->running())
        return;
    goBack();
}

} // namespace qis::ui
