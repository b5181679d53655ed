#pragma once

#include "images/ImageFormat.h"
#include "ui/WizardPage.h"

class QGroupBox;
class QLabel;
class QLineEdit;

namespace qis::ui {

// The first page: the image file and what its headers say.
class VhdInputDialog : public WizardPage {
    Q_OBJECT
public:
    explicit VhdInputDialog(CBrellanApp& app);

    // The open commands after their file dialog: reads the image's
    // information and shows it; false (the message shown) when the file is
    // not an image of that kind.
    bool openImage(const QString& path, ImageFormat format);

    [[nodiscard]] QString imagePath() const;
    [[nodiscard]] QGroupBox* informationBox() const { return information_; }
    [[nodiscard]] QString shownValue(const char* caption) const;

protected:
    void onNext() override;

private:
    void browse(ImageFormat format);
    QLineEdit* path_ = nullptr;
    QGroupBox* information_ = nullptr;
    std::vector<std::pair<QLabel*, QLabel*>> rows_;
};

} // namespace qis::ui
