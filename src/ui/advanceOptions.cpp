#include "ui/advanceOptions.h"

#include "ui/CBrellanApp.h"
#include "ui/MessageSink.h"
#include "ui/VolumeScanDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace qis::ui {
namespace {

void fill(QComboBox* box, const std::vector<AdvancedChoices::Choice>& choices)
{
    box->clear();
    for (const auto& c : choices)
        box->addItem(QString::fromStdString(c.text));
    if (box->count() > 0)
        box->setCurrentIndex(0); // the first item is selected
}

} // namespace

advanceOptions::advanceOptions(CBrellanApp& app, WizardPage* owner, const VolumeRecord& volume, int maxFileSystems)
    : WizardPage(app, owner), volume_(volume), maxFileSystems_(maxFileSystems)
{
    auto* group = new QGroupBox("Advanced Input:", this);
    auto* grid = new QGridLayout(group);
    candidateLabel = new QLabel("TFS :", group);
    candidates = new QComboBox(group);
    clusterLabel = new QLabel("Sector Per Cluster :", group);
    clusterSizes = new QComboBox(group);
    heapLabel = new QLabel("Heap Offset :", group);
    heaps = new QComboBox(group);
    grid->addWidget(candidateLabel, 0, 0);
    grid->addWidget(candidates, 0, 1);
    grid->addWidget(clusterLabel, 1, 0);
    grid->addWidget(clusterSizes, 1, 1);
    grid->addWidget(heapLabel, 2, 0);
    grid->addWidget(heaps, 2, 1);
    grid->setColumnStretch(1, 1);
    body()->addWidget(group);
    body()->addStretch(1);
    status = new QLabel("Processing.....", this);
    jobs = new JobPanel(this, status);
    body()->addWidget(jobs);
    body()->addWidget(status);
    for (QWidget* w : std::initializer_list<QWidget*>{clusterLabel, clusterSizes, heapLabel, heaps})
        w->hide();
    backButton()->setEnabled(false);
    nextButton()->setEnabled(false);
    // The search keeps what it found before Stop.
    jobs->setStopAction([this] {
        if (!scan_ || !jobs->running())
            return false;
        scan_->stopRequested().store(true);
        return true;
    }, "stop button pressed");
}

advanceOptions::~advanceOptions() { jobs->shutdown(); }

void advanceOptions::runSearch()
{
    if (!app_.state.openFreshReader()) {
        MessageSink::current().inform(this, "Please Restart the program to re begin necessary initialization...");
        backButton()->setEnabled(true);
        return;
    }
    ScanOptions options;
    options.mode = 2;
    options.maxFileSystems = maxFileSystems_;
    options.driveFormatted = app_.isDriveFormatted;
    std::string whyNot;
    std::unique_ptr<VolumeScan> made = makeVolumeScan(volume_, *app_.state.currentReader, options, whyNot);
    if (!made || !made->findsCandidates()) {
        // No search exists for this volume: say so and let the user go back.
        MessageSink::current().inform(this, QString::fromStdString(made ? "The advanced mode for " +
                                                                              volume_.fileSystem + " volumes is not available."
                                                                        : whyNot));
        backButton()->setEnabled(true);
        return;
    }
    scan_ = std::move(made);
    const QString kind = QString::fromStdString(volume_.fileSystem).trimmed().toLower();
    const bool exfat = kind == "fat64" || kind == "exfat";
    clusterLabel->show();
    clusterSizes->show();
    heapLabel->setVisible(exfat);
    heaps->setVisible(exfat);
    jobs->runner().start([this](JobContext& job) {
        const AdvancedChoices* found = scan_->findCandidates(job);
        QMetaObject::invokeMethod(this, [this, found] {
            choices_ = found;
            searchEnded();
        }, Qt::QueuedConnection);
    });
}

void advanceOptions::searchEnded()
{
    jobs->runner().join();
    jobs->showControls(false);
    backButton()->setEnabled(true);
    nextButton()->setEnabled(true);
    scan_->stopRequested().store(false);
    if (!choices_)
        return;
    candidateLabel->setText(QString::fromStdString(choices_->candidateLabel));
    fill(candidates, choices_->candidates);
    fill(clusterSizes, choices_->clusterSizes);
    fill(heaps, choices_->heaps);
}

void advanceOptions::onNext()
{
    if (jobs->running())
        return;
    if (!choices_ || candidates->currentIndex() < 0) {
        MessageSink::current().inform(this, "No File system Entry Found.Process cannot be continue...");
        return;
    }
    if (clusterSizes->currentIndex() < 0)
        return;
    const auto& size = choices_->clusterSizes[static_cast<std::size_t>(clusterSizes->currentIndex())];
    scan_->choose(static_cast<std::size_t>(candidates->currentIndex()), static_cast<unsigned>(size.value),
                  heaps->currentIndex() < 0 ? 0 : static_cast<std::size_t>(heaps->currentIndex()));
    auto* next = new VolumeScanDlg(app_, this, volume_, 2, scan_);
    goForward(next);
    next->runScan();
}

void advanceOptions::onBack()
{
    // Leaving stops the search; what it found goes with the page.
    jobs->stopAndWait();
    goBack();
}

} // namespace qis::ui
