#include "app/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>

#include "app/console_host.h"
#include "app/version.h"

namespace trp {
namespace {

// The options QGuiApplication, QApplication and Qt's X11 plugin take out of the arguments
// themselves; they are accepted here so that they reach Qt.
constexpr const char* kQtOptionsWithValue[] = {"platform",
                                               "platformpluginpath",
                                               "platformtheme",
                                               "plugin",
                                               "qwindowgeometry",
                                               "geometry",
                                               "qwindowicon",
                                               "icon",
                                               "qwindowtitle",
                                               "title",
                                               "session",
                                               "style",
                                               "stylesheet",
                                               "display",
                                               "name",
                                               "visual",
                                               "qmljsdebugger"};
constexpr const char* kQtFlags[] = {"reverse", "widgetcount", "sync",
                                    "nograb",  "dograb",      "testability"};

// What --help adds after the options: the commands, their output and their exit statuses.
constexpr const char* kCommandsHelp =
    R"(
Commands (no display needed; they use the profiles the connection screen saved):
  append --to 1|2 SOURCE_TABLE DESTINATION_TABLE
      Appends every row of SOURCE_TABLE to DESTINATION_TABLE with the checks, the
      reports and the refused-rows file of "Start Appending". --to 2 appends a table
      of database #1 to a table of database #2, --to 1 the other way round. Tables
      are named as "tables" prints them. Progress and every error report go to
      standard error; standard output gets only the last message ("Done.", ...)
      and, when rows were refused, a second line that says where they are kept.
      SIGINT, SIGTERM and SIGHUP commit the rows in flight and end the run.
  --reconnect-for SECONDS
      How long append keeps trying to reconnect to a destination it lost (a server
      restart, a failover, a network blip) before the run ends (300; 0 ends it at
      the first loss). The run goes on where it was, no row sent twice.
  --writers N
      How many destination sessions append writes through at once, 1 to 8 (2);
      sessions the server does not grant are left out. A destination with
      triggers or rules keeps one.
  --readers N
      How many source sessions read a plain table at once, in parts, 1 to 4
      (PostgreSQL 14 and later, not a standby). When not given, as many as
      writers (up to 4) where append waits mostly for the source over the
      table's first blocks, otherwise one.
  tables 1|2
      Prints the tables of database #1 or #2, one a line, as the table selection
      screen lists them.
  --settings FILE
      Reads the profiles from FILE (in the format of ~/.config/Kestrelby.conf)
      instead. It holds passwords, so it must be readable and writable by its owner
      only (chmod 600 FILE).

Exit status of the commands:
  0  every row was appended, or the source table is empty (tables: listed)
  1  the run went through, but rows were refused
  2  usage: an unknown option, a missing argument, an unknown or ambiguous table,
     or a settings file that cannot be used; nothing was appended
  3  the run did not go through: a connection or a check failed, a failure of the
     whole run, or a termination signal; or standard output could not take the
     end (tables: the list; --help, --version: the answer), which one line on
     standard error says
)";

// The ways to call the program, one a line.
QString UsageLines() {
    const QString program = QLatin1String(kProgramName);
    return QStringLiteral("Usage: %1 [options]\n").arg(program) +
           QStringLiteral(
               "       %1 append --to 1|2 [--settings FILE] [--reconnect-for SECONDS] "
               "[--writers N] [--readers N] SOURCE_TABLE DESTINATION_TABLE\n")
               .arg(program) +
           QStringLiteral("       %1 tables 1|2 [--settings FILE]\n").arg(program);
}

QString Usage(const QCommandLineParser& parser) {
    // Qt's first line names "<executable_name>" while no application object exists.
    return UsageLines() + parser.helpText().section(u'\n', 1) + QLatin1String(kCommandsHelp);
}

// The argument as the user typed it that carries the option named `name` (without its dashes
// and any "=value").
QString AsTyped(const QStringList& arguments, const QString& name) {
    for (const QString& argument : arguments.mid(1)) {
        QString bare = argument.section(u'=', 0, 0);
        while (bare.startsWith(u'-')) bare.remove(0, 1);
        if (bare == name && argument.startsWith(u'-')) return argument.section(u'=', 0, 0);
    }
    return name;
}

CommandLine Mistake(const QString& what, const QString& usage) {
    CommandLine result;
    result.exit_code = kExitUsage;
    result.output = QStringLiteral("%1: %2\n").arg(QLatin1String(kProgramName), what) + usage;
    return result;
}

CommandLine Mistake(const QString& what, const QCommandLineParser& parser) {
    return Mistake(what, Usage(parser));
}

// The database named by --to or by the argument of tables: "1" or "2", else 0.
int DatabaseNumber(const QString& text) {
    if (text == u"1") return 1;
    if (text == u"2") return 2;
    return 0;
}

// The arguments after the command's name: `whole_help` is the program's --help. A mistake shows
// the usage lines only; a script's log need not hold the whole help each time.
CommandLine ReadCommand(Command command, const QStringList& arguments, const QString& whole_help) {
    const QString usage =
        UsageLines() + QStringLiteral(
                           "See \"%1 --help\" for the options, the output and the "
                           "exit statuses.\n")
                           .arg(QLatin1String(kProgramName));
    const QString name = arguments.at(1);
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("1|2"));
    const QCommandLineOption settings(QStringLiteral("settings"), QString(),
                                      QStringLiteral("FILE"));
    const QCommandLineOption reconnect_for(QStringLiteral("reconnect-for"), QString(),
                                           QStringLiteral("SECONDS"));
    const QCommandLineOption writers(QStringLiteral("writers"), QString(), QStringLiteral("N"));
    const QCommandLineOption readers(QStringLiteral("readers"), QString(), QStringLiteral("N"));
    parser.addOptions({help, settings});
    if (command == Command::Append) parser.addOptions({to, reconnect_for, writers, readers});

