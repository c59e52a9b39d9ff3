#include "ui/push_button.h"

#include <QMouseEvent>

#include "ui/screen_font.h"

namespace trp {

PushButton::PushButton(const QString& caption, QWidget* parent) : QPushButton(caption, parent) {
    setMouseTracking(true);
    setFont(ScreenFont(11.25));
}

void PushButton::mouseMoveEvent(QMouseEvent* event) {
    emit mouseOver();
    QPushButton::mouseMoveEvent(event);
    // The base class ignores moves without a pressed button, which would hand them on to the
    // screen underneath and let its reset handler take the hand pointer away again.
    event->accept();
}

void PushButton::enterEvent(QEnterEvent* event) {
    emit mouseOver();
    QPushButton::enterEvent(event);
}

}  // namespace trp
