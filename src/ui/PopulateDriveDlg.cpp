#include "ui/PopulateDriveDlg.h"

#include "ui/CBrellanApp.h"
#include "ui/MessageSink.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/RawRecoveryDialog.h"
#include "util/Ascii.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

namespace qis::ui {
namespace {

// The MiB figure at the start of a size text such as "8192   MB".
std::int64_t sizeFigure(const std::string& sizeText) { return std::atoll(sizeText.c_str()); }

} // namespace

PopulateDriveDlg::PopulateDriveDlg(CBrellanApp& app, WizardPage* owner, const QString& imagePath,
                                   const DriveParsingModes::Choices& choices)
    : WizardPage(app, owner), imagePath_(imagePath), choices_(choices)
{
    list = new QTreeWidget(this);
    list->setColumnCount(4);
    list->setHeaderLabels({"VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR"});
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    body()->addWidget(list, 1);
    auto* grid = new QGridLayout;
    filter = new QPushButton("Filter Entries", this);
    filter->setToolTip("Filter volume entries.");
    addCustom = new QPushButton("Add Custom Volume", this);
    addCustom->setToolTip("Add Custom Volume entry.");
    customSettings = new QCheckBox("Custom Settings For Selected Volume ", this);
    selectedVolume = new QLabel(this);
    startSector = new SectorField(this);
    endSector = new SectorField(this);
    treatAs = new QComboBox(this);
    QStringList kinds = {"EXTX", "FAT64", "FAT32", "FAT16", "NTFS", "HFS+", "RAW"};
    kinds.sort(); // a sorted list, as the page shows it
    treatAs->addItems(kinds);
    treatAs->setCurrentIndex(-1);
    grid->addWidget(filter, 0, 0);
    grid->addWidget(addCustom, 0, 1);
    grid->addWidget(customSettings, 1, 0, 1, 2);
    grid->addWidget(new QLabel("Selected Volume :", this), 2, 0);
    grid->addWidget(selectedVolume, 2, 1);
    grid->addWidget(new QLabel("Start Sector:", this), 3, 0);
    grid->addWidget(startSector, 3, 1);
    grid->addWidget(new QLabel("End Sector :", this), 4, 0);
    grid->addWidget(endSector, 4, 1);
    grid->addWidget(new QLabel("Treat file system as:", this), 5, 0);
    grid->addWidget(treatAs, 5, 1);
    progress = new QProgressBar(this);
    status = new QLabel(this);
    stop = new QPushButton("Stop", this);
    grid->addWidget(progress, 6, 0);
    grid->addWidget(stop, 6, 1);
    grid->addWidget(status, 7, 0, 1, 2);
    body()->addLayout(grid);
    for (QPushButton* b : {filter, addCustom, stop})
        b->setAutoDefault(false);
    addCustom->setEnabled(false);
    customSettings->setEnabled(false);
    followCustomSettings();

    connect(list, &QTreeWidget::currentItemChanged, this, [this] { selectRow(list->indexOfTopLevelItem(list->currentItem())); });
    connect(customSettings, &QCheckBox::toggled, this, [this] { followCustomSettings(); });
    connect(addCustom, &QPushButton::clicked, this, [this] { addCustomVolume(); });
    connect(filter, &QPushButton::clicked, this, [this] { filterEntries(); });
    connect(stop, &QPushButton::clicked, this, [this] {
        if (partition_)
            partition_->stopRequested.store(true);
        backButton()->setEnabled(true);
    });
}

PopulateDriveDlg::~PopulateDriveDlg()
{
    if (reporter_)
        reporter_->silence();
    if (partition_)
        partition_->stopRequested.store(true);
    waitForScan();
}

void PopulateDriveDlg::followCustomSettings()
{
    const bool on = customSettings->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{selectedVolume, startSector, endSector, treatAs})
        w->setEnabled(on);
}

void PopulateDriveDlg::runScan()
{
    app_.state.imagePath = imagePath_.toStdString();
    if (choices_.scanMode == 1)
        standardScan();
    else
        advancedScan();
}

void PopulateDriveDlg::standardScan()
{
    stop->hide();
    progress->setRange(0, 1000);
    partition_ = std::make_unique<Partition>();
    partition_->gptMode = choices_.gptMode;
    std::string message;
    if (!app_.state.openFreshReader(&message)) {
        MessageSink::current().inform(this, "File not opened..");
    } else {
        QtJobReporter reporter(this, status, progress);
        volumeList_.clear();
        scanPartitionTable(*app_.state.currentReader, *partition_, reporter);
        volumeList_ = partition_->volumeList;
        fillRows();
        customSettings->setEnabled(!volumeList_.empty());
    }
    progress->setValue(1000);
    filter->setEnabled(true);
    progress->hide();
    status->setText("Select volume and click next button...");
}

