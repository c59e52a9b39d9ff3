#pragma once

#include <QCursor>
#include <QIcon>
#include <QString>

namespace trp {

// The product name: caption of both screens and section of the settings store.
inline constexpr const char* kProductName = "Tessaline Row Porter Suite";

// The folder that holds the program file; optional files ("HAND-M.CUR", "x/o.cjs") are looked up
// there. Tests point it at a folder of their own; an empty text goes back to the program's folder.
QString ApplicationFolder();
void OverrideApplicationFolder(const QString& folder);

// The hand cursor's file in the application folder.
QString HandCursorPath();

// True when the file's modification time can be read (so also for a folder); never fails.
bool FileExists(const QString& path);

// The product name cut at its last blank, then again while longer than 40 characters. Throws
// std::invalid_argument when no blank is left to cut at.
QString ShortenTitle(const QString& name);
// Makes the shortened product name the application title ("Tessaline Row Porter").
void SetAppTitle();

// The one window icon of both screens.
QIcon ApplicationIcon();

// Loads a Windows cursor file (or icon file) with its hotspot. Throws std::runtime_error
// ("Invalid picture") when the file cannot be read or is not a picture in that format.
QCursor LoadCursorFile(const QString& path);

}  // namespace trp
