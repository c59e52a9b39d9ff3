#pragma once

#include <QString>
#include <QStringList>

#include "db/profile.h"
#include "support/program_run.h"

namespace trp::test {

// Writes the two profiles to a settings file (mode 0600) as the connection screen saves them.
void SaveProfiles(const QString& file, const Profile& profile1, const Profile& profile2);

// Runs the program's command line (`append ...`, `tables ...`) to its end, as a script would:
// without a display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset) and with HOME in
// `home`; XDG_STATE_HOME is this process's.
ProgramResult RunCommand(const QString& program, const QStringList& arguments, const QString& home);

// The error reports a command printed on standard error, each with the box's text (its line
// breaks as LF), without the lines of progress between them.
QStringList ReportsIn(const QString& errors);

// A box's text as a console prints it.
QString AsPrinted(const QString& box_text);

}  // namespace trp::test
