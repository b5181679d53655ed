#pragma once

#include "recovery/JobReporter.h"

#include <QObject>
#include <QPointer>
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
    QtJobReporter(QWidget* page, QLabel* status, QProgressBar* progress);

    void setStatusText(std::string_view text) override;
    void setDetailText(std::string_view text) override;
    void setProgressRange(std::int32_t low, std::int32_t high) override;
    void setProgressPos(std::int32_t position) override;
    MessageResult showMessage(std::string_view text, MessageIcon icon, MessageButtons buttons) override;

private:
    void onPageThread(const std::function<void()>& work);
    QPointer<QWidget> page_;
    QPointer<QLabel> status_;
    QPointer<QProgressBar> progress_;
};

} // namespace qis::ui