void PopulateDriveDlg::advancedScan()
{
    addCustom->setEnabled(false);
    backButton()->setEnabled(false);
    partition_ = std::make_unique<Partition>();
    partition_->skipVolumes = !choices_.doNotSkip;
    if (choices_.custom && choices_.endSector >= 0) {
        partition_->scanStartSector = choices_.startSector;
        partition_->scanEndSector = choices_.endSector;
    }
    if (!app_.state.openFreshReader()) {
        backButton()->setEnabled(true);
        MessageSink::current().inform(this, "file not opened..");
        return;
    }
    volumeList_.clear();
    list->clear();
    rows_.clear();
    reporter_ = std::make_unique<QtJobReporter>(this, status, progress);
    runner_ = std::make_unique<JobRunner>(*reporter_);
    stop->show();
    progress->show();
    runner_->start([this](JobContext& job) {
        searchBootSectors(*app_.state.currentReader, *partition_, app_.state.diskSectorCount, job);
        QMetaObject::invokeMethod(this, [this] {
            status->setText("Scanned Partitions");
            MessageSink::current().inform(this, "populated partitions....");
            status->setText("Finished Scanning.");
            volumeList_ = partition_->volumeList;
            for (const VolumeRecord& r : volumeList_)
                addRow(r, true);
            customSettings->setEnabled(!volumeList_.empty());
            for (QWidget* w : std::initializer_list<QWidget*>{backButton(), addCustom, nextButton()})
                w->setEnabled(true);
            stop->hide();
            progress->hide();
            status->setText("Select volume and click next button...");
        }, Qt::QueuedConnection);
    });
}

void PopulateDriveDlg::waitForScan() { waitForJob(runner_.get()); }

void PopulateDriveDlg::fillRows()
{
    list->clear();
    rows_.clear();
    for (std::size_t i = 0; i < volumeList_.size(); ++i) {
        volumeList_[i].volumeName = std::to_string(i);
        addRow(volumeList_[i], false);
    }
}

void PopulateDriveDlg::addRow(const VolumeRecord& r, bool atTop)
{
    auto* item = new QTreeWidgetItem({QString::fromStdString(r.volumeName), QString::fromStdString(r.fileSystem),
                                      QString::fromStdString(r.sizeText), QString::number(r.startSector)});
    // How the volume was found, when its first sector did not say (a backup
    // boot record, a disk without partition table).
    if (!r.note.empty())
        for (int column = 0; column < 4; ++column)
            item->setToolTip(column, QString::fromStdString(r.note));
    if (atTop) {
        list->insertTopLevelItem(0, item);
        rows_.insert(rows_.begin(), r);
    } else {
        list->addTopLevelItem(item);
        rows_.push_back(r);
    }
}

VolumeRecord PopulateDriveDlg::recordOfRow(int row) const { return rows_.at(static_cast<std::size_t>(row)); }

void PopulateDriveDlg::selectRow(int row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size())
        return;
    if (list->currentItem() != list->topLevelItem(row))
        list->setCurrentItem(list->topLevelItem(row));
    const VolumeRecord& r = rows_[static_cast<std::size_t>(row)];
    selectedVolume->setText(QString::fromStdString(r.volumeName));
    startSector->setText(QString::number(r.startSector));
    const std::int64_t size = sizeFigure(r.sizeText);
    endSector->setText(QString::number(size == 0 ? 0 : r.startSector + size * 2048 - 1));
    const QString kind = QString::fromStdString(r.fileSystem);
    for (int i = 0; i < treatAs->count(); ++i)
        if (!kind.isEmpty() && treatAs->itemText(i).startsWith(kind, Qt::CaseInsensitive)) {
            treatAs->setCurrentIndex(i);
            break;
        }
}

void PopulateDriveDlg::addCustomVolume()
{
    VolumeRecord r{"CUSTOM ", std::to_string(volumeList_.size()), "0", 0};
    volumeList_.push_back(r);
    customSettings->setEnabled(true);
    customSettings->setChecked(true);
    const bool atTop = choices_.scanMode != 1;
    addRow(r, atTop);
    selectRow(atTop ? 0 : list->topLevelItemCount() - 1);
    startSector->setText("0");
    endSector->setText("0");
}

void PopulateDriveDlg::filterEntries()
{
    // Only volumes that start right after the one listed before them.
    list->clear();
    rows_.clear();
    for (std::size_t i = 1; i < volumeList_.size(); ++i)
        if (volumeList_[i].startSector == volumeList_[i - 1].startSector + 1) {
            volumeList_[i].volumeName = std::to_string(i);
            addRow(volumeList_[i], true);
        }
}

void PopulateDriveDlg::onNext()
{
    const int row = list->indexOfTopLevelItem(list->currentItem());
    if (row < 0) {
        MessageSink::current().inform(this, "please select a valid volume.");
        return;
    }
    VolumeRecord r = recordOfRow(row);
    if (customSettings->isChecked()) {
        customApplied_ = true;
        r.startSector = startSector->text().toLongLong();
        const std::int64_t end = endSector->text().toLongLong();
        r.sizeText = end > r.startSector ? std::to_string((end - r.startSector + 1) / 2048) : "0";
        static const std::pair<const char*, const char*> kLabels[] = {
            {"NTFS", "ntfs"}, {"FAT16", "fat16"}, {"FAT32", "fat32"}, {"FAT64", "fat64"}, {"EXTX", "extX"}, {"HFS+", "HFS+"}};
        for (auto [item, label] : kLabels)
            if (treatAs->currentText().compare(item, Qt::CaseInsensitive) == 0)
                r.fileSystem = label;
        if (treatAs->currentText() == "RAW") {
            r.fileSystem = "RAW";
            chosen_ = std::make_unique<VolumeRecord>(r);
            goForward(new RawRecoveryDialog(app_, this, r));
            return;
        }
    }
    if (toLowerAscii(r.fileSystem) == "unknown") {
        MessageSink::current().inform(this, "can not parse unknown volume");
        return;
    }
    chosen_ = std::make_unique<VolumeRecord>(r);
    goForward(new ParceModeNtfsDlg(app_, this, r));
}

void PopulateDriveDlg::onBack()
{
    if (runner_ && runner_->running())
        return;
    goBack();
}

} // namespace qis::ui
