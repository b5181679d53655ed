#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace qis::ui {

// Where the pages' message boxes go: a modal QMessageBox with the product
// title, or, in tests, a recorder that answers as told.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual QMessageBox::StandardButton show(QWidget* owner, const QString& text, QMessageBox::Icon icon,
                                             QMessageBox::StandardButtons buttons) = 0;

    void inform(QWidget* owner, const QString& text)
    {
        show(owner, text, QMessageBox::Information, QMessageBox::Ok);
    }
    bool askYesNo(QWidget* owner, const QString& text)
    {
        return show(owner, text, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    }

    // The sink the pages use; the boxes on screen unless a test set another.
    static MessageSink& current();
    static void setCurrent(MessageSink* sink);
};

class BoxMessageSink : public MessageSink {
public:
    QMessageBox::StandardButton show(QWidget* owner, const QString& text, QMessageBox::Icon icon,
                                     QMessageBox::StandardButtons buttons) override;
};

} // namespace qis::ui
