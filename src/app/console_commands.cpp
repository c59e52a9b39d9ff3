#include "app/console_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
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

// One line on standard error; a failure there can be reported nowhere.
void PrintError(const QString& line) {
    WriteAndFlush(stderr, (line + u'\n').toLocal8Bit().toStdString());
}

// A mistake that ends the command with the usage status, in one line on standard error.
int UsageMistake(const QString& what) {
    PrintError(QStringLiteral("%1: %2").arg(QLatin1String(kProgramName), what));
    return kExitUsage;
}

// The line standard error gets when standard output could not take the end of `command`: what
// it was (the last message of `append`, on one line), since nothing else will show it.
QString UnwrittenEndLine(Command command, int error, const std::string& unwritten) {
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    if (command == Command::Tables)
        return QStringLiteral("%1: could not write the tables to standard output (%2)")
            .arg(QLatin1String(kProgramName), reason);
    std::string lines = unwritten;
    while (!lines.empty() && lines.back() == '\n') lines.pop_back();
    std::replace(lines.begin(), lines.end(), '\n', ' ');
    return QStringLiteral("%1: could not write the last message to standard output (%2): %3")
        .arg(QLatin1String(kProgramName), reason, QString::fromStdString(lines));
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
    for (const ListedTable& table : list.Tables()) host.PrintOutput(table.text + '\n');
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
            if (ProgramEnding()) host.ShowMessage(EndingMessage(AppendOutcome()));
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
    AppendOptions options;
    if (command_line.reconnect_for)
        options.reconnect_for = std::chrono::seconds(*command_line.reconnect_for);
    if (command_line.writers) options.writers = *command_line.writers;
    if (command_line.readers) options.readers = *command_line.readers;
    const AppendOutcome outcome = RunAppend(request, host, options);
    // The screen ends silently on a termination signal; a script's log is the command's only
    // witness, so it says how far the run got.
    if (outcome.end == AppendOutcome::End::ProgramEnding) {
        if (outcome.refused_rows_path.empty())
            host.ShowMessage(EndingMessage(outcome));
        else
            host.ShowMessageWithRefusedRows(
                EndingMessage(outcome), RefusedRowsNote(outcome.refused, outcome.refused_rows_path),
                std::string());
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
    const int status = command_line.command == Command::Tables
                           ? Tables(command_line, profiles, host)
                           : Append(command_line, profiles, host);
    if (host.OutputError() == 0) return status;
    // Whatever became of the rows, a script that reads the end did not get it.
    PrintError(UnwrittenEndLine(command_line.command, host.OutputError(), host.UnwrittenOutput()));
    return kExitUnwritten;
}

}  // namespace trp
