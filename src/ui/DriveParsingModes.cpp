#include "ui/DriveParsingModes.h"

#include "ui/CBrellanApp.h"
#include "ui/MessageSink.h"
#include "ui/PopulateDriveDlg.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

namespace qis::ui {

DriveParsingModes::DriveParsingModes(CBrellanApp& app, WizardPage* owner, const QString& imagePath)
    : WizardPage(app, owner), imagePath_(imagePath)
{
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Currently Selected Drive :", this), 0, 0);
    grid->addWidget(new QLabel(imagePath, this), 0, 1, 1, 3);
    standardScan = new QRadioButton("Standard Scan", this);
    gptFormat = new QCheckBox("GPT format", this);
    advanceScan = new QRadioButton("Advance Scan", this);
    doNotSkip = new QCheckBox("Do not Skip Volume Size While Parsing in Advance  Scan ", this);
    customSetting = new QCheckBox("Custom Setting:", this);
    startingSector = new QLineEdit("0", this);
    endingSector = new QLineEdit("0", this);
    grid->addWidget(standardScan, 1, 0);
    grid->addWidget(gptFormat, 1, 1);
    grid->addWidget(new QLabel("* Check If Partition type is GPT", this), 1, 2);
    grid->addWidget(advanceScan, 2, 0);
    grid->addWidget(doNotSkip, 3, 1, 1, 3);
    grid->addWidget(customSetting, 4, 1);
    grid->addWidget(new QLabel("Starting Sector:", this), 5, 1);
    grid->addWidget(startingSector, 5, 2);
    grid->addWidget(new QLabel("Ending Sector:", this), 6, 1);
    grid->addWidget(endingSector, 6, 2);
    saveDiskImage = new QCheckBox("Save Disk Image", this);
    exportPath = new QLineEdit(this);
    saveImage = new QPushButton("Save Image", this);
    stop = new QPushButton("Stop", this);
    grid->addWidget(saveDiskImage, 7, 0);
    grid->addWidget(exportPath, 7, 1, 1, 2);
    grid->addWidget(saveImage, 7, 3);
    progress = new QProgressBar(this);
    status = new QLabel("Choose any one of the mode and click next....", this);
    grid->addWidget(progress, 8, 0, 1, 3);
    grid->addWidget(stop, 8, 3);
    grid->addWidget(status, 9, 0, 1, 4);
    body()->addLayout(grid);
    body()->addStretch(1);
    for (QPushButton* b : {saveImage, stop})
        b->setAutoDefault(false);
    progress->hide();
    stop->hide();
    saveImage->setEnabled(false);

    connect(standardScan, &QRadioButton::toggled, this, [this] { followMode(); });
    connect(advanceScan, &QRadioButton::toggled, this, [this] { followMode(); });
    connect(customSetting, &QCheckBox::toggled, this, [this](bool on) {
        startingSector->setEnabled(on);
        endingSector->setEnabled(on);
    });
    connect(saveDiskImage, &QCheckBox::toggled, saveImage, &QPushButton::setEnabled);
    connect(saveImage, &QPushButton::clicked, this, [this] {
        QString folder = exportPath->text();
        if (folder.isEmpty())
            folder = QFileDialog::getExistingDirectory(this, "Select output folder");
        if (!folder.isEmpty())
            startExport(folder);
    });
    connect(stop, &QPushButton::clicked, this, [this] { export_.exportStopRequested.store(true); });
    standardScan->setChecked(true);
    followMode();
}

DriveParsingModes::~DriveParsingModes()
{
    // A page closed while its export runs stops it first: the job writes
    // through this page's reporter, which shows nothing more. What was
    // written keeps its partial name.
    if (reporter_)
        reporter_->silence();
    export_.exportStopRequested.store(true);
    waitForExport();
}

void DriveParsingModes::followMode()
{
    const bool advanced = advanceScan->isChecked();
    doNotSkip->setEnabled(advanced);
    customSetting->setEnabled(advanced);
    if (!advanced) {
        doNotSkip->setChecked(false);
        customSetting->setChecked(false);
    }
    startingSector->setEnabled(advanced && customSetting->isChecked());
    endingSector->setEnabled(advanced && customSetting->isChecked());
}

DriveParsingModes::Choices DriveParsingModes::choices() const
{
    Choices c;
    c.scanMode = standardScan->isChecked() ? 1 : 2;
    c.gptMode = gptFormat->isChecked();
    c.doNotSkip = doNotSkip->isChecked();
    c.custom = customSetting->isChecked();
    if (c.custom) {
        bool okStart = false, okEnd = false;
        const std::int64_t start = startingSector->text().toLongLong(&okStart);
        const std::int64_t end = endingSector->text().toLongLong(&okEnd);
        // Taken over only when the ending sector is not negative.
        if (okStart && okEnd && end >= 0) {
            c.startSector = start;
            c.endSector = end;
        }
    }
    return c;
}

void DriveParsingModes::startExport(const QString& folder)
{
    if (runner_ && runner_->running())
        return;
    exportPath->setText(folder);
    const auto output = exportOutputPath(folder.toStdString(), imagePath_.toStdString());
    app_.state.imagePath = imagePath_.toStdString();
    export_.exportStopRequested.store(false);
    reporter_ = std::make_unique<QtJobReporter>(this, status, progress);
    runner_ = std::make_unique<JobRunner>(*reporter_);
    progress->show();
    stop->show();
    for (QWidget* w : std::initializer_list<QWidget*>{saveImage, backButton(), nextButton()})
        w->setEnabled(false);
    runner_->start([this, output](JobContext& job) {
        DiskExport::Result result = export_.run(app_.state, output, job);
        QMetaObject::invokeMethod(this, [this, result] { exportEnded(result); }, Qt::QueuedConnection);
    });
}

void DriveParsingModes::waitForExport() { waitForJob(runner_.get()); }

void DriveParsingModes::exportEnded(const DiskExport::Result&)
{
    progress->hide();
    stop->hide();
    saveImage->setEnabled(saveDiskImage->isChecked());
    backButton()->setEnabled(true);
    nextButton()->setEnabled(true);
}

void DriveParsingModes::onNext()
{
    auto* next = new PopulateDriveDlg(app_, this, imagePath_, choices());
    goForward(next);
    next->runScan();
}

void DriveParsingModes::onBack()
{
    if (runner_ && runner_->running())
        return;
    goBack();
}

} // namespace qis::ui
