#include "tools/EventLoopProbe.h"
#include "tools/Screenshots.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>

// Tools for the wizard's developers, built apart from the product:
//   qsalvage-gui-tools --screenshots DIR IMAGE     a picture of every page
//   qsalvage-gui-tools --event-loop-delay IMAGE ROW FOLDER [--gpt]
//       how long the pages keep their event loop waiting while they scan
//       and list (bench/gui.sh)
int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() >= 4 && args[1] == "--screenshots") {
        const int written = qis::ui::renderScreenshots(args[2], args[3]);
        std::printf("%d pictures written to %s\n", written, args[2].toLocal8Bit().constData());
        return written > 0 ? 0 : 1;
    }
    if (args.size() >= 5 && args[1] == "--event-loop-delay") {
        const double worst = qis::ui::probeEventLoop(args[2], args[3].toInt(), args[4], args.contains("--gpt"));
        return worst < 0 ? 1 : 0;
    }
    std::fprintf(stderr, "usage: qsalvage-gui-tools --screenshots DIR IMAGE\n"
                         "       qsalvage-gui-tools --event-loop-delay IMAGE ROW FOLDER [--gpt]\n");
    return 2;
}
