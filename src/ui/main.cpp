#include "ui/CBrellanApp.h"
#include "ui/Screenshots.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    // qsalvage-gui --screenshots DIR IMAGE: a picture of every page.
    if (args.size() >= 4 && args[1] == "--screenshots") {
        const int written = qis::ui::renderScreenshots(args[2], args[3]);
        std::printf("%d pictures written to %s\n", written, args[2].toLocal8Bit().constData());
        return written > 0 ? 0 : 1;
    }
    qis::ui::CBrellanApp app;
    if (!app.acquireInstanceLock())
        return 0;
    app.start();
    return QApplication::exec();
}
