#include "app/message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace trp {
namespace {

MessageBox::Recorder& CurrentRecorder() {
    static MessageBox::Recorder recorder;
    return recorder;
}

QString& Title() {
    static QString title;
    return title;
}

}  // namespace

void MessageBox::Show(const QString& text, Icon icon, const QString& title) {
    const Shown shown{text, title.isEmpty() ? AppTitle() : title, icon};
    if (CurrentRecorder()) {
        CurrentRecorder()(shown);
        return;
    }
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, shown.title,
                    shown.text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void MessageBox::SetRecorder(Recorder recorder) { CurrentRecorder() = std::move(recorder); }

QString AppTitle() { return Title(); }
void SetAppTitleText(const QString& title) { Title() = title; }

}  // namespace trp
