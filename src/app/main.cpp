#include <QApplication>
#include <cstdio>
#include <exception>
#include <memory>

#include "app/command_line.h"
#include "app/console_commands.h"
#include "app/demo_environment.h"
#include "app/display_check.h"
#include "app/screens.h"
#include "app/startup_signals.h"
#include "settings/profile_store.h"

int main(int argc, char** argv) {
    trp::IgnoreBrokenPipes();
    const trp::CommandLine command_line = trp::ReadCommandLine(trp::ArgumentsOf(argc, argv));
    if (command_line.exit_code) return trp::EndEarly(command_line);
    if (command_line.command != trp::Command::Screens)
        return trp::RunCommand(command_line, argc, argv);
    const std::unique_ptr<QApplication> app = trp::CreateApplication(argc, argv, command_line);
    trp::QuitOnTerminationSignals();

    // --demo: a throwaway server with sample databases and profiles of its own, apart from the
    // user's settings; it is stopped when the program ends.
    std::unique_ptr<trp::DemoEnvironment> demo;
    std::unique_ptr<trp::ProfileStore> store;
    try {
        if (command_line.demo) {
            demo = std::make_unique<trp::DemoEnvironment>();
            store = std::make_unique<trp::ProfileStore>(demo->SettingsFile());
        } else {
            store = std::make_unique<trp::ProfileStore>();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", trp::kProgramName, e.what());
        return trp::kExitStartFailed;
    }

    trp::Screens screens(*store);
    screens.Start();
    return app->exec();
}
