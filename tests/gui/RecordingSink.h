#pragma once

#include "ui/MessageSink.h"

#include <deque>
#include <string>
#include <vector>

namespace qis::ui {

// Stands in for the message boxes: records every text and answers
// questions from a queue (`whenEmpty` once it has run out).
struct RecordingSink : MessageSink {
    std::vector<std::string> shown;
    std::deque<QMessageBox::StandardButton> answers;
    QMessageBox::StandardButton whenEmpty = QMessageBox::No;

    RecordingSink() { MessageSink::setCurrent(this); }
    ~RecordingSink() override { MessageSink::setCurrent(nullptr); }
    RecordingSink(const RecordingSink&) = delete;
    RecordingSink& operator=(const RecordingSink&) = delete;

    QMessageBox::StandardButton show(QWidget*, const QString& text, QMessageBox::Icon,
                                     QMessageBox::StandardButtons buttons) override
    {
        shown.push_back(text.toStdString());
        if (!(buttons & QMessageBox::Yes))
            return QMessageBox::Ok;
        if (answers.empty())
            return whenEmpty;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }

    [[nodiscard]] bool saw(const std::string& text) const
    {
        for (const auto& s : shown)
            if (s == text)
                return true;
        return false;
    }
};

} // namespace qis::ui
