#pragma once

#include "ui/WizardPage.h"
#include "volumes/VolumeRecord.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace qis::ui {

// How the chosen volume is to be read: Standard, Advanced or Deep, as far
// as its file system has them.
class ParceModeNtfsDlg : public WizardPage {
    Q_OBJECT
public:
    ParceModeNtfsDlg(CBrellanApp& app, WizardPage* owner, const VolumeRecord& volume);

    [[nodiscard]] int mode() const { return mode_; }
    [[nodiscard]] int maxFileSystems() const;

    QRadioButton* standard = nullptr;
    QRadioButton* advanced = nullptr;
    QRadioButton* deep = nullptr;
    QLabel* maxLabel = nullptr;
    QLabel* maxHint = nullptr;
    QLineEdit* maxEdit = nullptr;
    QCheckBox* formatted = nullptr;

protected:
    void onNext() override;

private:
    void choose(int mode);
    VolumeRecord volume_;
    QString kind_; // the first three letters of the file system, lower case
    int mode_ = 0;
};

} // namespace qis::ui
