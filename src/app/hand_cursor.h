#pragma once

#include <QCursor>
#include <QString>

namespace trp {

// The folder that holds the program file; optional files are looked up beside it.
QString ApplicationFolder();

// True when the file exists; never fails.
bool FileExists(const QString& path);

// Application folder + "/HAND-M.CUR", the hand cursor of both screens.
QString HandCursorPath();

// Loads a cursor file (the Windows .CUR format, or any image format Qt reads) with the hot spot
// the file records. Throws std::runtime_error("Invalid picture") when it cannot be read as one.
QCursor LoadCursorFile(const QString& path);

}  // namespace trp
