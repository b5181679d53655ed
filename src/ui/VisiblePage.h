#pragma once

#include <QApplication>
#include <QWidget>

namespace qis::ui {

// The page of this kind the wizard shows now, or null: the wizard has one
// visible page at a time.
template <typename Page>
Page* visiblePage()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<Page*>(w); p && p->isVisible())
            return p;
    return nullptr;
}

} // namespace qis::ui
