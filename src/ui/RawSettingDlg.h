#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace qis::ui {

// The signature editor: the fields of one file type, appended as a record
// to the settings file chosen with "...".
class RawSettingDlg : public QDialog {
    Q_OBJECT
public:
    explicit RawSettingDlg(QWidget* parent = nullptr);

    // "...": the file the records go to, made empty (the file dialog asked
    // before an existing one is replaced). An empty path: nothing chosen.
    void chooseOutputFile(const QString& path);
    // Save: one record from the fields, with its message.
    void saveEntry();

    QLineEdit* extension = nullptr;
    QLineEdit* startSignature = nullptr;
    QLineEdit* startOffset = nullptr;
    QLineEdit* endSignature = nullptr;
    QLineEdit* offsetToSize = nullptr;
    QLineEdit* bytesInSize = nullptr;
    QCheckBox* sizeIncludesHeader = nullptr;
    QLineEdit* headerSize = nullptr;
    QLineEdit* skipSize = nullptr;
    QLineEdit* approxSize = nullptr;
    QLineEdit* category = nullptr;
    QLineEdit* path = nullptr;
    QPushButton* save = nullptr;

private:
    QString chosen_;
};

} // namespace qis::ui
