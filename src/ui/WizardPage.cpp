#include "ui/WizardPage.h"

#include "jobs/JobRunner.h"
#include "ui/CBrellanApp.h"
#include "ui/MessageSink.h"
#include "ui/Product.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace qis::ui {

WizardPage::WizardPage(CBrellanApp& app, WizardPage* owner) : QDialog(nullptr), app_(app), owner_(owner)
{
    setWindowTitle(QString::fromUtf8(kProductTitle));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setMinimumSize(640, 480);
    auto* outer = new QVBoxLayout(this);
    auto* header = new QLabel(QString::fromUtf8(kProductTitle), this);
    header->setObjectName("header");
    header->setStyleSheet("QLabel#header { font-size: 18pt; font-weight: bold; padding: 8px; "
                          "background: #1f3b5a; color: white; }");
    outer->addWidget(header);
    body_ = new QVBoxLayout;
    outer->addLayout(body_, 1);

    auto* buttons = new QHBoxLayout;
    help_ = new QToolButton(this);
    help_->setText("Help");
    help_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(help_);
    menu->addAction("Help", this, [] { QDesktopServices::openUrl(QUrl(QString::fromUtf8(kManualUrl))); });
    menu->addAction("Software Homepage", this, [] { QDesktopServices::openUrl(QUrl(QString::fromUtf8(kHomepageUrl))); });
    menu->addAction("About", this, [this] {
        MessageSink::current().inform(
            this, QString("%1\n%2\nSupport: %3\nSales: %4")
                      .arg(kProductTitle, kHomepageUrl, kSupportMail, kSalesMail));
    });
    help_->setMenu(menu);
    back_ = new QPushButton("Back", this);
    next_ = new QPushButton("Next", this);
    for (QPushButton* b : {back_, next_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    buttons->addWidget(help_);
    buttons->addStretch(1);
    buttons->addWidget(back_);
    buttons->addWidget(next_);
    outer->addLayout(buttons);
    connect(back_, &QPushButton::clicked, this, [this] { onBack(); });
    connect(next_, &QPushButton::clicked, this, [this] { onNext(); });
}

WizardPage::~WizardPage()
{
    for (const QPointer<WizardPage>& page : opened_)
        delete page.data();
}

void WizardPage::waitForJob(JobRunner* runner)
{
    while (runner && runner->running())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (runner)
        runner->join();
    QCoreApplication::processEvents();
}

void WizardPage::goForward(WizardPage* next)
{
    opened_.emplace_back(next);
    next->show();
    hide();
}

void WizardPage::goBack()
{
    if (owner_)
        owner_->show();
    leaving_ = true;
    hide();
    deleteLater();
}

void WizardPage::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape neither press a button nor close the page.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void WizardPage::closeEvent(QCloseEvent* event)
{
    if (leaving_) {
        event->accept();
        return;
    }
    event->ignore();
    if (MessageSink::current().askYesNo(this, "Do you want to Close Application ?"))
        app_.endProgram();
}

} // namespace qis::ui
