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
