#pragma once

#include <QAbstractSpinBox>

namespace qis::ui {

// A sector number with spin buttons: each step changes it by one, and a
// step down stops at 0. Sector numbers need 64 bits, more than QSpinBox holds.
class SectorField : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit SectorField(QWidget* parent = nullptr);

    [[nodiscard]] QString text() const;
    void setText(const QString& text);
    void stepBy(int steps) override;

protected:
    [[nodiscard]] StepEnabled stepEnabled() const override;
};

} // namespace qis::ui
