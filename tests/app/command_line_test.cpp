#include "app/command_line.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "app/display_check.h"
#include "app/version.h"
#include "support/program_run.h"

namespace trp {
namespace {

CommandLine Read(QStringList arguments) {
    arguments.prepend(QStringLiteral("tessaline-row-porter"));
    return ReadCommandLine(arguments);
}

QString FirstLine(const QString& text) {
    return text.section(u'\n', 0, 0);
}

TEST(CommandLine, AcceptsDemoAndLeavesQtsOwnOptionsToQt) {
    const CommandLine plain = Read({});
    EXPECT_FALSE(plain.demo);
    EXPECT_FALSE(plain.exit_code);
    EXPECT_TRUE(plain.platform.isEmpty());

    const CommandLine demo = Read({"-platform", "offscreen", "--demo", "-style=fusion", "-reverse",
                                   "--stylesheet", "look.qss", "-qwindowtitle", "Porter"});
    EXPECT_FALSE(demo.exit_code) << demo.output.toStdString();
    EXPECT_TRUE(demo.demo);
    EXPECT_EQ(demo.platform, "offscreen");
    EXPECT_EQ(Read({"--platform=xcb:nograb"}).platform, "xcb:nograb");
}

TEST(CommandLine, HelpAndVersionAnswerOnStandardOutputWithCodeZero) {
    for (const char* option : {"--help", "-h"}) {
        const CommandLine help = Read({option, "--demo"});
        ASSERT_EQ(help.exit_code, 0) << option;
        EXPECT_EQ(FirstLine(help.output), "Usage: tessaline-row-porter [options]");
        EXPECT_TRUE(help.output.contains("--demo"));
        EXPECT_TRUE(help.output.contains("--version"));
        // Qt's options are passed on, not offered; Qt's placeholder name does not show.
        EXPECT_FALSE(help.output.contains("--platform"));
        EXPECT_FALSE(help.output.contains("help-all"));
        EXPECT_FALSE(help.output.contains("executable_name"));
    }
    for (const char* option : {"--version", "-v"}) {
        const CommandLine version = Read({option});
        ASSERT_EQ(version.exit_code, 0) << option;
        EXPECT_EQ(version.output, QStringLiteral("tessaline-row-porter %1\n").arg(kVersion));
    }
}

TEST(CommandLine, MistakesNameTheArgumentInOneLineThenShowTheUsageWithCodeTwo) {
    const struct {
        QStringList arguments;
        const char* first_line;
    } cases[] = {
        {{"--bogus"}, "tessaline-row-porter: unknown option '--bogus'"},
        {{"--demo", "-x"}, "tessaline-row-porter: unknown option '-x'"},
        {{"--colour=red"}, "tessaline-row-porter: unknown option '--colour'"},
        {{"--help", "--bogus"}, "tessaline-row-porter: unknown option '--bogus'"},
        {{"tables.csv"}, "tessaline-row-porter: unexpected argument 'tables.csv'"},
        {{"--", "--demo"}, "tessaline-row-porter: unexpected argument '--demo'"},
        {{"-platform"}, "tessaline-row-porter: Missing value after '-platform'."},
    };
    for (const auto& mistake : cases) {
        const CommandLine result = Read(mistake.arguments);
        const std::string arguments = mistake.arguments.join(' ').toStdString();
        ASSERT_EQ(result.exit_code, kExitUsage) << arguments;
        EXPECT_EQ(FirstLine(result.output), mistake.first_line) << arguments;
        EXPECT_EQ(result.output.section(u'\n', 1, 1), "Usage: tessaline-row-porter [options]")
            << arguments;
    }
}

TEST(CommandLine, ReadsTheCommandsWithTheirOptionsAndTables) {
    const CommandLine append = Read({"append", "--to", "2", "orders", "orders_archive"});
    EXPECT_FALSE(append.exit_code) << append.output.toStdString();
    EXPECT_EQ(append.command, Command::Append);
    EXPECT_EQ(append.database, 2);
    EXPECT_EQ(append.source_table, "orders");
    EXPECT_EQ(append.destination_table, "orders_archive");
    EXPECT_TRUE(append.settings_file.isEmpty());
    EXPECT_FALSE(append.reconnect_for);
    EXPECT_EQ(Read({"append", "--reconnect-for", "0", "--to", "2", "a", "b"}).reconnect_for, 0);
    EXPECT_FALSE(append.writers);
    EXPECT_EQ(Read({"append", "--writers", "8", "--to", "2", "a", "b"}).writers, 8);
    EXPECT_FALSE(append.readers);
    EXPECT_EQ(Read({"append", "--readers", "4", "--to", "2", "a", "b"}).readers, 4);

    // A table whose name begins with a dash comes after "--"; names are taken as typed.
    const CommandLine odd =
        Read({"append", "--settings", "/srv/p.conf", "--to=1", "--", "-odd", "sales.Orders 2"});
    EXPECT_FALSE(odd.exit_code) << odd.output.toStdString();
    EXPECT_EQ(odd.database, 1);
    EXPECT_EQ(odd.settings_file, "/srv/p.conf");
    EXPECT_EQ(odd.source_table, "-odd");
    EXPECT_EQ(odd.destination_table, "sales.Orders 2");

    const CommandLine tables = Read({"tables", "--settings", "p.conf", "2"});
    EXPECT_FALSE(tables.exit_code) << tables.output.toStdString();
    EXPECT_EQ(tables.command, Command::Tables);
    EXPECT_EQ(tables.database, 2);
    EXPECT_EQ(tables.settings_file, "p.conf");
    EXPECT_EQ(Read({}).command, Command::Screens);

    // --help describes both commands, their output and their exit statuses.
    for (const QStringList& arguments :
         {QStringList{"--help"}, QStringList{"append", "--help"}, QStringList{"tables", "-h"}}) {
        const CommandLine help = Read(arguments);
        ASSERT_EQ(help.exit_code, 0) << arguments.join(' ').toStdString();
        EXPECT_EQ(help.output, Read({"--help"}).output);
        EXPECT_TRUE(help.output.contains(
            "tessaline-row-porter append --to 1|2 [--settings FILE] [--reconnect-for SECONDS] "
            "[--writers N] [--readers N] SOURCE_TABLE DESTINATION_TABLE\n"));
        EXPECT_TRUE(help.output.contains("tessaline-row-porter tables 1|2 [--settings FILE]\n"));
        EXPECT_TRUE(help.output.contains("Exit status of the commands:"));
        EXPECT_TRUE(help.output.contains("standard error"));
    }
}

TEST(CommandLine, CommandMistakesNameTheArgumentThenShowTheUsageLinesWithCodeTwo) {
    const struct {
        QStringList arguments;
        const char* first_line;
    } cases[] = {
        {{"append", "a", "b"}, "append needs --to 1 or --to 2"},
        {{"append", "--to", "3", "a", "b"}, "--to takes 1 or 2, not '3'"},
        {{"append", "--to", "1", "a"}, "append needs SOURCE_TABLE and DESTINATION_TABLE"},
        {{"append", "--to", "1", "a", "b", "c"}, "unexpected argument 'c'"},
        {{"append", "--to", "1", "--to", "2", "a", "b"}, "--to is given more than once"},
        {{"append", "--demo", "--to", "1", "a", "b"}, "unknown option '--demo' for append"},
        {{"append", "--to"}, "Missing value after '--to'."},
        {{"tables"}, "tables needs the database: 1 or 2"},
        {{"tables", "3"}, "tables takes 1 or 2, not '3'"},
        {{"tables", "1", "2"}, "unexpected argument '2'"},
        {{"tables", "--to", "1", "1"}, "unknown option '--to' for tables"},
        {{"tables", "1", "--settings="}, "--settings needs a file"},
        {{"append", "--to", "1", "--reconnect-for", "-5", "a", "b"},
         "--reconnect-for takes seconds from 0 to 86400, not '-5'"},
        {{"append", "--to", "1", "--reconnect-for", "soon", "a", "b"},
         "--reconnect-for takes seconds from 0 to 86400, not 'soon'"},
        {{"tables", "1", "--reconnect-for", "5"}, "unknown option '--reconnect-for' for tables"},
        {{"append", "--to", "1", "--writers", "0", "a", "b"}, "--writers takes 1 to 8, not '0'"},
        {{"append", "--to", "1", "--writers", "9", "a", "b"}, "--writers takes 1 to 8, not '9'"},
        {{"append", "--to", "1", "--writers", "2", "--writers", "2", "a", "b"},
         "--writers is given more than once"},
        {{"append", "--to", "1", "--readers", "5", "a", "b"}, "--readers takes 1 to 4, not '5'"},
        {{"append", "--to", "1", "--readers", "two", "a", "b"},
         "--readers takes 1 to 4, not 'two'"},
    };
    for (const auto& mistake : cases) {
        const CommandLine result = Read(mistake.arguments);
        const std::string arguments = mistake.arguments.join(' ').toStdString();
        ASSERT_EQ(result.exit_code, kExitUsage) << arguments;
        EXPECT_EQ(FirstLine(result.output),
                  QStringLiteral("tessaline-row-porter: %1").arg(mistake.first_line))
            << arguments;
        EXPECT_EQ(result.output.section(u'\n', 1),
                  "Usage: tessaline-row-porter [options]\n"
                  "       tessaline-row-porter append --to 1|2 [--settings FILE] "
                  "[--reconnect-for SECONDS] [--writers N] [--readers N] SOURCE_TABLE "
                  "DESTINATION_TABLE\n"
                  "       tessaline-row-porter tables 1|2 [--settings FILE]\n"
                  "See \"tessaline-row-porter --help\" for the options, the output and the exit "
                  "statuses.\n")
            << arguments;
    }
}

TEST(NoDisplayMessage, SaysWhyAndHowToRunInOneLine) {
    const QString unset = NoDisplayMessage("", "", "");
    EXPECT_EQ(unset,
              "tessaline-row-porter: cannot start: no display is set (DISPLAY and "
              "WAYLAND_DISPLAY are empty); run it in a desktop session, or with \"-platform "
              "offscreen\" for a check without a screen.");
    EXPECT_TRUE(NoDisplayMessage("xcb", ":87", "")
                    .contains("the display cannot be reached (DISPLAY=:87);"));
    EXPECT_TRUE(NoDisplayMessage("wayland;xcb", ":0", "wayland-1")
                    .contains("(DISPLAY=:0, WAYLAND_DISPLAY=wayland-1)"));
    // A plugin that needs no display failed for a reason of its own.
    EXPECT_TRUE(NoDisplayMessage("vnc:size=800x600", ":0", "")
                    .contains("Qt's platform plugin \"vnc:size=800x600\" could not be started"));
    for (const QString& message : {unset, NoDisplayMessage("bogus", "", "")})
        EXPECT_FALSE(message.contains(u'\n'));
}

// The program itself, started without a display.
class ProgramWithoutDisplay : public ::testing::Test {
protected:
    test::ProgramResult Run(const QStringList& arguments) {
        return test::RunProgram(QStringLiteral(TRP_PROGRAM_FILE), arguments, environment_);
    }

