#include "ui/form_colors.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>

namespace trp {
namespace {

void PaintBackground(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, colour);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

bool TakesScreenColour(const QWidget* widget) {
    return qobject_cast<const QRadioButton*>(widget) || qobject_cast<const QCheckBox*>(widget) ||
           qobject_cast<const QGroupBox*>(widget) || qobject_cast<const QLabel*>(widget);
}

}  // namespace

void SetFormColors(QWidget& screen) {
    // The system's button-face colour, following the desktop's colour scheme.
    const QColor face = QApplication::palette().color(QPalette::Active, QPalette::Button);
    PaintBackground(screen, face);
    for (QWidget* control : screen.findChildren<QWidget*>()) {
        if (TakesScreenColour(control)) PaintBackground(*control, face);
    }
}

}  // namespace trp
