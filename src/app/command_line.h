#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace trp {

// The name of the program file, used in every line the program prints.
inline constexpr const char* kProgramName = "tessaline-row-porter";

// Exit codes besides 0: start-up failed (no display, the demo could not be set up), and a
// mistake on the command line.
inline constexpr int kExitStartFailed = 1;
inline constexpr int kExitUsage = 2;
// The commands' own: the run went through but rows were refused; it did not go through (a
// connection or a check failed, a failure of the whole run, a termination signal).
inline constexpr int kExitRowsRefused = 1;
inline constexpr int kExitNotDone = 3;
// Standard output could not take what a command, --help or --version had to print there; one
// line on standard error says so. A script cannot go by an end it did not get, so this is the
// status of a run that did not go through, whatever became of the rows.
inline constexpr int kExitUnwritten = kExitNotDone;

// What the program does: show its screens, or run one of its commands without them.
enum class Command {
    Screens,
    Append,  // append --to 1|2 [--settings FILE] [--reconnect-for SECONDS] [--writers N] [--readers
             // N] SOURCE DESTINATION
    Tables,  // tables 1|2 [--settings FILE]
};

// What the command line asks for. It is read before the application object exists, so that
// --help, --version and mistakes are answered without a display. Qt's own options (-platform,
// -style, ...) are accepted and left in the arguments for QApplication, which removes them.
struct CommandLine {
    Command command = Command::Screens;
    // append: the database the rows go to (--to); tables: the database listed.
    int database = 0;
    // --settings: the file of the two profiles; empty for the user's own.
    QString settings_file;
    // append --reconnect-for: how long a lost destination is tried again (seconds), when given.
    std::optional<int> reconnect_for;
    // append --writers: how many destination sessions write at once, when given.
    std::optional<int> writers;
    // append --readers: how many source sessions read at once, when given.
    std::optional<int> readers;
    // append: the tables as `tables` prints them; the source is in the other database.
    QString source_table;
    QString destination_table;
    bool demo = false;
    // The value of Qt's -platform option, empty when not given.
    QString platform;
    // Set when the program ends at once: `output` goes to standard output when the code is 0
    // (--help, --version) and to standard error otherwise.
    std::optional<int> exit_code;
    QString output;
};

// `arguments` begins with the program's own name, as argv does.
CommandLine ReadCommandLine(const QStringList& arguments);
QStringList ArgumentsOf(int argc, char** argv);

// Prints the answer of a command line that ends the program and returns its exit code
// (kExitUnwritten when standard output cannot take the answer).
int EndEarly(const CommandLine& command_line);

}  // namespace trp
