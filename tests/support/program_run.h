#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace trp::test {

// How a program ended: its exit code (when it exited rather than died of a signal) and what it
// printed.
struct ProgramResult {
    bool exited = false;
    int exit_code = -1;
    QString output;
    QString errors;
};

// This process's environment without a display: DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM and
// the session bus removed, and HOME (with the XDG folders under it) set to `home`, so that
// nothing of the user's is read or written.
QProcessEnvironment HeadlessEnvironment(const QString& home);

// Makes a Qt program log every window it shows, through Qt's accessibility cache, which
// describes each widget it meets on standard error; see ShownWindow.
void LogShownWindows(QProcessEnvironment& environment);
// Matches the log line of a visible top-level widget of the program's named `class_name`.
QRegularExpression ShownWindow(const QString& class_name);

// Runs a program to its end (a generous bound keeps a broken case from hanging).
ProgramResult RunProgram(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& environment);

// A program started in the background, ended by SIGTERM; killed if still running at the end.
class RunningProgram {
public:
    RunningProgram(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // Waits until standard error holds `text` (or a match of `pattern`); false when the
    // program ends or the bound passes first.
    bool WaitForErrorText(const QString& text);
    bool WaitForErrorText(const QRegularExpression& pattern);
    // Sends SIGTERM and waits for the end.
    ProgramResult Terminate();
    QString ErrorsSoFar();

private:
    QProcess process_;
    QString errors_;
};

}  // namespace trp::test
