// A stand-in for the program, for the tests of termination signals: it starts as the program
// does (the saved profiles connect, so the table selection screen comes up filled), picks the
// two tables given, presses "Start Appending", and reports on its standard output:
//   bar <percent>   each time the bar moves
//   box <text>      each message box it is asked to show
//   ended           when the program's event loop has ended
// Arguments: <settings file> <table of database #1> <table of database #2>.
#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <cstdio>

#include "app/message_box.h"
#include "app/progress_bar.h"
#include "app/push_button.h"
#include "app/startup_signals.h"
#include "append/form2.h"
#include "connection/form1.h"
#include "connection/profile_store.h"

namespace {

void Say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

bool Pick(QWidget& screen, const char* list_name, const char* table) {
    auto* list = screen.findChild<QListWidget*>(QString::fromLatin1(list_name));
    const auto items = list->findItems(QString::fromUtf8(table), Qt::MatchExactly);
    if (items.size() != 1) return false;
    items.front()->setSelected(true);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4) return 2;
    trp::QuitOnTerminationSignals();
    trp::MessageBox::SetRecorder(
        [](const trp::MessageBox::Shown& shown) { Say("box " + shown.text.simplified()); });

    trp::ProfileStore store(QString::fromLocal8Bit(argv[1]));
    trp::Form1 form1(store);
    form1.Form_Load();
    if (!form1.HasForm2()) return 3;
    trp::Form2& form2 = form1.form2();
    if (!Pick(form2, "List1", argv[2]) || !Pick(form2, "List2", argv[3])) return 4;
    auto* bar = form2.findChild<trp::ProgressBar*>(QStringLiteral("ProgressBar1"));
    QObject::connect(bar, &QProgressBar::valueChanged, bar,
                     [bar] { Say(QStringLiteral("bar %1").arg(bar->percent(), 0, 'f', 3)); });
    QTimer::singleShot(0, &form2, [&form2] {
        form2.findChild<trp::PushButton*>(QStringLiteral("PushButton2"))->click();
    });
    const int code = QApplication::exec();
    Say(QStringLiteral("ended"));
    return code;
}
