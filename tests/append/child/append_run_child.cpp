// A stand-in for the program, for the tests of termination signals: it starts as the program
// does (the saved profiles connect, so the table selection screen comes up filled), picks the
// two tables given, presses "Start Appending", and reports on its standard output:
//   bar <percent>   each time the bar moves
//   box <text>      each message box it is asked to show
//   ended           when the program's event loop has ended
// Arguments: <settings file> <table of database #1> <table of database #2> [active|inactive].
// With the fourth, the program ends after the run, during which the screen is the active window
// (active) or another window of the program's own is (inactive).
#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <cstdio>

#include "app/screens.h"
#include "app/startup_signals.h"
#include "settings/profile_store.h"
#include "support/controls.h"
#include "ui/form2.h"
#include "ui/message_box.h"
#include "ui/progress_bar.h"
#include "ui/push_button.h"

namespace {

void Say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Makes `window` the active one, as far as the platform lets it.
bool Activate(QWidget& window) {
    window.show();
    window.activateWindow();
    const QDeadlineTimer deadline(10000);
    while (QApplication::activeWindow() != &window && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    return QApplication::activeWindow() == &window;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4 && argc != 5) return 2;
    const QString window = argc == 5 ? QString::fromLatin1(argv[4]) : QString();
    trp::QuitOnTerminationSignals();
    trp::MessageBox::SetRecorder(
        [](const trp::MessageBox::Shown& shown) { Say("box " + shown.text.simplified()); });

    trp::ProfileStore store(QString::fromLocal8Bit(argv[1]));
    trp::Screens screens(store);
    screens.Start();
    if (!screens.ExistingTableSelectionScreen()) return 3;
    trp::Form2& form2 = *screens.ExistingTableSelectionScreen();
    if (!trp::test::SelectItem(form2, "List1", argv[2]) ||
        !trp::test::SelectItem(form2, "List2", argv[3]))
        return 4;
    auto* bar = form2.findChild<trp::ProgressBar*>(QStringLiteral("ProgressBar1"));
    QObject::connect(bar, &QProgressBar::valueChanged, bar,
                     [bar] { Say(QStringLiteral("bar %1").arg(bar->percent(), 0, 'f', 3)); });
    QWidget elsewhere;
    QTimer::singleShot(0, &form2, [&form2, &elsewhere, &window] {
        if (!window.isEmpty() && !Activate(window == "active" ? form2 : elsewhere))
            Say(QStringLiteral("not activated"));
        form2.findChild<trp::PushButton*>(QStringLiteral("PushButton2"))->click();
        if (!window.isEmpty()) QApplication::quit();
    });
    const int code = QApplication::exec();
    Say(QStringLiteral("ended"));
    return code;
}
