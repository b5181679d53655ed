#pragma once

#include "images/WizardState.h"

#include <QLockFile>
#include <QObject>
#include <memory>

namespace qis::ui {

class WizardPage;

// The wizard's application: the one-copy-at-a-time rule, the state the
// pages share, and the first page.
class CBrellanApp : public QObject {
    Q_OBJECT
public:
    CBrellanApp();
    ~CBrellanApp() override;

    // False, with "Another instance of application is already running"
    // shown, when another copy holds the lock.
    bool acquireInstanceLock();
    // Shows the image selection page; the program ends when it is closed
    // through the close question.
    WizardPage* start();
    // Ends the program at once (the close question's Yes).
    void endProgram();

    WizardState state;
    int imageType = 0;    // 1 VHDX, 2 VDI, 3 VMDK, 4 VHD, 5 raw: the open command last used
    int sourcePageId = 0; // 142 once the image page chose a file
    bool isDriveFormatted = false;
    bool ended = false;

signals:
    void programEnded();

private:
    std::unique_ptr<QLockFile> lock_;
    WizardPage* first_ = nullptr;
};

} // namespace qis::ui
