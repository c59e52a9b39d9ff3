#include "support/screen_checks.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>

namespace trp::test {
namespace {

int TextWidth(const QWidget& control, const QString& text) {
    return QFontMetrics(control.font()).horizontalAdvance(text);
}

// The width a button needs for its caption: the text and what the style puts around it.
int NeededWidth(const QAbstractButton& button, QStyle::ContentsType type) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    const QSize text(TextWidth(button, button.text()), button.fontMetrics().height());
    return button.style()->sizeFromContents(type, &option, text, &button).width();
}

bool CaptionFits(const QWidget& control) {
    if (const auto* label = qobject_cast<const QLabel*>(&control))
        return TextWidth(*label, label->text()) <= label->contentsRect().width();
    if (const auto* option = qobject_cast<const QRadioButton*>(&control))
        return NeededWidth(*option, QStyle::CT_RadioButton) <= option->width();
    if (const auto* button = qobject_cast<const QPushButton*>(&control))
        return NeededWidth(*button, QStyle::CT_PushButton) <= button->width();
    if (const auto* frame = qobject_cast<const QGroupBox*>(&control)) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.textAlignment = frame->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect caption = frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                             QStyle::SC_GroupBoxLabel, frame);
        return caption.left() >= 0 &&
               caption.left() + TextWidth(*frame, frame->title()) <= frame->width();
    }
    return true;
}

}  // namespace

bool ArialTwinInstalled() {
    return QFontDatabase::families().contains(QString::fromLatin1(kArialTwin));
}

std::vector<std::string> CutOffCaptions(const QWidget& screen) {
    std::vector<std::string> cut_off;
    for (const QWidget* control : screen.findChildren<QWidget*>()) {
        if (!control->objectName().isEmpty() && !CaptionFits(*control))
            cut_off.push_back(control->objectName().toStdString());
    }
    return cut_off;
}

std::vector<std::string> FocusAfterTabs(int presses) {
    std::vector<std::string> visited;
    for (int i = 0; i < presses; ++i) {
        QWidget* focus = QApplication::focusWidget();
        if (!focus) break;
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(focus, &tab);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(QApplication::focusWidget(), &release);
        const QWidget* now = QApplication::focusWidget();
        visited.push_back(now ? now->objectName().toStdString() : std::string());
    }
    return visited;
}

}  // namespace trp::test
