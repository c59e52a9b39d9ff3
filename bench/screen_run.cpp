#include "screen_run.h"

#include <sys/resource.h>

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QRadioButton>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "app/screens.h"
#include "child_process.h"
#include "settings/profile_store.h"
#include "ui/message_box.h"

namespace trp::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The password travels in the environment, not on a command line others can read.
constexpr const char* kPasswordVariable = "PGPASSWORD";

[[noreturn]] void Refuse(const std::string& why) {
    throw std::runtime_error(why);
}

// Widgets are found by their names, as a user finds them by their captions.
template <typename T>
T& Find(QWidget& screen, const char* name) {
    T* widget = screen.findChild<T*>(QString::fromLatin1(name));
    if (!widget) Refuse(std::string("the table selection screen has no ") + name);
    return *widget;
}

// A window as the user sees it: shown, and found by its name.
QWidget& ShownWindow(const char* name) {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String(name) && window->isVisible()) return *window;
    Refuse(std::string("start-up did not show ") + name);
}

void Select(QWidget& screen, const char* list_name, const std::string& table) {
    QListWidget& list = Find<QListWidget>(screen, list_name);
    const auto items = list.findItems(QString::fromStdString(table), Qt::MatchExactly);
    if (items.size() != 1) Refuse(std::string(list_name) + " does not offer " + table + " once");
    list.setCurrentItem(items.front());
}

void SaveProfiles(ProfileStore& store, const std::vector<std::string>& fields) {
    const char* keys[] = {"Server",  "Port",  "User",  "Database",
                          "Server2", "Port2", "User2", "Database2"};
    for (size_t i = 0; i < std::size(keys); ++i)
        store.Save(QString::fromLatin1(keys[i]), QString::fromStdString(fields[i]));
    const QString password = QString::fromLocal8Bit(qgetenv(kPasswordVariable));
    store.Save(QStringLiteral("Password"), password);
    store.Save(QStringLiteral("Password2"), password);
}

struct Seen {
    Clock::time_point at;
    MessageBox::Shown box;
};

std::string Describe(const std::vector<Seen>& seen) {
    std::string text;
    for (const Seen& s : seen) {
        text += '[';
        text += s.box.text.toStdString();
        text += "] ";
    }
    return text;
}

}  // namespace

ScreenResult RunThroughScreen(const ScreenRun& run) {
    const char* password = std::getenv(kPasswordVariable);
    if (!password || run.profile1.password != password || run.profile2.password != password)
        Refuse("both profiles must carry the password of PGPASSWORD");
    const Profile& p1 = run.profile1;
    const Profile& p2 = run.profile2;
    const ChildOutcome child =
        RunSelf({kScreenChild, p1.server, p1.port, p1.user, p1.database, p2.server, p2.port,
                 p2.user, p2.database, run.table1, run.table2, run.into1 ? "1" : "2",
                 run.ignore_all ? "ignore-all" : "report"});
    ScreenResult result;
    std::istringstream printed(child.output);
    printed >> result.seconds >> result.rss_at_press_kb >> result.row_reports;
    if (!child.succeeded || !printed) Refuse("the run through the screen failed: " + child.output);
    result.peak_rss_kb = child.peak_rss_kb;
    return result;
}

int ScreenChildMain(const std::vector<std::string>& arguments) {
    if (arguments.size() != 12) {
        std::fprintf(stderr, "%s takes 12 arguments\n", kScreenChild);
        return 2;
    }
    const bool ignore_all = arguments[11] == "ignore-all";
    // The profiles and the runtime folder Qt asks for live in a folder of the run's own.
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "screen run: no temporary folder\n");
        return 1;
    }
    if (qEnvironmentVariableIsSet("TRP_BENCH_ACCESSIBLE")) {
        // As a screen reader's user runs it: on an X server, with Qt's accessibility bridge on,
        // which reports the screen's changes on the session's accessibility bus.
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qputenv("XDG_RUNTIME_DIR", folder.path().toLocal8Bit());
    int argc = 1;
    char name[] = "bench-screen";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    try {
        ProfileStore store(folder.filePath(QStringLiteral("profiles.ini")));
        SaveProfiles(store, arguments);

        std::vector<Seen> seen;
        int row_reports = 0;
        MessageBox::SetRecorder([&seen, &row_reports, ignore_all](const MessageBox::Shown& box) {
            // A refused row, where they are expected: "Ignore All" at the first.
            if (ignore_all && box.offers_stop) {
                ++row_reports;
                MessageBox::SetNextChoice(MessageBox::Choice::IgnoreAll);
                return;
            }
            // A failing run may report every row; the first report is enough to refuse it.
            if (box.icon == MessageBox::Icon::Warning) {
                std::fprintf(stderr, "screen run: error report: %s\n", qPrintable(box.text));
                std::_Exit(1);
            }
            seen.push_back({Clock::now(), box});
        });

        // Start-up: with both profiles connecting it fills the lists and shows Form2.
        Screens screens(store);
        screens.Start();
        if (!seen.empty()) Refuse("start-up showed messages: " + Describe(seen));
        QWidget& screen = ShownWindow("Form2");
        Select(screen, "List1", arguments[8]);
        Select(screen, "List2", arguments[9]);
        QRadioButton& option =
            Find<QRadioButton>(screen, arguments[10] == "1" ? "Option1" : "Option2");
        if (option.isEnabled()) option.click();
        if (!option.isChecked()) Refuse("the direction cannot be chosen");
        QApplication::processEvents();  // the screen as the user sees it before pressing

        const long peak_before = PeakResidentKb();
        QAbstractButton& start = Find<QAbstractButton>(screen, "PushButton2");
        const Clock::time_point pressed = Clock::now();
        start.click();  // returns once the append has shown its last message

        if (seen.empty() || seen.back().box.text != QStringLiteral("Done."))
            Refuse("the last message is not \"Done.\": " + Describe(seen));
        std::printf("%.6f %ld %d\n",
                    std::chrono::duration<double>(seen.back().at - pressed).count(), peak_before,
                    row_reports);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "screen run: %s\n", e.what());
        return 1;
    }
}

}  // namespace trp::bench
