#pragma once

#include <QCursor>
#include <QObject>
#include <optional>

class QWidget;

namespace trp {

class PushButton;

// The mouse pointer of one screen: 0 default, 11 busy, 99 the screen's custom image (the hand).
// The hover rule: moving onto a push button shows the hand, moving onto the screen's surface and
// its other watched elements shows the default pointer, and neither ever replaces the busy one.
class PointerState : public QObject {
    Q_OBJECT
public:
    enum : int { kDefault = 0, kBusy = 11, kCustom = 99 };

    explicit PointerState(QWidget& screen);

    int value() const { return value_; }
    void Set(int value);
    void SetCustomImage(const QCursor& cursor);
    bool HasCustomImage() const { return custom_.has_value(); }

    // Hover handlers: a push button's mouse-over, and a mouse move over a resetting element.
    void PushButtonHover();
    void ResetHover();

    // Wires the hover handlers to widgets.
    void WatchPushButton(PushButton* button);
    void WatchResetElement(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& screen_;
    int value_ = kDefault;
    std::optional<QCursor> custom_;
};

}  // namespace trp
