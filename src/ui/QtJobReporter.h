#pragma once

#include "jobs/JobReporter.h"

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>

class QLabel;
class QProgressBar;
class QWidget;

namespace qis::ui {

// A page's JobReporter for a job on a worker thread: every call is carried
// out on the page's thread and finishes before the job goes on (a blocking
// queued invocation), so the job never runs ahead of what the page shows.
// Called on the page's own thread, it acts at once.
class QtJobReporter : public JobReporter {
public:
    // `detail` is the second status field (the size of the file being
    // saved); pages without one pass null.
    QtJobReporter(QWidget* page, QLabel* status, QProgressBar* progress, QLabel* detail = nullptr);

    void setStatusText(std::string_view text) override;
    void setDetailText(std::string_view text) override;
    void setProgressRange(std::int32_t low, std::int32_t high) override;
    void setProgressPos(std::int32_t position) override;
    MessageResult showMessage(std::string_view text, MessageIcon icon, MessageButtons buttons) override;

    // The page is going away (the program ends): later calls show nothing,
    // and questions are answered No, so that the job can end quietly.
    void silence() { silenced_ = true; }

private:
    void onPageThread(const std::function<void()>& work);
    std::atomic<bool> silenced_{false};
    QPointer<QWidget> page_;
    QPointer<QLabel> status_;
    QPointer<QProgressBar> progress_;
    QPointer<QLabel> detail_;
};

} // namespace qis::ui
