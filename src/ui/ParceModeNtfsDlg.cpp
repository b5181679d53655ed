#include "ui/ParceModeNtfsDlg.h"

#include "ui/CBrellanApp.h"
#include "ui/MessageSink.h"
#include "ui/VolumeScanDlg.h"
#include "ui/advanceOptions.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

namespace qis::ui {

ParceModeNtfsDlg::ParceModeNtfsDlg(CBrellanApp& app, WizardPage* owner, const VolumeRecord& volume)
    : WizardPage(app, owner), volume_(volume)
{
    auto* grid = new QGridLayout;
    standard = new QRadioButton("Standard", this);
    advanced = new QRadioButton("Advanced", this);
    deep = new QRadioButton("Deep", this);
    maxLabel = new QLabel("Please Enter Max File Systems to Find :", this);
    maxHint = new QLabel("( By  Default  it's  = 3 )", this);
    maxEdit = new QLineEdit("3", this);
    formatted = new QCheckBox("Is Drive Formated..?", this);
    grid->addWidget(standard, 0, 0);
    grid->addWidget(advanced, 1, 0);
    grid->addWidget(deep, 2, 0);
    grid->addWidget(maxLabel, 3, 0);
    grid->addWidget(maxEdit, 3, 1);
    grid->addWidget(maxHint, 4, 0);
    grid->addWidget(formatted, 5, 0);
    body()->addLayout(grid);
    body()->addStretch(1);

    QString fs = QString::fromStdString(volume.fileSystem).trimmed();
    kind_ = fs.left(3).toLower();
    // Each file system offers the modes its parser has.
    if (kind_ == "fat" || kind_ == "exf")
        deep->hide();
    if (kind_ == "ext") {
        deep->hide();
        advanced->hide();
    }
    if (kind_ == "hfs")
        advanced->hide();
    connect(standard, &QRadioButton::clicked, this, [this] { choose(1); });
    connect(advanced, &QRadioButton::clicked, this, [this] { choose(2); });
    connect(deep, &QRadioButton::clicked, this, [this] { choose(3); });
    connect(formatted, &QCheckBox::toggled, this, [this](bool on) { app_.isDriveFormatted = on; });
    choose(1);
}

void ParceModeNtfsDlg::choose(int mode)
{
    mode_ = mode;
    standard->setChecked(mode == 1);
    advanced->setChecked(mode == 2);
    deep->setChecked(mode == 3);
    app_.isDriveFormatted = false;
    formatted->setChecked(false);
    const bool more = mode == 2;
    for (QWidget* w : std::initializer_list<QWidget*>{maxLabel, maxHint, maxEdit})
        w->setVisible(more);
    formatted->setVisible(more && kind_ == "fat");
}

int ParceModeNtfsDlg::maxFileSystems() const
{
    const int n = maxEdit->text().toInt();
    return n < 1 ? 3 : n;
}

void ParceModeNtfsDlg::onNext()
{
    if (mode_ == 0)
        return;
    if (mode_ == 2) {
        auto* next = new advanceOptions(app_, this, volume_, maxFileSystems());
        goForward(next);
        next->runSearch();
        return;
    }
    auto* next = new VolumeScanDlg(app_, this, volume_, mode_);
    goForward(next);
    next->runScan();
}

} // namespace qis::ui
