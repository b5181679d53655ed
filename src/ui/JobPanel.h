#pragma once

#include "jobs/JobRunner.h"
#include "ui/QtJobReporter.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace qis::ui {

// The progress bar with Pause, Resume and Stop of a page that runs jobs,
// and the page's job runner behind them. Pause and Resume act on the job
// at once; Stop calls the page's stop action (it sets the flags its jobs
// look at) and lets a paused job go so that it sees them.
class JobPanel : public QWidget {
    Q_OBJECT
public:
    JobPanel(QWidget* page, QLabel* status, QLabel* detail = nullptr);
    // The page is going away (the program may be ending): the job is
    // stopped, let go if paused and waited for, and shows nothing more.
    ~JobPanel() override;

    // What Stop does besides letting a paused job go, and its status text.
    void setStopAction(std::function<bool()> stop, QString statusText);
    // The progress bar and the three buttons, shown or hidden together.
    void showControls(bool shown);
    // Stops and waits for the job: for Back, and for the page's end.
    void stopAndWait();
    // The page is going away: its destructor calls this first, while what
    // the job uses still exists. The job's reports show nothing more.
    void shutdown();

    JobRunner& runner() { return *runner_; }
    [[nodiscard]] bool running() const { return runner_->running(); }
    void waitForJob();

    QProgressBar* progress = nullptr;
    QPushButton* pause = nullptr;
    QPushButton* resume = nullptr;
    QPushButton* stop = nullptr;

private:
    QLabel* status_;
    std::function<bool()> stopAction_;
    QString stopText_;
    std::unique_ptr<QtJobReporter> reporter_;
    std::unique_ptr<JobRunner> runner_;
};

} // namespace qis::ui
