#include "ui/MessageSink.h"

#include "ui/Product.h"

namespace qis::ui {
namespace {

MessageSink* g_sink = nullptr;

} // namespace

MessageSink& MessageSink::current()
{
    static BoxMessageSink boxes;
    return g_sink ? *g_sink : boxes;
}

void MessageSink::setCurrent(MessageSink* sink) { g_sink = sink; }

QMessageBox::StandardButton BoxMessageSink::show(QWidget* owner, const QString& text, QMessageBox::Icon icon,
                                                 QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, QString::fromUtf8(kProductTitle), text, buttons, owner);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace qis::ui