    QTemporaryDir home_;
    QProcessEnvironment environment_ = test::HeadlessEnvironment(home_.path());
};

TEST_F(ProgramWithoutDisplay, SaysSoInOneLineAndEndsWithCodeOneInsteadOfAborting) {
    const test::ProgramResult unset = Run({});
    ASSERT_TRUE(unset.exited) << unset.errors.toStdString();
    EXPECT_EQ(unset.exit_code, kExitStartFailed);
    EXPECT_EQ(unset.errors, NoDisplayMessage("", "", "") + "\n");

    // A display that is set but does not answer.
    int number = 87;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))) ++number;
    const QString display = QStringLiteral(":%1").arg(number);
    environment_.insert("DISPLAY", display);
    const test::ProgramResult unreachable = Run({"--demo"});
    ASSERT_TRUE(unreachable.exited) << unreachable.errors.toStdString();
    EXPECT_EQ(unreachable.exit_code, kExitStartFailed);
    EXPECT_EQ(unreachable.errors, NoDisplayMessage("", display, "") + "\n");
    // Nothing of the demo was started before the display was found missing.
    EXPECT_FALSE(unreachable.errors.contains("initdb"));
}

TEST_F(ProgramWithoutDisplay, AnswersHelpVersionAndMistakes) {
    const test::ProgramResult version = Run({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.output, QStringLiteral("tessaline-row-porter %1\n").arg(kVersion));
    EXPECT_TRUE(version.errors.isEmpty()) << version.errors.toStdString();

    const test::ProgramResult help = Run({"-style", "fusion", "--help"});
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_TRUE(help.output.startsWith("Usage: tessaline-row-porter [options]\n"));

    const test::ProgramResult mistake = Run({"--bogus"});
    EXPECT_EQ(mistake.exit_code, kExitUsage);
    EXPECT_TRUE(mistake.output.isEmpty());
    EXPECT_TRUE(mistake.errors.startsWith(
        "tessaline-row-porter: unknown option '--bogus'\nUsage: tessaline-row-porter"));
}

TEST_F(ProgramWithoutDisplay, RunsOffscreenWithQtsOptionsAndPassesOnQtsStartMessages) {
    // -platform reaches Qt; Qt's complaint about -style, made while the application object is
    // created, is held back during the display check and then shown.
    test::LogShownWindows(environment_);
    test::RunningProgram program(QStringLiteral(TRP_PROGRAM_FILE),
                                 {"-platform", "offscreen", "-style", "no-such-style"},
                                 environment_);
    ASSERT_TRUE(program.WaitForErrorText(test::ShownWindow("Form1")))
        << program.ErrorsSoFar().toStdString();
    EXPECT_TRUE(program.ErrorsSoFar().contains("invalid style override 'no-such-style'"))
        << program.ErrorsSoFar().toStdString();
    const test::ProgramResult ended = program.Terminate();
    EXPECT_TRUE(ended.exited) << ended.errors.toStdString();
    EXPECT_EQ(ended.exit_code, 0) << ended.errors.toStdString();
}

TEST_F(ProgramWithoutDisplay, DemoGoesStraightToTheTableSelectionScreenWithoutServerNotices) {
    // Its fresh server has none of the sample databases yet; making them says nothing.
    test::LogShownWindows(environment_);
    test::RunningProgram program(QStringLiteral(TRP_PROGRAM_FILE),
                                 {"-platform", "offscreen", "--demo"}, environment_);
    ASSERT_TRUE(program.WaitForErrorText(test::ShownWindow("Form2")))
        << program.ErrorsSoFar().toStdString();
    const test::ProgramResult ended = program.Terminate();
    EXPECT_TRUE(ended.exited) << ended.errors.toStdString();
    EXPECT_EQ(ended.exit_code, 0) << ended.errors.toStdString();
    // Nothing besides Qt's log of the windows and its note about a missing runtime folder.
    for (const QString& line : ended.errors.split(u'\n', Qt::SkipEmptyParts)) {
        EXPECT_TRUE(line.startsWith("qt.accessibility.cache: ") ||
                    line.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set"))
            << line.toStdString();
    }
}

}  // namespace
}  // namespace trp
