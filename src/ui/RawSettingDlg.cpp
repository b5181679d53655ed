#include "ui/RawSettingDlg.h"

#include "recovery/carving/SignatureEditor.h"
#include "ui/MessageSink.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

namespace qis::ui {
namespace {

struct Field {
    const char* caption;
    bool digits;
    const char* help;
};

// Captions and help texts top to bottom; the check box sits between
// "Number Of Bytes In Size :" and "Header size :".
const Field kFields[] = {
    {"File Extention :", false,
     "Enter file extention .\n Example 'jpg','mp3','avi',..etc.\n Do not put a dot(.) before extention(i.e .mp3)"},
    {"Starting Signature :", false,
     "here enter the file signature that happens to be in the starting of the file.\n example 0x89,0x50,0x4E,0x47  "
     "for png File"},
    {"Starting Signature Offset:", true,
     "Here enter offset of starting signature in File.Value should be less than 512.By default its zero."},
    {"Ending Signature :", false,
     "here enter the file signature that happens to be in the end of the file.\n Example "
     "0x49,0x45,0x4E,0x44,0xAE,0x42,0x60,0x82 for png File.\n its optional Field .you can leave it if you dont know ."},
    {"Offset to Size Byte :", true,
     "if  the size of file is given in the header and you know its offset please enter that offset here.\n its "
     "optional Field .you can leave it if you don't know."},
    {"Number Of Bytes In Size :", true,
     "if  you know how many bytes represents size please enter that number of bytes  here.\n its optional Field .you "
     "can leave it ifyou  don't know."},
    {"Header size :", true,
     "please enter the header size in bytes here.\n its optional Field .you can leave it if you don't know."},
    {"Size_to_skip_WhileParsing :", true,
     "when we find the file signature you mentioned  above we can skip further file scanning by an amount you enter "
     "here.\n For example mp3 are generally greater then 2 mb .so you can enter 2097152 bytes here.\n its optional "
     "Field .you can leave it ."},
    {"Approx file size :", true, "Enter approx file size here.\n its optional Field .you can leave it if you don't know."},
    {"Put Under Category :", false, "Enter the name of category you want to put these files under"},
};

QToolButton* helpButton(const char* help, QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setText("?");
    b->setToolTip(QString::fromUtf8(help));
    return b;
}

} // namespace

RawSettingDlg::RawSettingDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Setting");
    auto* layout = new QVBoxLayout(this);
    auto* fieldsGroup = new QGroupBox("File Setting:", this);
    auto* grid = new QGridLayout(fieldsGroup);
    QLineEdit** edits[] = {&extension, &startSignature, &startOffset, &endSignature, &offsetToSize,
                           &bytesInSize, &headerSize, &skipSize, &approxSize, &category};
    int row = 0;
    for (std::size_t i = 0; i < std::size(kFields); ++i, ++row) {
        if (i == 6) {
            sizeIncludesHeader = new QCheckBox("Size includes header size", fieldsGroup);
            grid->addWidget(sizeIncludesHeader, row, 1);
            grid->addWidget(helpButton("check this checkbox if the size alkso includes the header size else leave "
                                       "it.\n its optional Field .you can leave it if you don't know.",
                                       fieldsGroup),
                            row, 2);
            ++row;
        }
        auto* edit = new QLineEdit(fieldsGroup);
        if (kFields[i].digits)
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
        *edits[i] = edit;
        grid->addWidget(new QLabel(kFields[i].caption, fieldsGroup), row, 0);
        grid->addWidget(edit, row, 1);
        grid->addWidget(helpButton(kFields[i].help, fieldsGroup), row, 2);
    }
    layout->addWidget(fieldsGroup);

    auto* pathGroup = new QGroupBox("Select Path to Save Entries", this);
    auto* pathRow = new QHBoxLayout(pathGroup);
    path = new QLineEdit(pathGroup);
    path->setReadOnly(true);
    auto* browse = new QPushButton("...", pathGroup);
    save = new QPushButton("Save", pathGroup);
    pathRow->addWidget(path, 1);
    pathRow->addWidget(browse);
    pathRow->addWidget(save);
    layout->addWidget(pathGroup);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    for (QPushButton* b : {browse, save})
        b->setAutoDefault(false);

    connect(browse, &QPushButton::clicked, this, [this] {
        chooseOutputFile(QFileDialog::getSaveFileName(this, QString(), QString(), "Text Files (*.txt)"));
    });
    connect(save, &QPushButton::clicked, this, [this] { saveEntry(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void RawSettingDlg::chooseOutputFile(const QString& file)
{
    QFile out(file);
    if (file.isEmpty() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        chosen_.clear();
        path->clear();
        MessageSink::current().inform(this, "File can not be created");
        return;
    }
    chosen_ = file;
    path->setText(file);
}

void RawSettingDlg::saveEntry()
{
    if (chosen_.isEmpty()) {
        MessageSink::current().inform(this, "Select valid file to save the entries.");
        return;
    }
    SignatureFields f;
    f.extension = extension->text().toStdString();
    f.startSignature = startSignature->text().toStdString();
    f.startOffset = startOffset->text().toStdString();
    f.endSignature = endSignature->text().toStdString();
    f.offsetToSize = offsetToSize->text().toStdString();
    f.bytesInSize = bytesInSize->text().toStdString();
    f.sizeIncludesHeader = sizeIncludesHeader->isChecked();
    f.headerSize = headerSize->text().toStdString();
    f.skipSize = skipSize->text().toStdString();
    f.approxSize = approxSize->text().toStdString();
    f.category = category->text().toStdString();
    MessageSink::current().inform(this, QString::fromStdString(appendSignatureRecord(chosen_.toStdString(), f)));
}

} // namespace qis::ui
