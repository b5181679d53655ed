#include "ui/JobPanel.h"

#include "ui/WizardPage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace qis::ui {

JobPanel::JobPanel(QWidget* page, QLabel* status, QLabel* detail) : QWidget(page), status_(status)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    progress = new QProgressBar(this);
    pause = new QPushButton("Pause", this);
    resume = new QPushButton("Resume", this);
    stop = new QPushButton("Stop", this);
    row->addWidget(progress, 1);
    for (QPushButton* b : {pause, resume, stop}) {
        b->setAutoDefault(false);
        row->addWidget(b);
    }
    reporter_ = std::make_unique<QtJobReporter>(page, status, progress, detail);
    runner_ = std::make_unique<JobRunner>(*reporter_);

    connect(pause, &QPushButton::clicked, this, [this] {
        runner_->pause();
        status_->setText("Pause button pressed");
    });
    connect(resume, &QPushButton::clicked, this, [this] {
        runner_->resume();
        status_->setText("Resume button pressed");
    });
    connect(stop, &QPushButton::clicked, this, [this] {
        if (!stopAction_ || !stopAction_())
            return;
        status_->setText(stopText_);
        // Stop that waited for a Resume nobody presses would look like a hang.
        runner_->resume();
    });
}

JobPanel::~JobPanel() { shutdown(); }

void JobPanel::shutdown()
{
    reporter_->silence();
    stopAndWait();
    // The page's members go before this panel: the action must not outlive them.
    stopAction_ = nullptr;
}

void JobPanel::setStopAction(std::function<bool()> stop, QString statusText)
{
    stopAction_ = std::move(stop);
    stopText_ = std::move(statusText);
}

void JobPanel::showControls(bool shown)
{
    for (QWidget* w : std::initializer_list<QWidget*>{progress, pause, resume, stop})
        w->setVisible(shown);
}

void JobPanel::stopAndWait()
{
    if (stopAction_)
        stopAction_();
    runner_->resume();
    waitForJob();
}

void JobPanel::waitForJob() { WizardPage::waitForJob(runner_.get()); }

} // namespace qis::ui
