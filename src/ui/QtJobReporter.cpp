#include "ui/QtJobReporter.h"

#include "ui/MessageSink.h"

#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QThread>
#include <QWidget>

namespace qis::ui {

QtJobReporter::QtJobReporter(QWidget* page, QLabel* status, QProgressBar* progress, QLabel* detail)
    : page_(page), status_(status), progress_(progress), detail_(detail)
{
}

void QtJobReporter::onPageThread(const std::function<void()>& work)
{
    if (!page_ || silenced_)
        return;
    if (QThread::currentThread() == page_->thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(page_, [this, &work] {
        if (!silenced_)
            work();
    }, Qt::BlockingQueuedConnection);
}

void QtJobReporter::setStatusText(std::string_view text)
{
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    onPageThread([this, shown] {
        if (status_)
            status_->setText(shown);
    });
}

void QtJobReporter::setDetailText(std::string_view text)
{
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    onPageThread([this, shown] {
        if (detail_)
            detail_->setText(shown);
    });
}

void QtJobReporter::setProgressRange(std::int32_t low, std::int32_t high)
{
    onPageThread([this, low, high] {
        if (progress_)
            progress_->setRange(low, high);
    });
}

void QtJobReporter::setProgressPos(std::int32_t position)
{
    onPageThread([this, position] {
        if (progress_)
            progress_->setValue(position);
    });
}

MessageResult QtJobReporter::showMessage(std::string_view text, MessageIcon icon, MessageButtons buttons)
{
    const QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    MessageResult result = buttons == MessageButtons::YesNo ? MessageResult::No : MessageResult::Ok;
    onPageThread([&] {
        auto answer = MessageSink::current().show(
            page_, shown, icon == MessageIcon::Question ? QMessageBox::Question : QMessageBox::Information,
            buttons == MessageButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
        if (buttons == MessageButtons::YesNo)
            result = answer == QMessageBox::Yes ? MessageResult::Yes : MessageResult::No;
    });
    return result;
}

} // namespace qis::ui
