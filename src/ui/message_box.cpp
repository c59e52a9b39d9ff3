#include "ui/message_box.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <initializer_list>
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

MessageBox::UrlOpener& Opener() {
    static MessageBox::UrlOpener opener;
    return opener;
}

// The recorded answer of a box that offers `offered` besides "OK".
MessageBox::Choice TakeNextChoice(std::initializer_list<MessageBox::Choice> offered) {
    const MessageBox::Choice choice = std::exchange(NextChoice(), MessageBox::Choice::Ok);
    for (const MessageBox::Choice one : offered)
        if (one == choice) return choice;
    return MessageBox::Choice::Ok;
}

void OpenFolder(const QString& folder) {
    const QUrl url = QUrl::fromLocalFile(folder);
    if (Opener())
        Opener()(url);
    else
        QDesktopServices::openUrl(url);
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

// The text as the box's label shows it. Messages break their lines with CR LF, and the error
// report puts two bare CRs before its closing request, meant as a blank line. Qt's label draws a
// bare CR as a line break under some styles (Fusion) but as a space under others (Windows), so
// for the label alone every line break becomes a LF; the message itself keeps its characters.
QString Displayed(const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(u'\r', u'\n');
    return lines;
}

}  // namespace

void MessageBox::Show(const QString& text, Icon icon, const QString& title, QWidget* parent) {
    const Shown shown{text, title.isEmpty() ? AppTitle() : title, icon, false, {}, {"OK"}};
    if (CurrentRecorder()) {
        CurrentRecorder()(shown);
        return;
    }
    QMessageBox box(BoxIcon(icon), shown.title, Displayed(shown.text), QMessageBox::Ok,
                    Owner(parent));
    box.exec();
}

MessageBox::Choice MessageBox::ShowOfferingStop(const QString& text, Icon icon,
                                                const QString& title, QWidget* parent) {
    const Shown shown{text, title.isEmpty() ? AppTitle() : title,  icon, true,
                      {},   {"OK", "Stop Appending", "Ignore All"}};
    if (CurrentRecorder()) {
        CurrentRecorder()(shown);
        return TakeNextChoice({Choice::StopAppending, Choice::IgnoreAll});
    }
    QMessageBox box(BoxIcon(icon), shown.title, Displayed(shown.text), QMessageBox::NoButton,
                    Owner(parent));
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    QPushButton* stop = box.addButton(QStringLiteral("Stop Appending"), QMessageBox::ActionRole);
    stop->setObjectName(QStringLiteral("StopAppending"));
    QPushButton* ignore = box.addButton(QStringLiteral("Ignore All"), QMessageBox::ActionRole);
    ignore->setObjectName(QStringLiteral("IgnoreAll"));
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    if (box.clickedButton() == stop) return Choice::StopAppending;
    if (box.clickedButton() == ignore) return Choice::IgnoreAll;
    return Choice::Ok;
}

MessageBox::Choice MessageBox::ShowWithRefusedRows(const QString& text, const QString& informative,
                                                   const QString& folder, QWidget* parent) {
    const Shown shown{text,  AppTitle(),  Icon::None,
                      false, informative, {"OK", "Show Refused Rows"}};
    Choice choice = Choice::Ok;
    if (CurrentRecorder()) {
        CurrentRecorder()(shown);
        choice = TakeNextChoice({Choice::ShowRefusedRows});
    } else {
        QMessageBox box(QMessageBox::NoIcon, shown.title, Displayed(shown.text),
                        QMessageBox::NoButton, Owner(parent));
        box.setInformativeText(Displayed(informative));
        QPushButton* ok = box.addButton(QMessageBox::Ok);
        QPushButton* show =
            box.addButton(QStringLiteral("Show Refused Rows"), QMessageBox::ActionRole);
        show->setObjectName(QStringLiteral("ShowRefusedRows"));
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
        if (box.clickedButton() == show) choice = Choice::ShowRefusedRows;
    }
    // The box is closed first, so the file manager's window is not hidden behind it.
    if (choice == Choice::ShowRefusedRows) OpenFolder(folder);
    return choice;
}

void MessageBox::SetRecorder(Recorder recorder) {
    CurrentRecorder() = std::move(recorder);
}
void MessageBox::SetNextChoice(Choice choice) {
    NextChoice() = choice;
}
void MessageBox::SetUrlOpener(UrlOpener opener) {
    Opener() = std::move(opener);
}

QString AppTitle() {
    return Title();
}
void SetAppTitleText(const QString& title) {
    Title() = title;
}

}  // namespace trp
