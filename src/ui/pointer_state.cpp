#include "ui/pointer_state.h"

#include <QEvent>
#include <QWidget>

#include "ui/push_button.h"

namespace trp {

PointerState::PointerState(QWidget& screen) : QObject(&screen), screen_(screen) {}

void PointerState::Set(int value) {
    value_ = value;
    if (value == kBusy) {
        screen_.setCursor(Qt::WaitCursor);
    } else if (value == kCustom && custom_) {
        screen_.setCursor(*custom_);
    } else {
        // Custom without an image shows the default pointer.
        screen_.unsetCursor();
    }
}

void PointerState::SetCustomImage(const QCursor& cursor) {
    custom_ = cursor;
    if (value_ == kCustom) Set(kCustom);
}

void PointerState::PushButtonHover() {
    if (value_ != kBusy) Set(kCustom);
}

void PointerState::ResetHover() {
    if (value_ != kBusy) Set(kDefault);
}

void PointerState::WatchPushButton(PushButton* button) {
    connect(button, &PushButton::mouseOver, this, &PointerState::PushButtonHover);
}

void PointerState::WatchResetElement(QWidget* widget) {
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
}

bool PointerState::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) ResetHover();
    return QObject::eventFilter(watched, event);
}

}  // namespace trp
