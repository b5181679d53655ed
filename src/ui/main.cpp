#include "ui/CBrellanApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    qis::ui::CBrellanApp app;
    if (!app.acquireInstanceLock())
        return 0;
    app.start();
    return QApplication::exec();
}
