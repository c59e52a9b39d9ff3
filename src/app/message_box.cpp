#include "app/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

namespace trp {
namespace {

MessageBox::Recorder& CurrentRecorder() {
    static MessageBox::Recorder recorder;
    return recorder;
}

MessageBox::Choice& NextChoice() {
    static MessageBox::Choice choice = MessageBox::Choice::Ok;
    return choice;
}

QString& Title() {
    static QString title;
    return title;
}

QMessageBox::Icon BoxIcon(MessageBox::Icon icon) {
    return icon == MessageBox::Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon;
}

// A box stands over its screen; over the active window when that screen is hidden.
QWidget* Owner(QWidget* parent) {
    return parent && parent->isVisible() ? parent : QApplication::activeWindow();
}

}  // namespace

void MessageBox::Show(const QString& text, Icon icon, const QString& title, QWidget* parent) {
    const Shown shown{text, title.isEmpty() ? AppTitle() : title, icon, false};
    if (CurrentRecorder()) {
        CurrentRecorder()(shown);
        return;
    }
    QMessageBox box(BoxIcon(icon), shown.title, shown.text, QMessageBox::Ok, Owner(parent));
    box.exec();
}

MessageBox::Choice MessageBox::ShowOfferingStop(const QString& text, Icon icon,
                                                const QString& title, QWidget* parent) {
    const Shown shown{text, title.isEmpty() ? AppTitle() : title, icon, true};
    if (CurrentRecorder()) {
        CurrentRecorder()(shown);
        return std::exchange(NextChoice(), Choice::Ok);
    }
    QMessageBox box(BoxIcon(icon), shown.title, shown.text, QMessageBox::NoButton, Owner(parent));
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    QPushButton* stop = box.addButton(QStringLiteral("Stop Appending"), QMessageBox::ActionRole);
    stop->setObjectName(QStringLiteral("StopAppending"));
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return box.clickedButton() == stop ? Choice::StopAppending : Choice::Ok;
}

void MessageBox::SetRecorder(Recorder recorder) {
    CurrentRecorder() = std::move(recorder);
}
void MessageBox::SetNextChoice(Choice choice) {
    NextChoice() = choice;
}

QString AppTitle() {
    return Title();
}
void SetAppTitleText(const QString& title) {
    Title() = title;
}

}  // namespace trp
