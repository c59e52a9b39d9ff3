#include "app/console_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/console_host.h"
#include "app/startup_signals.h"
#include "append/row_transfer.h"
#include "base/program_end.h"
#include "catalogue/table_listing.h"
#include "settings/profile_store.h"

namespace trp {
namespace {

Profile StoredProfile(const ProfileStore& store, const QString& suffix) {
    const auto get = [&](const char* key, const char* absent) {
        return store.Get(QLatin1String(key) + suffix, QLatin1String(absent)).toStdString();
    };
    return Profile{get("Server", "localhost"), get("Port", "5432"), get("User", ""),
                   get("Password", ""), get("Database", "")};
}

void PrintLine(std::FILE* stream, const QString& line) {
    const QByteArray bytes = (line + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

void PrintLine(std::FILE* stream, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// A mistake that ends the command with the usage status, in one line on standard error.
int UsageMistake(const QString& what) {
    PrintLine(stderr, QStringLiteral("%1: %2").arg(QLatin1String(kProgramName), what));
    return kExitUsage;
}

QString QuotedTable(const TableName& table) {
    return QStringLiteral("\"%1\".\"%2\"")
        .arg(QString::fromStdString(table.schema), QString::fromStdString(table.name));
}

// The one table `list` shows as `text`, or the mistake that says why there is none.
std::optional<ListedTable> FindTable(const TableList& list, const QString& text, int database,
                                     QString& mistake) {
    const std::vector<ListedTable> named = list.Named(text.toStdString());
    if (named.size() == 1) return named.front();
    if (named.empty()) {
        mistake = QStringLiteral("database #%1 has no table '%2' (\"%3 tables %1\" lists them)")
                      .arg(database)
                      .arg(text, QLatin1String(kProgramName));
        return std::nullopt;
    }
    QStringList tables;
    for (const ListedTable& table : named) tables << QuotedTable(table.table);
    mistake = QStringLiteral(
                  "'%1' stands for %2 tables of database #%3 (%4), and the command line cannot "
                  "tell them apart; rename one of them")
                  .arg(text)
                  .arg(named.size())
                  .arg(database)
                  .arg(tables.join(QStringLiteral(", ")));
    return std::nullopt;
}

// Lists database #`database`'s tables as its list on the table selection screen holds them.
// False when the listing reported a failure, or the program is ending.
bool ListDatabase(int database, const ProfileSource& profiles, ConsoleHost& host, TableList& list) {
    const int reports = host.Reports();
    if (database == 1)
        AddTablesToPostgreSQLListbox(list, profiles, host);
    else
        AddTablesToPostgreSQLListbox2(list, profiles, host);
    return host.Reports() == reports && !ProgramEnding();
}

int Tables(const CommandLine& command_line, const ProfileSource& profiles, ConsoleHost& host) {
    TableList list;
    if (!ListDatabase(command_line.database, profiles, host, list)) return kExitNotDone;
    for (const ListedTable& table : list.Tables()) PrintLine(stdout, table.text);
    return 0;
}

int Append(const CommandLine& command_line, const ProfileSource& profiles, ConsoleHost& host) {
    // The destination is in database #`to`, the source in the other.
    const int to = command_line.database;
    const int from = to == 1 ? 2 : 1;
    TableList lists[2];
    for (const int database : {1, 2}) {
        if (!ListDatabase(database, profiles, host, lists[database - 1])) {
            // Ended by a signal before the run began: nothing was counted, nothing appended.
            if (ProgramEnding()) PrintLine(stdout, EndingMessage(AppendOutcome()));
            return kExitNotDone;
        }
    }
    QString mistake;
    const std::optional<ListedTable> source =
        FindTable(lists[from - 1], command_line.source_table, from, mistake);
    if (!source) return UsageMistake(mistake);
    const std::optional<ListedTable> destination =
        FindTable(lists[to - 1], command_line.destination_table, to, mistake);
    if (!destination) return UsageMistake(mistake);

    // As the screen's selections and option buttons would have it.
    AppendRequest request;
    request.table1 = to == 1 ? destination : source;
    request.table2 = to == 1 ? source : destination;
    request.option1 = to == 1;
    request.profile1 = profiles.Profile1();
    request.profile2 = profiles.Profile2();
    const AppendOutcome outcome = RunAppend(request, host);
    // The screen ends silently on a termination signal; a script's log is the command's only
    // witness, so it says how far the run got.
    if (outcome.end == AppendOutcome::End::ProgramEnding) {
        host.ResetProgress();
        PrintLine(stdout, EndingMessage(outcome));
        if (!outcome.refused_rows_path.empty())
            PrintLine(stdout, RefusedRowsNote(outcome.refused, outcome.refused_rows_path));
    }
    return AppendExitStatus(outcome);
}

}  // namespace

Profile StoredProfiles::Profile1() const {
    return StoredProfile(store_, QString());
}

Profile StoredProfiles::Profile2() const {
    return StoredProfile(store_, QStringLiteral("2"));
}

std::optional<QString> SettingsFileProblem(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        if (errno == ENOENT)
            return QStringLiteral(
                       "the settings file %1 does not exist (the connection screen "
                       "saves the profiles there, or name another with --settings)")
                .arg(path);
        return QStringLiteral("cannot use the settings file %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("the settings file %1 is not a file").arg(path);
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return QStringLiteral(
                   "the settings file %1 holds passwords but others may read or change it "
                   "(mode %2); make it private with: chmod 600 %1")
            .arg(path)
            .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    if (::access(name.constData(), R_OK) != 0)
        return QStringLiteral("cannot read the settings file %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return std::nullopt;
}

int AppendExitStatus(const AppendOutcome& outcome) {
    switch (outcome.end) {
        case AppendOutcome::End::Done:
            return outcome.refused > 0 ? kExitRowsRefused : 0;
        case AppendOutcome::End::NoRecords:
            return 0;
        default:
            return kExitNotDone;
    }
}

std::string EndingMessage(const AppendOutcome& outcome) {
    if (!outcome.source_rows) return "Appending stopped. No rows were appended.";
    return StoppedMessage(outcome.tally, *outcome.source_rows);
}

int RunCommand(const CommandLine& command_line, int& argc, char** argv) {
    const QString settings_file = command_line.settings_file.isEmpty()
                                      ? ProfileStore::UserFilePath()
                                      : command_line.settings_file;
    if (const std::optional<QString> problem = SettingsFileProblem(settings_file))
        return UsageMistake(*problem);

    // No display and no window toolkit: the commands need neither.
    QCoreApplication application(argc, argv);
    QuitOnTerminationSignals();
    const ProfileStore store(settings_file);
    const StoredProfiles profiles(store);
    ConsoleHost host(stdout, stderr, ::isatty(STDERR_FILENO) == 1);
    if (command_line.command == Command::Tables) return Tables(command_line, profiles, host);
    return Append(command_line, profiles, host);
}

}  // namespace trp