    QStringList rest = arguments;
    rest.removeAt(1);
    if (!parser.parse(rest)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return Mistake(QStringLiteral("unknown option '%1' for %2")
                               .arg(AsTyped(rest, unknown.first()), name),
                           usage);
        return Mistake(parser.errorText(), usage);
    }
    if (parser.isSet(help)) {
        CommandLine result;
        result.exit_code = 0;
        result.output = whole_help;
        return result;
    }
    for (const QCommandLineOption* option : {&to, &settings, &reconnect_for, &writers, &readers}) {
        if (!parser.optionNames().contains(option->names().front())) continue;
        if (parser.values(*option).size() > 1)
            return Mistake(QStringLiteral("--%1 is given more than once").arg(option->names()[0]),
                           usage);
    }

    CommandLine result;
    result.command = command;
    if (parser.isSet(settings)) {
        result.settings_file = parser.value(settings);
        if (result.settings_file.isEmpty())
            return Mistake(QStringLiteral("--settings needs a file"), usage);
    }
    const QStringList positional = parser.positionalArguments();
    if (command == Command::Append) {
        if (!parser.isSet(to))
            return Mistake(QStringLiteral("append needs --to 1 or --to 2"), usage);
        result.database = DatabaseNumber(parser.value(to));
        if (result.database == 0)
            return Mistake(QStringLiteral("--to takes 1 or 2, not '%1'").arg(parser.value(to)),
                           usage);
        if (positional.size() < 2)
            return Mistake(QStringLiteral("append needs SOURCE_TABLE and DESTINATION_TABLE"),
                           usage);
        if (positional.size() > 2)
            return Mistake(QStringLiteral("unexpected argument '%1'").arg(positional.at(2)), usage);
        result.source_table = positional.at(0);
        result.destination_table = positional.at(1);
        if (parser.isSet(reconnect_for)) {
            bool number = false;
            const int seconds = parser.value(reconnect_for).toInt(&number);
            // A day at most: a run that waits longer waits for nobody.
            if (!number || seconds < 0 || seconds > 86400)
                return Mistake(QStringLiteral("--reconnect-for takes seconds from 0 to 86400, "
                                              "not '%1'")
                                   .arg(parser.value(reconnect_for)),
                               usage);
            result.reconnect_for = seconds;
        }
        // How many sessions, from 1 to `most`.
        const auto sessions = [&](const QCommandLineOption& option, int most,
                                  std::optional<int>& count) -> std::optional<QString> {
            if (!parser.isSet(option)) return std::nullopt;
            bool number = false;
            count = parser.value(option).toInt(&number);
            if (number && *count >= 1 && *count <= most) return std::nullopt;
            return QStringLiteral("--%1 takes 1 to %2, not '%3'")
                .arg(option.names().front())
                .arg(most)
                .arg(parser.value(option));
        };
        for (const auto& [option, most, count] :
             {std::tuple{&writers, 8, &result.writers}, std::tuple{&readers, 4, &result.readers}})
            if (const std::optional<QString> mistake = sessions(*option, most, *count))
                return Mistake(*mistake, usage);
    } else {
        if (positional.isEmpty())
            return Mistake(QStringLiteral("tables needs the database: 1 or 2"), usage);
        if (positional.size() > 1)
            return Mistake(QStringLiteral("unexpected argument '%1'").arg(positional.at(1)), usage);
        result.database = DatabaseNumber(positional.at(0));
        if (result.database == 0)
            return Mistake(QStringLiteral("tables takes 1 or 2, not '%1'").arg(positional.at(0)),
                           usage);
    }
    return result;
}

}  // namespace

