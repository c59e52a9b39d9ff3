#include "support/program_run.h"

#include <QDeadlineTimer>
#include <algorithm>

namespace trp::test {
namespace {

constexpr int kBoundMilliseconds = 120'000;

ProgramResult Ended(QProcess& process, QString errors) {
    ProgramResult result;
    result.exited =
        process.exitStatus() == QProcess::NormalExit && process.state() == QProcess::NotRunning;
    result.exit_code = result.exited ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.errors = errors + QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

}  // namespace

QProcessEnvironment HeadlessEnvironment(const QString& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS",
          "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), home);
    return environment;
}

void LogShownWindows(QProcessEnvironment& environment) {
    environment.insert(QStringLiteral("QT_LOGGING_RULES"),
                       QStringLiteral("qt.accessibility.cache.debug=true"));
}

QRegularExpression ShownWindow(const QString& class_name) {
    // "... obj=trp::Form1(0x5583..., name = "Form1")rect=QRect(...)": quoted states such as
    // "focused" may stand before the rectangle; a hidden widget's are "invisible", without one.
    return QRegularExpression(
        QStringLiteral(
            R"(obj=trp::%1\(0x[0-9a-f]+, name = "%1"\)(?:"(?![^"\n]*invisible)[^"\n]*")?rect=)")
            .arg(QRegularExpression::escape(class_name)));
}

ProgramResult RunProgram(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(kBoundMilliseconds);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    return Ended(process, QString());
}

RunningProgram::RunningProgram(const QString& program, const QStringList& arguments,
                               const QProcessEnvironment& environment) {
    process_.setProcessEnvironment(environment);
    // waitForReadyRead waits for the current channel.
    process_.setReadChannel(QProcess::StandardError);
    process_.start(program, arguments);
    process_.waitForStarted(kBoundMilliseconds);
}

RunningProgram::~RunningProgram() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished();
    }
}

QString RunningProgram::ErrorsSoFar() {
    errors_ += QString::fromLocal8Bit(process_.readAllStandardError());
    return errors_;
}

bool RunningProgram::WaitForErrorText(const QString& text) {
    return WaitForErrorText(QRegularExpression(QRegularExpression::escape(text)));
}

bool RunningProgram::WaitForErrorText(const QRegularExpression& pattern) {
    const QDeadlineTimer deadline(kBoundMilliseconds);
    while (!ErrorsSoFar().contains(pattern)) {
        if (process_.state() == QProcess::NotRunning || deadline.hasExpired()) return false;
        process_.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
    }
    return true;
}

ProgramResult RunningProgram::Terminate() {
    process_.terminate();  // SIGTERM
    process_.waitForFinished(kBoundMilliseconds);
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished();
        return ProgramResult{false, -1, QString(), ErrorsSoFar()};
    }
    return Ended(process_, ErrorsSoFar());
}

}  // namespace trp::test
