#include "tools/EventLoopProbe.h"

#include "ui/CBrellanApp.h"
#include "ui/DriveParsingModes.h"
#include "ui/MessageSink.h"
#include "ui/ParceModeNtfsDlg.h"
#include "ui/PopulateDriveDlg.h"
#include "ui/VhdInputDialog.h"
#include "ui/VisiblePage.h"
#include "ui/VolumeScanDlg.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace qis::ui {
namespace {

// Message boxes would wait for a click; the probe answers them at once.
struct AnsweringSink : MessageSink {
    QMessageBox::StandardButton show(QWidget*, const QString&, QMessageBox::Icon,
                                     QMessageBox::StandardButtons buttons) override
    {
        return buttons & QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::Ok;
    }
};

struct Measure {
    double seconds = 0;
    double worstMs = 0;
};

// Runs the event loop from `begin` until it calls the function it is
// given, with a timer that should tick every 2 ms; the worst lateness of a
// tick is the longest time the loop could not run.
Measure measureUntil(const std::function<void(std::function<void()> done)>& begin)
{
    constexpr int kTickMs = 2;
    Measure m;
    QEventLoop loop;
    QElapsedTimer clock;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(kTickMs);
    qint64 last = 0;
    auto tick = [&] {
        const qint64 now = clock.nsecsElapsed();
        m.worstMs = std::max(m.worstMs, static_cast<double>(now - last) / 1e6 - kTickMs);
        last = now;
    };
    QObject::connect(&ticker, &QTimer::timeout, &loop, tick);
    clock.start();
    ticker.start();
    // Ending is posted, so that the work that called `done` is measured whole.
    QTimer::singleShot(0, &loop, [&] { begin([&] { QTimer::singleShot(0, &loop, [&] { loop.quit(); }); }); });
    loop.exec();
    tick();
    m.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    return m;
}

} // namespace

double probeEventLoop(const QString& image, int row, const QString& folder, bool gpt)
{
    AnsweringSink sink;
    MessageSink::setCurrent(&sink);
    double worst = -1;
    {
        CBrellanApp app;
        auto* first = static_cast<VhdInputDialog*>(app.start());
        first->openImage(image, detectImageFormat(image.toStdString()));
        first->nextButton()->click();
        auto* modes = visiblePage<DriveParsingModes>();
        if (modes) {
            modes->gptFormat->setChecked(gpt);
            modes->nextButton()->click();
        }
        auto* volumes = visiblePage<PopulateDriveDlg>();
        ParceModeNtfsDlg* mode = nullptr;
        if (volumes) {
            volumes->waitForScan();
            volumes->selectRow(row);
            volumes->nextButton()->click();
            mode = visiblePage<ParceModeNtfsDlg>();
        }
        VolumeScanDlg* scan = nullptr;
        if (mode) {
            // The page starts its scan as it opens: from Next to the tree.
            Measure scanning = measureUntil([&](std::function<void()> done) {
                mode->nextButton()->click();
                scan = visiblePage<VolumeScanDlg>();
                if (!scan)
                    return done();
                QObject::connect(scan, &VolumeScanDlg::jobEnded, scan, done);
                if (!scan->busy())
                    done();
            });
            std::printf("standard scan: %.2f s, worst event-loop delay %.1f ms\n", scanning.seconds, scanning.worstMs);
            worst = scanning.worstMs;
        }
        if (scan) {
            QTreeWidgetItem* item = scan->findItem(folder);
            if (item) {
                Measure listing = measureUntil([&](std::function<void()> done) {
                    QObject::connect(scan, &VolumeScanDlg::listingDone, scan, done);
                    emit scan->tree->itemClicked(item, 0);
                });
                std::printf("listing %s (%d files): %.2f s, worst event-loop delay %.1f ms\n",
                            folder.toLocal8Bit().constData(), scan->files->topLevelItemCount(), listing.seconds,
                            listing.worstMs);
                worst = std::max(worst, listing.worstMs);
            } else {
                std::printf("there is no folder %s on the volume\n", folder.toLocal8Bit().constData());
                worst = -1;
            }
        }
        if (scan && volumes && volumes->chosenVolume()) {
            // The advanced mode searches the whole volume before it reads it.
            VolumeScanDlg advanced(app, mode, *volumes->chosenVolume(), 2);
            advanced.show();
            Measure searching = measureUntil([&](std::function<void()> done) {
                QObject::connect(&advanced, &VolumeScanDlg::jobEnded, &advanced, done);
                advanced.runScan();
                if (!advanced.busy())
                    done();
            });
            if (advanced.rootItem()) {
                std::printf("advanced scan (whole-volume search): %.2f s, worst event-loop delay %.1f ms\n",
                            searching.seconds, searching.worstMs);
                worst = std::max(worst, searching.worstMs);
            }
        }
    }
    MessageSink::setCurrent(nullptr);
    return worst;
}

} // namespace qis::ui
