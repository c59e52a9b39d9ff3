#include "campaign/run.h"

#include <signal.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>
#include <unordered_map>

#include "campaign/fault_injector.h"
#include "support/command_run.h"

namespace trp::campaign {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr auto kLongestRun = std::chrono::minutes(8);
// The 3 s grace of a signal plus 1 s.
constexpr auto kEndAfterSignal = milliseconds(4000);

std::string Who() {
    return std::string("usename = '") + test::kTestUser + "' AND datname = current_database()";
}

bool MomentCame(const Scene& scene, const Draw& draw) {
    const Moment moment = draw.fault == Fault::None ? Moment::DuringRows : draw.moment;
    std::string sql;
    switch (moment) {
        case Moment::BeforeRows:
            sql = "SELECT count(*) > 0 FROM pg_stat_activity WHERE " + Who();
            break;
        case Moment::DuringRows:
            sql = "SELECT count(*) > 0 FROM pg_stat_activity WHERE " + Who() +
                  " AND state = 'active' AND (query ILIKE 'copy%from stdin%' OR query ILIKE "
                  "'insert%')";
            break;
        case Moment::InsideCommit:
            sql = "SELECT count(*) > 0 FROM pg_stat_activity WHERE " + Who() +
                  " AND wait_event IN ('SyncRep', 'PgSleep')";
            break;
        case Moment::BetweenBatches:
            sql = std::string("SELECT EXISTS (SELECT 1 FROM ") + kDestinationTable + ")";
            break;
    }
    try {
        return AdminScalar(*scene.destination_server, kDestinationDatabase, sql) == "t";
    } catch (const std::exception&) {
        return false;  // a server that is not there yet
    }
}

// The local ports of the poolers' connections to servers: on a direct route, a session from one
// of them is a pooler's of another run, not this run's.
std::string PoolerPorts() {
    QProcess ss;
    ss.start(QStringLiteral("ss"),
             {QStringLiteral("-Htnp"), QStringLiteral("state"), QStringLiteral("established")});
    ss.waitForFinished(10000);
    QStringList ports{QStringLiteral("0")};
    for (const QString& line : QString::fromUtf8(ss.readAllStandardOutput()).split(u'\n')) {
        if (!line.contains(QStringLiteral("\"pgbouncer\""))) continue;
        const QStringList fields = line.simplified().split(u' ');
        if (fields.size() > 2) ports << fields[2].section(u':', -1);
    }
    return ports.join(u',').toStdString();
}

// The sessions a pooler of an earlier run keeps on a server, which are none of this run's.
std::string SessionsBefore(const TemporaryCluster& server, const std::string& database) {
    return AdminScalar(server, database,
                       "SELECT coalesce(string_agg(pid::text, ','), '0') FROM pg_stat_activity "
                       "WHERE " +
                           Who());
}

// Sessions of the program's role a server still holds. Behind a pooler, whose own server
// sessions stay by design, and after a cut link, only those in a transaction or a statement
// count: a session cut off before its first statement holds nothing, and only the server's own
// keepalives can end it.
long long SessionsLeft(const TemporaryCluster& server, const std::string& database,
                       const std::string& before, bool direct, bool only_busy) {
    try {
        return std::stoll(AdminScalar(
            server, database,
            "SELECT count(*) FROM pg_stat_activity WHERE " + Who() + " AND pid NOT IN (" + before +
                ")" + (only_busy ? " AND state <> 'idle'" : "") +
                (direct ? " AND client_port NOT IN (" + PoolerPorts() + ")" : "")));
    } catch (const std::exception&) {
        return -1;
    }
}

// What the sessions of the program's role on a server are doing, for a violation's message.
std::string SessionsOn(const TemporaryCluster& server, const std::string& database,
                       const std::string& before) {
    try {
        return AdminScalar(server, database,
                           "SELECT string_agg(format('%s %s %s %s since %s: %s', pid, "
                           "application_name, state, wait_event, now() - backend_start, "
                           "left(query, 80)), '; ') FROM pg_stat_activity WHERE " +
                               Who() + " AND pid NOT IN (" + before + ")");
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

struct SessionsAtStart {
    std::string destination;
    std::string source;
};

bool WaitForNoSessions(const Scene& scene, const Draw& draw, const SessionsAtStart& before,
                       Clock::duration bound, bool idle_allowed) {
    const auto until = Clock::now() + bound;
    const bool direct = draw.route == Route::Direct;
    while (true) {
        long long left = SessionsLeft(*scene.destination_server, kDestinationDatabase,
                                      before.destination, direct, !direct || idle_allowed);
        if (scene.source_server != scene.destination_server && left == 0)
            left = SessionsLeft(*scene.source_server, scene.source_database, before.source, true,
                                idle_allowed);
        if (left == 0) return true;
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(milliseconds(200));
    }
}

// "id|value|digest of the padding" for each row of a table.
std::vector<std::pair<int, std::string>> RowsOf(const TemporaryCluster& server,
                                                const std::string& database,
                                                const std::string& table) {
    std::vector<std::pair<int, std::string>> rows;
    for (const auto& row :
         test::QueryRows(server.AdminProfile(database),
                         "SELECT id, coalesce(v::text, 'NULL') || '|' || md5(pad) FROM " + table))
        rows.emplace_back(std::stoi(*row[0]), *row[1]);
    return rows;
}

struct LastMessage {
    bool done = false;
    bool stopped = false;
    long long appended = 0;
    long long unchecked = 0;
    long long refused_note = 0;
};

long long Number(const QString& text) {
    QString digits = text;
    return digits.remove(u',').toLongLong();
}

LastMessage Parse(const QString& output) {
    LastMessage m;
    static const QRegularExpression stopped(
        QStringLiteral(R"(^Appending stopped\. (?:No rows were appended\.|([\d,]+) of [\d,]+ rows )"
                       R"(were appended\.)(?: Whether the last ([\d,]+) rows were appended could )"
                       R"(not be checked\.)?)"),
        QRegularExpression::MultilineOption);
    static const QRegularExpression refused(
        QStringLiteral(R"(^([\d,]+) rows? (?:was|were) refused)"),
        QRegularExpression::MultilineOption);
    m.done = output.startsWith(QStringLiteral("Done."));
    if (const auto match = stopped.match(output); match.hasMatch()) {
        m.stopped = true;
        m.appended = Number(match.captured(1));
        m.unchecked = Number(match.captured(2));
    }
    if (const auto match = refused.match(output); match.hasMatch())
        m.refused_note = Number(match.captured(1));
    return m;
}

// Faults after which a run must still end with "Done.": a server alive and waiting, a short
// pause of the source, a blip ridden out.
bool MustFinish(const Draw& d) {
    if (d.ending != Ending::None) return false;
    switch (d.fault) {
        case Fault::None:
        case Fault::SlowCommitTrigger:
        case Fault::BoxLeftOpen:  // no session may be lost while the report waits
            return true;
        case Fault::LockHeld:
            // The rows wait for a lock as long as it takes; the checks before them do not.
            return d.moment != Moment::BeforeRows;
        case Fault::CommitHeld:
            // Within one database a restart takes the source's session with it.
            return !d.restart_after_hold || (d.reconnect_for > 0 && d.path != Path::OneDatabase);
        case Fault::SourceFrozen:
        case Fault::LinkCut:
            return d.fault_seconds < 20;
        default:
            return false;
    }
}

// A destination that went away once the rows were moving and came back at once: within the
// budget the run rides it out, and ends with "Done." unless a commit in doubt could not be
// checked. Within one database a restart takes the source's snapshot with it.
bool RidesOut(const Draw& d) {
    if (d.reconnect_for == 0 || d.ending != Ending::None || d.path == Path::OneDatabase ||
        d.moment == Moment::BeforeRows)
        return false;
    switch (d.fault) {
        case Fault::RestartFast:
        case Fault::RestartImmediate:
        case Fault::PostmasterKilled:
        case Fault::IdsTakenAfterRestart:
            return true;
        default:
            return false;
    }
}

}  // namespace

RunResult RunOnce(World& world, const Draw& draw, const std::string& program) {
    RunResult result;
    const auto violation = [&](const std::string& text) { result.violations.push_back(text); };
    Scene scene = world.Prepare(draw);
    QTemporaryDir home;
    const QString settings = home.filePath(QStringLiteral("profiles.conf"));
    test::SaveProfiles(settings, scene.source, scene.destination);

    const SessionsAtStart before{SessionsBefore(*scene.destination_server, kDestinationDatabase),
                                 SessionsBefore(*scene.source_server, scene.source_database)};
    FaultInjector injector(scene, draw);
    QProcess process;
    QProcessEnvironment environment = test::HeadlessEnvironment(home.path());
    if (draw.screens)
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    const auto started = Clock::now();
    if (draw.screens) {
        const QString answer = draw.ending == Ending::StopOnReport ? QStringLiteral("stop")
                               : draw.fault == Fault::BoxLeftOpen
                                   ? QStringLiteral("hold:%1").arg(draw.fault_seconds)
                                   : QStringLiteral("ok");
        process.start(
            QStringLiteral(TRP_CAMPAIGN_SCREEN_CHILD),
            {settings, QString::fromStdString(scene.source_table),
             QString::fromLatin1(kDestinationTable), answer, QString::number(draw.writers)});
    } else {
        QStringList arguments = {QStringLiteral("append"),
                                 QStringLiteral("--settings"),
                                 settings,
                                 QStringLiteral("--to"),
                                 QStringLiteral("2"),
                                 QStringLiteral("--reconnect-for"),
                                 QString::number(draw.reconnect_for),
                                 QStringLiteral("--writers"),
                                 QString::number(draw.writers)};
        if (draw.readers > 0)
            arguments << QStringLiteral("--readers") << QString::number(draw.readers);
        arguments << QString::fromStdString(scene.source_table)
                  << QString::fromLatin1(kDestinationTable);
        process.start(QString::fromStdString(program), arguments);
    }
    if (!process.waitForStarted(30000)) {
        violation("the program did not start");
        return result;
    }
    const bool wants_moment = draw.fault != Fault::None || draw.ending != Ending::None;
    bool moment_seen = false;
    std::optional<Clock::time_point> signal_at;
    std::optional<Clock::time_point> signalled;
    bool killed = false;
    while (!process.waitForFinished(20)) {
        if (wants_moment && !moment_seen && MomentCame(scene, draw)) {
            moment_seen = true;
            const auto begun = Clock::now();
            injector.Begin();
            result.fault_injected = draw.fault != Fault::None;
            if (draw.ending == Ending::Sigterm || draw.ending == Ending::Sigint)
                signal_at = begun + milliseconds(draw.signal_delay_ms);
        }
        const auto now = Clock::now();
        injector.EndIfDue(now);
        if (signal_at && !signalled && now >= *signal_at) {
            ::kill(static_cast<pid_t>(process.processId()),
                   draw.ending == Ending::Sigterm ? SIGTERM : SIGINT);
            signalled = now;
        }
        const bool overdue =
            signalled ? now - *signalled > seconds(30) : now - started > kLongestRun;
        if (overdue && !killed) {
            violation("the program did not end; killed");
            process.kill();
            killed = true;
        }
    }
    const auto ended = Clock::now();
    result.seconds = std::chrono::duration<double>(ended - started).count();
    if (signalled && ended - *signalled > kEndAfterSignal)
        violation(
            "the program ended " +
            std::to_string(std::chrono::duration_cast<milliseconds>(ended - *signalled).count()) +
            " ms after the signal");
    const QString output = QString::fromUtf8(process.readAllStandardOutput());
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    result.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.last_message = output.section(u'\n', 0, 0).toStdString();

    // 5: no session of the program left behind; a cut link may keep one up to 2 minutes.
    if (injector.LinkStillCut()) {
        if (!WaitForNoSessions(scene, draw, before, std::chrono::minutes(2), true))
            violation(
                "a session of the program outlived the cut link by 2 minutes: " +
                SessionsOn(*scene.destination_server, kDestinationDatabase, before.destination));
        injector.End();
    } else {
        injector.End();
        if (!WaitForNoSessions(scene, draw, before, seconds(10), false))
            violation(
                "a session of the program was left on a server: " +
                SessionsOn(*scene.destination_server, kDestinationDatabase, before.destination) +
                " / source: " +
                SessionsOn(*scene.source_server, scene.source_database, before.source));
    }
    world.Restore(scene);

    const LastMessage last = Parse(output);
    if (MustFinish(draw) && !last.done) violation("the run should have ended with \"Done.\"");
    if (RidesOut(draw) && result.fault_injected && !last.done && last.unchecked == 0)
        violation("a destination back within the budget ended the run");

    // 1: one report for the fault at most, and one for each refused row.
    long long row_reports = 0;
    long long other_reports = 0;
    // A refused row's report carries the server's words for that row.
    static const QRegularExpression refusal(
        QStringLiteral("violates check constraint|invalid input syntax for (type )?integer"));
    // A connection that could not be opened (lines 130 to 136) is used all the same by the
    // column-count check that follows, which then reports the closed connection: one fault.
    static const QRegularExpression opening(
        QStringLiteral("PushButton2_Click at line 13[0246]\\b"));
    static const QRegularExpression closed_check(
        QStringLiteral("Operation is not allowed when the connection is closed\\.\\s+in "
                       "\\S+PushButton2_Click at line 14[02]\\b"));
    bool opening_failed = false;
    // Listing the tables to find the named ones comes before the run, and goes on step by step
    // as the screen's list does: its reports are not the run's.
    for (const QString& report : test::ReportsIn(errors)) {
        if (!report.contains(QStringLiteral("PushButton2_Click"))) continue;
        if (opening_failed && report.contains(closed_check)) continue;
        if (report.contains(opening)) opening_failed = true;
        ++(report.contains(refusal) ? row_reports : other_reports);
    }
    static const QRegularExpression server_notice(QStringLiteral("^(WARNING|NOTICE|INFO):  "),
                                                  QRegularExpression::MultilineOption);
    if (errors.contains(server_notice)) violation("a server's notice on standard error");
    if (other_reports > 1) violation(std::to_string(other_reports) + " reports for the run");
    if (errors.contains(QStringLiteral("duplicate key value violates unique constraint")))
        violation("a row sent twice was refused by the destination's key");
    if (row_reports > scene.refusable_rows)
        violation(std::to_string(row_reports) + " refused rows' reports for " +
                  std::to_string(scene.refusable_rows) + " refusable rows");

    // 3: no row doubled or altered.
    const auto source_rows =
        RowsOf(*scene.source_server, scene.source_database, scene.source_table);
    std::unordered_map<int, std::string> source(source_rows.begin(), source_rows.end());
    const auto arrived_rows =
        RowsOf(*scene.destination_server, kDestinationDatabase, kDestinationTable);
    const long long arrived = static_cast<long long>(arrived_rows.size());
    std::set<int> seen;
    long long doubled = 0;
    long long altered = 0;
    for (const auto& [id, row] : arrived_rows) {
        if (!seen.insert(id).second) ++doubled;
        const auto it = source.find(id);
        if (it == source.end() || it->second != row) ++altered;
    }
    if (doubled)
        violation(std::to_string(doubled) + " rows arrived twice; copies, ids and first ids: " +
                  AdminScalar(
                      *scene.destination_server, kDestinationDatabase,
                      std::string("SELECT string_agg(format('%s: %s from %s to %s', n, c, lo, hi), "
                                  "'; ') FROM (SELECT n, count(*) c, min(id) lo, max(id) "
                                  "hi FROM (SELECT id, count(*) n FROM ") +
                          kDestinationTable + " GROUP BY id) s GROUP BY n) t"));
    if (altered) violation(std::to_string(altered) + " rows arrived altered");

    // 2 and 4: the count the user reads is the rows that arrived.
    const long long expected_done = scene.source_rows - scene.refusable_rows;
    if (last.done) {
        if (arrived != expected_done)
            violation("\"Done.\" with " + std::to_string(arrived) + " rows arrived of " +
                      std::to_string(expected_done));
        if (last.refused_note != scene.refusable_rows || row_reports != scene.refusable_rows)
            violation("\"Done.\" with " + std::to_string(last.refused_note) + " rows noted and " +
                      std::to_string(row_reports) + " reported as refused of " +
                      std::to_string(scene.refusable_rows));
    } else if (last.stopped) {
        if (arrived < last.appended || arrived > last.appended + last.unchecked)
            violation("X = " + std::to_string(last.appended) + " (" +
                      std::to_string(last.unchecked) + " unchecked) with " +
                      std::to_string(arrived) + " rows arrived");
    } else if (arrived != 0) {
        // A failed check or connection ends the run before any row is sent.
        violation(std::to_string(arrived) + " rows arrived after the last message \"" +
                  result.last_message + "\"");
    }

    // 7: the exit status of the documented table (the command's; the screens end as any window).
    // A fault before the rows may keep the screens from the table selection screen (3) or its
    // lists from the tables (4): the user then stays where the report left them.
    const bool screens_stopped_short = draw.screens && draw.moment == Moment::BeforeRows &&
                                       result.fault_injected && !last.done && !last.stopped &&
                                       (result.exit_code == 3 || result.exit_code == 4);
    const int expected_status = screens_stopped_short ? result.exit_code
                                : draw.screens        ? 0
                                : last.done           ? (scene.refusable_rows > 0 ? 1 : 0)
                                                      : 3;
    if (result.exit_code != expected_status)
        violation("exit status " + std::to_string(result.exit_code) + " instead of " +
                  std::to_string(expected_status));
    if (!result.violations.empty()) {
        // For a closer look: the destination server's log, where one was asked for.
        if (const char* keep = std::getenv("TRP_CAMPAIGN_SERVER_LOG"); keep && *keep)
            std::filesystem::copy_file(scene.destination_server->Directory() + "/server.log", keep,
                                       std::filesystem::copy_options::overwrite_existing);
        result.violations.push_back("standard output: " + output.toStdString());
        result.violations.push_back("standard error: " + errors.right(3000).toStdString());
    }
    return result;
}

}  // namespace trp::campaign
