#include "app/push_button.h"

#include <QFont>
#include <QMouseEvent>

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
    // The move belongs to the button: passed on, the frame or screen behind it would take it as
    // a move over itself and put the default pointer back at once.
    event->accept();
}

void PushButton::enterEvent(QEnterEvent* event) {
    emit mouseOver();
    QPushButton::enterEvent(event);
}

}  // namespace trp
