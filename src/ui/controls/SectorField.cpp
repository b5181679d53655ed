#include "ui/controls/SectorField.h"

#include <QLineEdit>
#include <QRegularExpressionValidator>

#include <limits>

namespace qis::ui {

SectorField::SectorField(QWidget* parent) : QAbstractSpinBox(parent)
{
    // Whole numbers only; a minus sign is let through because the scan-mode
    // page's "ending sector below zero" means "no custom range".
    lineEdit()->setValidator(new QRegularExpressionValidator(QRegularExpression("-?[0-9]{0,19}"), this));
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
}

QString SectorField::text() const { return lineEdit()->text(); }

void SectorField::setText(const QString& text) { lineEdit()->setText(text); }

void SectorField::stepBy(int steps)
{
    bool ok = false;
    const qlonglong value = lineEdit()->text().toLongLong(&ok);
    if (!ok)
        return;
    if (steps < 0 && value + steps < 0)
        return; // a step down is refused at 0
    if (steps > 0 && value > std::numeric_limits<qlonglong>::max() - steps)
        return;
    lineEdit()->setText(QString::number(value + steps));
}

QAbstractSpinBox::StepEnabled SectorField::stepEnabled() const
{
    bool ok = false;
    const qlonglong value = lineEdit()->text().toLongLong(&ok);
    StepEnabled enabled = StepUpEnabled;
    if (ok && value > 0)
        enabled |= StepDownEnabled;
    return enabled;
}

} // namespace qis::ui
