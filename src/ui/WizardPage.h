#pragma once

#include <QDialog>
#include <QPointer>

#include <vector>

namespace qis {
class JobRunner;
}

class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace qis::ui {

class CBrellanApp;

// What every page of the wizard shares: the product title as caption, the
// header picture, the Help menu, Back and Next, Enter and Escape ignored,
// and the question before the window closes.
class WizardPage : public QDialog {
    Q_OBJECT
public:
    WizardPage(CBrellanApp& app, WizardPage* owner);
    // The pages opened from this one go with it.
    ~WizardPage() override;

    [[nodiscard]] QPushButton* backButton() const { return back_; }
    [[nodiscard]] QPushButton* nextButton() const { return next_; }
    [[nodiscard]] QToolButton* helpButton() const { return help_; }
    [[nodiscard]] WizardPage* ownerPage() const { return owner_; }

    // Shows `next` in this page's place (this page stays, hidden).
    void goForward(WizardPage* next);
    // Shows the page before this one again and closes this one for good.
    void goBack();

    // Waits for a job of a page to end, carrying out its reports (they
    // come to the page's thread) meanwhile.
    static void waitForJob(JobRunner* runner);

protected:
    // The page's own controls go here, above the button row.
    QVBoxLayout* body() const { return body_; }
    virtual void onBack() { goBack(); }
    virtual void onNext() {}
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override {}

    CBrellanApp& app_;

private:
    WizardPage* owner_;
    QVBoxLayout* body_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QToolButton* help_ = nullptr;
    bool leaving_ = false;
    std::vector<QPointer<WizardPage>> opened_;
};

} // namespace qis::ui
