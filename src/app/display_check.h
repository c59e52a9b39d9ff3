#pragma once

#include <QApplication>
#include <QString>
#include <memory>

#include "app/command_line.h"
#include "base/product_name.h"

namespace trp {

// The one line printed instead of Qt's abort when no platform plugin could be started:
// `platform` is what was asked for (-platform, else QT_QPA_PLATFORM; empty for Qt's choice),
// `display` and `wayland_display` the environment's DISPLAY and WAYLAND_DISPLAY.
QString NoDisplayMessage(const QString& platform, const QString& display,
                         const QString& wayland_display);

// Creates the application object. When Qt cannot reach a display it prints NoDisplayMessage and
// ends the process with kExitStartFailed; Qt's own messages about the attempt are held back
// then, and passed on unchanged when the start succeeds. `argc` must outlive the application.
std::unique_ptr<QApplication> CreateApplication(int& argc, char** argv,
                                                const CommandLine& command_line);

}  // namespace trp
