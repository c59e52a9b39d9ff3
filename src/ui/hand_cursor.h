#pragma once

#include <QCursor>
#include <QString>

namespace trp {

// The folder that holds the program file; optional files ("HAND-M.CUR", "x/o.cjs") are looked
// up beside it. Tests point it at a folder of their own; an empty text goes back to the
// program's folder.
QString ApplicationFolder();
void OverrideApplicationFolder(const QString& folder);

// True when the file's modification time can be read (so also for a folder); never fails.
bool FileExists(const QString& path);

// Application folder + "/HAND-M.CUR", the hand cursor of both screens.
QString HandCursorPath();

// Loads a cursor file (the Windows .CUR format, or an .ICO file) with the hot spot the file
// records. Throws std::runtime_error("Invalid picture") when it cannot be read as one.
QCursor LoadCursorFile(const QString& path);

}  // namespace trp
