#include "ui/VhdInputDialog.h"

#include "images/ImageInformation.h"
#include "ui/CBrellanApp.h"
#include "ui/DriveParsingModes.h"
#include "ui/MessageSink.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace qis::ui {
namespace {

constexpr const char* kCaptions[] = {"File Format Version:", "Size of HDD:", "Sector Per Track:", "Head:", "Cylinder:"};

struct OpenCommand {
    ImageFormat format;
    const char* label;
    const char* filter;
    int imageType;
};
constexpr OpenCommand kCommands[] = {
    {ImageFormat::Vhdx, "...", ".VHDX Files (*.vhdx)", 1},
    {ImageFormat::Vhd, "VHD...", "VHD Files (*.vhd);;All Files (*)", 4},
    {ImageFormat::Vdi, "VDI...", "VDI Files (*.vdi);;All Files (*)", 2},
    {ImageFormat::Vmdk, "VMDK...", "VMDK Files (*.vmdk);;All Files (*)", 3},
    {ImageFormat::Raw, "Raw...", "Raw Disk Images (*.img *.raw *.dd *.bin);;All Files (*)", 5},
};

} // namespace

VhdInputDialog::VhdInputDialog(CBrellanApp& app) : WizardPage(app, nullptr)
{
    auto* pathRow = new QHBoxLayout;
    path_ = new QLineEdit(this);
    path_->setEnabled(false); // filled by the open commands only
    pathRow->addWidget(new QLabel("Image file:", this));
    pathRow->addWidget(path_, 1);
    for (const OpenCommand& c : kCommands) {
        auto* b = new QPushButton(c.label, this);
        b->setObjectName(QString("open-%1").arg(c.imageType));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, format = c.format] { browse(format); });
        pathRow->addWidget(b);
    }
    body()->addLayout(pathRow);
    information_ = new QGroupBox("File Information:", this);
    auto* form = new QFormLayout(information_);
    for (const char* caption : kCaptions) {
        auto* label = new QLabel(caption, information_);
        auto* value = new QLabel(information_);
        value->setObjectName(caption);
        form->addRow(label, value);
        rows_.emplace_back(label, value);
    }
    body()->addWidget(information_);
    body()->addStretch(1);
    information_->hide(); // shown once a file's information was read
    backButton()->setEnabled(false);
}

QString VhdInputDialog::imagePath() const { return path_->text(); }

QString VhdInputDialog::shownValue(const char* caption) const
{
    for (const auto& [label, value] : rows_)
        if (label->text() == caption)
            return value->text();
    return {};
}

void VhdInputDialog::browse(ImageFormat format)
{
    const OpenCommand* command = nullptr;
    for (const OpenCommand& c : kCommands)
        if (c.format == format)
            command = &c;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QString path = QFileDialog::getOpenFileName(this, "Open", QString(), command->filter);
    QApplication::restoreOverrideCursor();
    if (!path.isEmpty())
        openImage(path, format);
}

bool VhdInputDialog::openImage(const QString& path, ImageFormat format)
{
    for (const OpenCommand& c : kCommands)
        if (c.format == format)
            app_.imageType = c.imageType;
    if (path.isEmpty())
        return false;
    app_.sourcePageId = 142;
    ImageInformation info = readImageInformation(path.toStdString(), format);
    for (const std::string& m : info.messages)
        MessageSink::current().inform(this, QString::fromStdString(m));
    if (!info.ok)
        return false;
    const std::string* values[] = {&info.fileFormatVersion, &info.sizeOfHdd, &info.sectorPerTrack, &info.head,
                                   &info.cylinder};
    for (std::size_t i = 0; i < rows_.size(); ++i)
        rows_[i].second->setText(QString::fromStdString(*values[i]));
    path_->setText(path);
    app_.state.imagePath = path.toStdString();
    app_.state.imageFormat = format;
    app_.state.diskSectorCount = info.diskSectorCount;
    app_.state.closeReader();
    information_->show();
    return true;
}

void VhdInputDialog::onNext()
{
    if (path_->text().isEmpty() || !QFileInfo::exists(path_->text())) {
        MessageSink::current().inform(this, "Please select valid path to continue the recovery process.");
        return;
    }
    goForward(new DriveParsingModes(app_, this, path_->text()));
}

} // namespace qis::ui
