#include "app/command_line.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <cstdio>

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

QString Usage(const QCommandLineParser& parser) {
    // Qt's first line names "<executable_name>" while no application object exists.
    return QStringLiteral("Usage: %1 [options]\n").arg(QLatin1String(kProgramName)) +
           parser.helpText().section(u'\n', 1);
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

CommandLine Mistake(const QString& what, const QCommandLineParser& parser) {
    CommandLine result;
    result.exit_code = kExitUsage;
    result.output =
        QStringLiteral("%1: %2\n").arg(QLatin1String(kProgramName), what) + Usage(parser);
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
    std::fputs(command_line.output.toLocal8Bit().constData(), code == 0 ? stdout : stderr);
    return code;
}

}  // namespace trp
