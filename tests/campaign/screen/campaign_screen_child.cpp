// The program as a user drives it through its screens, for the fault campaign: it starts with
// the saved profiles (the table selection screen comes up filled), picks the source table in
// List1 and the destination table in List2, appends to database #2, presses "Start Appending",
// and ends once the run has. What the boxes say goes where the `append` command puts it: reports
// on standard error, the last message (and its note of refused rows) on standard output.
//
// Arguments: <settings file> <table of database #1> <table of database #2> <answer> <writers>,
// where the answer to the first refused row's report is "ok" (every report answered "OK", as the
// command does), "stop" ("Stop Appending") or "hold:SECONDS" (the box stays open that long, then
// "OK"), and the writers are the run's destination sessions.
// Exit status: the window's (0) once a run began; 3 when the table selection screen never came
// up, 4 when a named table is not in its list.
#include <QApplication>
#include <QEventLoop>
#include <QRadioButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/screens.h"
#include "append/append_operation.h"
#include "settings/profile_store.h"
#include "support/command_run.h"
#include "support/controls.h"
#include "ui/form2.h"
#include "ui/message_box.h"
#include "ui/push_button.h"

namespace {

void Print(std::FILE* stream, const QString& text) {
    std::fputs((text + u'\n').toUtf8().constData(), stream);
    std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 6) return 2;
    const QString answer = QString::fromLatin1(argv[4]);
    trp::DefaultAppendOptions().writers = std::atoi(argv[5]);
    const int hold_seconds = answer.startsWith(QStringLiteral("hold:")) ? answer.mid(5).toInt() : 0;
    bool first_row_report = true;
    trp::MessageBox::SetRecorder([&](const trp::MessageBox::Shown& shown) {
        if (shown.icon != trp::MessageBox::Icon::Warning) {
            Print(stdout, trp::test::AsPrinted(shown.text));
            if (!shown.informative.isEmpty())
                Print(stdout, trp::test::AsPrinted(shown.informative));
            return;
        }
        Print(stderr, trp::test::AsPrinted(shown.text));
        if (!shown.offers_stop || !first_row_report) return;
        first_row_report = false;
        if (answer == QStringLiteral("stop"))
            trp::MessageBox::SetNextChoice(trp::MessageBox::Choice::StopAppending);
        if (hold_seconds > 0) {
            // As a modal box does, the screen goes on processing events while it is open.
            QEventLoop open;
            QTimer::singleShot(hold_seconds * 1000, &open, &QEventLoop::quit);
            open.exec();
        }
    });

    trp::ProfileStore store(QString::fromLocal8Bit(argv[1]));
    trp::Screens screens(store);
    screens.Start();
    trp::Form2* form2 = screens.ExistingTableSelectionScreen();
    if (!form2) return 3;
    if (!trp::test::SelectItem(*form2, "List1", argv[2]) ||
        !trp::test::SelectItem(*form2, "List2", argv[3]))
        return 4;
    form2->findChild<QRadioButton*>(QStringLiteral("Option2"))->setChecked(true);
    QTimer::singleShot(0, form2, [form2] {
        form2->findChild<trp::PushButton*>(QStringLiteral("PushButton2"))->click();
        QApplication::quit();
    });
    return QApplication::exec();
}
