#include "app/push_button.h"

#include <QFont>

namespace trp {

PushButton::PushButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setMouseTracking(true);
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(11.25);
    font.setBold(true);
    setFont(font);
}

void PushButton::mouseMoveEvent(QMouseEvent* event) {
    emit mouseOver();
    QPushButton::mouseMoveEvent(event);
}

void PushButton::enterEvent(QEnterEvent* event) {
    emit mouseOver();
    QPushButton::enterEvent(event);
}

}  // namespace trp
