#include "ui/CBrellanApp.h"

#include "ui/MessageSink.h"
#include "ui/Product.h"
#include "ui/VhdInputDialog.h"

#include <QCoreApplication>
#include <QDir>

namespace qis::ui {

CBrellanApp::CBrellanApp()
{
    QCoreApplication::setOrganizationName("Quenmar");
    QCoreApplication::setApplicationName("QuenmarImageSalvageV3.02");
}

CBrellanApp::~CBrellanApp() { delete first_; }

bool CBrellanApp::acquireInstanceLock()
{
    lock_ = std::make_unique<QLockFile>(QDir::temp().filePath(QString::fromUtf8(kInstanceLockName) + ".lock"));
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0))
        return true;
    MessageSink::current().inform(nullptr, "Another instance of application is already running");
    return false;
}

WizardPage* CBrellanApp::start()
{
    isDriveFormatted = false;
    first_ = new VhdInputDialog(*this);
    first_->show();
    return first_;
}

void CBrellanApp::endProgram()
{
    ended = true;
    emit programEnded();
    QCoreApplication::quit();
}

} // namespace qis::ui
