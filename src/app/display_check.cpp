#include "app/display_check.h"

#include <QGuiApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "app/version.h"

namespace trp {
namespace {

// A message Qt logged while the application object was being created, kept with copies of its
// context so that it can be passed on after the context's strings are gone.
struct HeldMessage {
    QtMsgType type;
    QByteArray file;
    int line;
    QByteArray function;
    QByteArray category;
    QString text;
};

// While one StartGuard exists, Qt's messages are held; a fatal one about the platform plugin
// ends the program with the prepared line instead of Qt's abort.
class StartGuard {
public:
    explicit StartGuard(QString no_display_line) : no_display_line_(std::move(no_display_line)) {
        active_ = this;
        previous_ = qInstallMessageHandler(&StartGuard::Handle);
    }
    ~StartGuard() {
        qInstallMessageHandler(previous_);
        active_ = nullptr;
        PassOn();
    }
    StartGuard(const StartGuard&) = delete;
    StartGuard& operator=(const StartGuard&) = delete;

private:
    static void Handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        StartGuard& self = *active_;
        if (type == QtFatalMsg && text.contains(QLatin1String("platform plugin"))) {
            std::fprintf(stderr, "%s\n", self.no_display_line_.toLocal8Bit().constData());
            std::fflush(stderr);
            // Nothing has been set up yet that would need taking down.
            std::_Exit(kExitStartFailed);
        }
        if (type == QtFatalMsg) {
            // Any other fatal message: show what led to it, then let Qt abort as usual.
            self.PassOn();
            self.previous_(type, context, text);
            return;
        }
        const std::lock_guard lock(self.mutex_);
        self.held_.push_back(
            {type, context.file, context.line, context.function, context.category, text});
    }

    void PassOn() {
        const std::lock_guard lock(mutex_);
        for (const HeldMessage& message : held_) {
            const QMessageLogContext context(message.file.constData(), message.line,
                                             message.function.constData(),
                                             message.category.constData());
            previous_(message.type, context, message.text);
        }
        held_.clear();
    }

    static inline StartGuard* active_ = nullptr;
    QString no_display_line_;
    QtMessageHandler previous_ = nullptr;
    std::mutex mutex_;
    std::vector<HeldMessage> held_;
};

}  // namespace

QString NoDisplayMessage(const QString& platform, const QString& display,
                         const QString& wayland_display) {
    // Qt tries the names of a list such as "wayland;xcb" in turn, each maybe with ":options".
    bool desktop_platform = true;
    for (const QString& entry : platform.split(u';', Qt::SkipEmptyParts)) {
        const QString name = entry.section(u':', 0, 0);
        if (name != QLatin1String("xcb") && !name.startsWith(QLatin1String("wayland")))
            desktop_platform = false;
    }
    QString reason;
    if (!desktop_platform) {
        reason = QStringLiteral("Qt's platform plugin \"%1\" could not be started").arg(platform);
    } else if (display.isEmpty() && wayland_display.isEmpty()) {
        reason = QStringLiteral("no display is set (DISPLAY and WAYLAND_DISPLAY are empty)");
    } else {
        QStringList set;
        if (!display.isEmpty()) set.append(QStringLiteral("DISPLAY=%1").arg(display));
        if (!wayland_display.isEmpty())
            set.append(QStringLiteral("WAYLAND_DISPLAY=%1").arg(wayland_display));
        reason = QStringLiteral("the display cannot be reached (%1)").arg(set.join(", "));
    }
    return QStringLiteral(
               "%1: cannot start: %2; run it in a desktop session, or with \"-platform "
               "offscreen\" for a check without a screen.")
        .arg(QLatin1String(kProgramName), reason);
}

std::unique_ptr<QApplication> CreateApplication(int& argc, char** argv,
                                                const CommandLine& command_line) {
    QCoreApplication::setApplicationVersion(QLatin1String(kVersion));
    QGuiApplication::setDesktopFileName(QLatin1String(kDesktopFileName));
    // The command line's -platform wins over QT_QPA_PLATFORM, as in Qt.
    const QString platform = command_line.platform.isEmpty()
                                 ? qEnvironmentVariable("QT_QPA_PLATFORM")
                                 : command_line.platform;
    StartGuard guard(NoDisplayMessage(platform, qEnvironmentVariable("DISPLAY"),
                                      qEnvironmentVariable("WAYLAND_DISPLAY")));
    return std::make_unique<QApplication>(argc, argv);
}

}  // namespace trp