CommandLine ReadCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    // Qt's own options are words after a single dash ("-platform offscreen").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Appends every row of one PostgreSQL table to a table of another (or the same) "
        "database.\nQt's own options, such as -platform NAME and -style NAME, are passed on to "
        "Qt."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help and ends."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Shows the version and ends."));
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Works on a throwaway PostgreSQL server with two sample databases, "
                       "removed again at the end; your own settings are left alone."));
    parser.addOptions({help, version, demo});
    for (const char* name : kQtOptionsWithValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kQtFlags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    // A command is the first argument; what follows it is the command's own.
    if (arguments.size() > 1 && arguments.at(1) == u"append")
        return ReadCommand(Command::Append, arguments, Usage(parser));
    if (arguments.size() > 1 && arguments.at(1) == u"tables")
        return ReadCommand(Command::Tables, arguments, Usage(parser));

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return Mistake(
                QStringLiteral("unknown option '%1'").arg(AsTyped(arguments, unknown.first())),
                parser);
        return Mistake(parser.errorText(), parser);
    }
    if (!parser.positionalArguments().isEmpty())
        return Mistake(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()),
            parser);

    CommandLine result;
    if (parser.isSet(help)) {
        result.exit_code = 0;
        result.output = Usage(parser);
    } else if (parser.isSet(version)) {
        result.exit_code = 0;
        result.output =
            QStringLiteral("%1 %2\n").arg(QLatin1String(kProgramName), QLatin1String(kVersion));
    }
    result.demo = parser.isSet(demo);
    result.platform = parser.value(QStringLiteral("platform"));
    return result;
}

QStringList ArgumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

int EndEarly(const CommandLine& command_line) {
    const int code = command_line.exit_code.value_or(0);
    const std::string text = command_line.output.toLocal8Bit().toStdString();
    // A mistake's message goes to standard error, whose failure can be reported nowhere.
    if (code != 0) {
        WriteAndFlush(stderr, text);
        return code;
    }
    const int error = WriteAndFlush(stdout, text);
    if (error == 0) return 0;
    WriteAndFlush(stderr, std::string(kProgramName) + ": could not write to standard output (" +
                              std::strerror(error) + ")\n");
    return kExitUnwritten;
}

}  // namespace trp
