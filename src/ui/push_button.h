#pragma once

#include <QPushButton>

namespace trp {

// The push button of both screens: a caption, a click notification, and a mouse-over
// notification raised while the mouse moves over the button.
class PushButton : public QPushButton {
    Q_OBJECT
public:
    explicit PushButton(const QString& caption, QWidget* parent = nullptr);

signals:
    void mouseOver();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
};

}  // namespace trp
