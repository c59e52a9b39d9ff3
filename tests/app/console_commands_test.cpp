// The program's commands, run as a script or a timer runs them: the real program, without a
// display, against real servers. What they print where, their exit statuses, the tables they
// know, and a termination signal in the middle of a run.
#include "app/console_commands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "app/command_line.h"
#include "settings/profile_store.h"
#include "support/command_run.h"
#include "support/controls.h"
#include "support/fixed_profiles.h"
#include "support/pg_fixture.h"
#include "support/recording_navigator.h"
#include "ui/form2.h"

namespace trp {
namespace {

unsigned Mode(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

class CommandTest : public test::PgTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        db1_ = CreateDatabase("command_one");
        db2_ = CreateDatabase("command_two");
        settings_ = home_.filePath("profiles.conf");
        test::SaveProfiles(settings_, UserProfile(db1_), UserProfile(db2_));
    }

    // The program with these arguments and --settings naming the test's profiles.
    test::ProgramResult Run(QStringList arguments) {
        arguments.insert(1, QStringLiteral("--settings"));
        arguments.insert(2, settings_);
        return test::RunCommand(QStringLiteral(TRP_PROGRAM_FILE), arguments, home_.path());
    }
    // The program with standard output (`stream` 1) or standard error (2) into a pipe whose
    // reader is gone (`| true`), or else into /dev/full; the other stream is read as usual.
    test::ProgramResult RunInto(int stream, bool closed_pipe, const QStringList& arguments) {
        int ends[2] = {-1, -1};
        if (closed_pipe && ::pipe2(ends, O_CLOEXEC) == 0) ::close(ends[0]);
        const int sink = closed_pipe ? ends[1] : ::open("/dev/full", O_WRONLY | O_CLOEXEC);
        QProcess program;
        program.setProcessEnvironment(test::HeadlessEnvironment(home_.path()));
        program.setChildProcessModifier([sink, stream] { ::dup2(sink, stream); });
        program.start(TRP_PROGRAM_FILE, arguments);
        program.waitForFinished(120'000);
        ::close(sink);
        return {program.exitStatus() == QProcess::NormalExit, program.exitCode(),
                QString::fromLocal8Bit(program.readAllStandardOutput()),
                QString::fromLocal8Bit(program.readAllStandardError())};
    }
    long long Count(const std::string& database, const std::string& table) {
        return std::stoll(Scalar(database, "SELECT count(*) FROM " + table));
    }

    QTemporaryDir home_;
    QString settings_;
    std::string db1_;
    std::string db2_;
};

TEST_F(CommandTest, AppendsInEitherDirectoryAndPrintsOnlyTheLastMessageWithStatusZero) {
    Exec(db1_,
         "CREATE TABLE src (id int, note text); CREATE TABLE back (id int, note text);"
         "INSERT INTO src SELECT g, 'row ' || g FROM generate_series(1, 1000) g");
    Exec(db2_, "CREATE TABLE dst (id int, note text); CREATE TABLE empty (id int, note text)");

    const test::ProgramResult to2 = Run({"append", "--to", "2", "src", "dst"});
    ASSERT_TRUE(to2.exited);
    EXPECT_EQ(to2.exit_code, 0) << to2.errors.toStdString();
    EXPECT_EQ(to2.output, "Done.\n");
    // No display, no window toolkit: nothing about either on standard error, nor anything else.
    EXPECT_EQ(to2.errors, "");
    EXPECT_EQ(Query(db2_, "SELECT count(*), sum(id), max(note) FROM dst"),
              Query(db1_, "SELECT count(*), sum(id), max(note) FROM src"));

    // --to 1: database #2's table is the source.
    const test::ProgramResult to1 = Run({"append", "--to", "1", "dst", "back"});
    EXPECT_EQ(to1.exit_code, 0) << to1.errors.toStdString();
    EXPECT_EQ(to1.output, "Done.\n");
    EXPECT_EQ(Count(db1_, "back"), 1000);

    // An empty source is no failure.
    const test::ProgramResult empty = Run({"append", "--to", "1", "empty", "back"});
    EXPECT_EQ(empty.exit_code, 0) << empty.errors.toStdString();
    EXPECT_EQ(empty.output, "No records in table empty.\n");
    EXPECT_EQ(empty.errors, "");
    EXPECT_EQ(Count(db1_, "back"), 1000);
}

TEST_F(CommandTest, RefusedRowsAreReportedAndKeptAndEndWithStatusOne) {
    Exec(db1_,
         "CREATE TABLE src (id int, qty int);"
         "INSERT INTO src SELECT g, CASE WHEN g % 40 = 0 THEN -g ELSE g END "
         "FROM generate_series(1, 100) g");
    Exec(db2_, "CREATE TABLE dst (id int, qty int CONSTRAINT positive CHECK (qty >= 0))");

    const test::ProgramResult run = Run({"append", "--to", "2", "src", "dst"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exit_code, kExitRowsRefused) << run.errors.toStdString();
    const QStringList lines = run.output.split(u'\n');
    ASSERT_EQ(lines.size(), 3) << run.output.toStdString();
    EXPECT_EQ(lines[0], "Done.");
    const auto note = QRegularExpression("^2 rows were refused; they are listed in (/.+\\.csv)\\.$")
                          .match(lines[1]);
    ASSERT_TRUE(note.hasMatch()) << lines[1].toStdString();
    EXPECT_TRUE(note.captured(1).startsWith(qEnvironmentVariable("XDG_STATE_HOME")));
    QFile kept(note.captured(1));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "id,qty\n40,-40\n80,-80\n");

    const QStringList reports = test::ReportsIn(run.errors);
    ASSERT_EQ(reports.size(), 2) << run.errors.toStdString();
    for (const QString& report : reports) {
        EXPECT_TRUE(report.contains("violates check constraint \"positive\""))
            << report.toStdString();
        EXPECT_TRUE(report.contains("PushButton2_Click at line 212\n\n")) << report.toStdString();
    }
    EXPECT_EQ(Count(db2_, "dst"), 98);
}

TEST_F(CommandTest, UsageMistakesUnknownAndAmbiguousTablesEndWithStatusTwoBeforeAnyRow) {
    Exec(db1_,
         "CREATE TABLE src (id int); INSERT INTO src VALUES (1);"
         "CREATE SCHEMA sales; CREATE TABLE sales.orders (id int);"
         "CREATE TABLE \"sales.orders\" (id int)");
    Exec(db2_, "CREATE TABLE dst (id int)");

    const test::ProgramResult unknown = Run({"append", "--to", "2", "src", "dts"});
    EXPECT_EQ(unknown.exit_code, kExitUsage);
    EXPECT_EQ(unknown.output, "");
    EXPECT_EQ(unknown.errors,
              "tessaline-row-porter: database #2 has no table 'dts' (\"tessaline-row-porter "
              "tables 2\" lists them)\n");
    // The source is looked for in the other database than --to names.
    EXPECT_EQ(Run({"append", "--to", "1", "src", "dst"}).exit_code, kExitUsage);

    // Both read "sales.orders" in the list; the command does not guess which is meant.
    const test::ProgramResult listed = Run({"tables", "1"});
    EXPECT_EQ(listed.exit_code, 0) << listed.errors.toStdString();
    EXPECT_EQ(listed.output.count("sales.orders\n"), 2) << listed.output.toStdString();
    const test::ProgramResult ambiguous = Run({"append", "--to", "2", "sales.orders", "dst"});
    EXPECT_EQ(ambiguous.exit_code, kExitUsage);
    EXPECT_EQ(ambiguous.output, "");
    EXPECT_TRUE(ambiguous.errors.startsWith(
        "tessaline-row-porter: 'sales.orders' stands for 2 tables of database #1 ("))
        << ambiguous.errors.toStdString();
    EXPECT_TRUE(ambiguous.errors.contains("\"public\".\"sales.orders\""));
    EXPECT_TRUE(ambiguous.errors.contains("\"sales\".\"orders\""));

    const test::ProgramResult option = Run({"append", "--to", "2", "--bogus", "src", "dst"});
    EXPECT_EQ(option.exit_code, kExitUsage);
    EXPECT_TRUE(
        option.errors.startsWith("tessaline-row-porter: unknown option '--bogus' for append\n"));
    EXPECT_EQ(Count(db2_, "dst"), 0);
}

TEST_F(CommandTest, ASettingsFileOthersMayReadOrChangeIsRefusedAndLeftAsItIs) {
    Exec(db1_, "CREATE TABLE src (id int); INSERT INTO src VALUES (1)");
    Exec(db2_, "CREATE TABLE dst (id int)");
    QFile file(settings_);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    file.close();
    for (const unsigned mode : {0640u, 0604u, 0620u, 0602u}) {
        ASSERT_EQ(::chmod(QFile::encodeName(settings_).constData(), mode), 0);
        const test::ProgramResult run = Run({"append", "--to", "2", "src", "dst"});
        EXPECT_EQ(run.exit_code, kExitUsage) << std::oct << mode;
        EXPECT_EQ(run.output, "");
        EXPECT_TRUE(run.errors.contains("holds passwords")) << run.errors.toStdString();
        EXPECT_TRUE(run.errors.contains("chmod 600 " + settings_)) << run.errors.toStdString();
        EXPECT_EQ(Mode(settings_), mode);
        EXPECT_EQ(test::RunCommand(TRP_PROGRAM_FILE, {"tables", "1", "--settings", settings_},
                                   home_.path())
                      .exit_code,
                  kExitUsage);
        EXPECT_EQ(Mode(settings_), mode);
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), content);
    EXPECT_EQ(Count(db2_, "dst"), 0);

    // A file that is not there is not made; without --settings, the user's own is meant.
    const QString missing = home_.filePath("missing.conf");
    const test::ProgramResult absent =
        test::RunCommand(TRP_PROGRAM_FILE, {"tables", "1", "--settings", missing}, home_.path());
    EXPECT_EQ(absent.exit_code, kExitUsage);
    EXPECT_TRUE(absent.errors.contains("does not exist")) << absent.errors.toStdString();
    EXPECT_FALSE(QFileInfo::exists(missing));
    const test::ProgramResult own =
        test::RunCommand(TRP_PROGRAM_FILE, {"tables", "1"}, home_.path());
    EXPECT_EQ(own.exit_code, kExitUsage);
    EXPECT_TRUE(own.errors.contains(home_.filePath(".config/Kestrelby.conf")))
        << own.errors.toStdString();
}

TEST_F(CommandTest, RunsThatDoNotGoThroughEndWithStatusThree) {
    Exec(db1_,
         "CREATE TABLE src (id int, note text);"
         "INSERT INTO src SELECT g, 'x' FROM generate_series(1, 50) g");
    Exec(db2_, "CREATE TABLE narrow (id int)");
    Admin(db2_, "CREATE TABLE locked (id int, note text); GRANT SELECT ON locked TO porter");

    const test::ProgramResult columns = Run({"append", "--to", "2", "src", "narrow"});
    EXPECT_EQ(columns.exit_code, kExitNotDone);
    EXPECT_EQ(columns.output, "Tables do not have same number of fields (columns).\n");
    EXPECT_EQ(columns.errors, "");

    // A failure of the whole run: one report, and the stopped message.
    const test::ProgramResult privilege = Run({"append", "--to", "2", "src", "locked"});
    EXPECT_EQ(privilege.exit_code, kExitNotDone);
    EXPECT_EQ(privilege.output, "Appending stopped. 0 of 50 rows were appended.\n");
    const QStringList reports = test::ReportsIn(privilege.errors);
    ASSERT_EQ(reports.size(), 1) << privilege.errors.toStdString();
    EXPECT_TRUE(reports[0].startsWith("ERROR:  permission denied for table locked\n"))
        << reports[0].toStdString();

    // A database that cannot be reached: the listing's report, and nothing on standard output.
    Profile wrong = UserProfile(db2_);
    wrong.password += "-not";
    test::SaveProfiles(settings_, UserProfile(db1_), wrong);
    const test::ProgramResult login = Run({"append", "--to", "2", "src", "narrow"});
    EXPECT_EQ(login.exit_code, kExitNotDone);
    EXPECT_EQ(login.output, "");
    EXPECT_TRUE(login.errors.contains("password authentication failed"))
        << login.errors.toStdString();
    EXPECT_TRUE(login.errors.contains("AddTablesToPostgreSQLListbox2 at line"));
    EXPECT_EQ(Run({"tables", "2"}).exit_code, kExitNotDone);
    EXPECT_EQ(Run({"tables", "1"}).exit_code, 0);
}

TEST_F(CommandTest, AnEndStandardOutputCannotTakeIsSaidOnStandardErrorWithStatusThree) {
    Exec(db1_,
         "CREATE TABLE src (id int, qty int); INSERT INTO src SELECT g, CASE WHEN g % 40 = 0 "
         "THEN -g ELSE g END FROM generate_series(1, 100) g");
    Exec(db2_,
         "CREATE TABLE dst (id int, qty int CHECK (qty >= 0)); CREATE TABLE plain (id int, qty "
         "int)");
    const struct {
        QStringList arguments;
        const char* line;  // the end of standard error, after "tessaline-row-porter: "
        long long rows;    // that arrived in dst or plain
    } cases[] = {
        {{"append", "--to", "2", "src", "plain"},
         "could not write the last message to standard output \\(%1\\): Done\\.",
         100},
        {{"append", "--to", "2", "src", "dst"},
         "could not write the last message to standard output \\(%1\\): Done\\. 2 rows were "
         "refused; they are listed in /.+\\.csv\\.",
         98},
        {{"tables", "1"}, "could not write the tables to standard output \\(%1\\)", 0},
        {{"--version"}, "could not write to standard output \\(%1\\)", 0},
    };
    for (const bool closed_pipe : {true, false}) {
        const QString reason = QString::fromLocal8Bit(std::strerror(closed_pipe ? EPIPE : ENOSPC));
        for (const auto& c : cases) {
            Exec(db2_, "TRUNCATE dst, plain");
            QStringList arguments = c.arguments;
            if (arguments[0] != "--version") arguments << "--settings" << settings_;
            const test::ProgramResult run = RunInto(STDOUT_FILENO, closed_pipe, arguments);
            const std::string what = arguments.join(' ').toStdString() + " into " +
                                     (closed_pipe ? "a closed pipe" : "/dev/full");
            EXPECT_TRUE(run.exited) << what;
            EXPECT_EQ(run.exit_code, kExitUnwritten) << what;
            EXPECT_TRUE(run.errors.contains(QRegularExpression(
                "(^|\n)tessaline-row-porter: " + QString::fromLatin1(c.line).arg(reason) + "\n$")))
                << what << ": " << run.errors.toStdString();
            EXPECT_EQ(Count(db2_, "dst") + Count(db2_, "plain"), c.rows) << what;
        }
    }

    // Standard error that cannot take the reports costs them, but not the run nor its end.
    for (const bool closed_pipe : {true, false}) {
        Exec(db2_, "TRUNCATE dst");
        const test::ProgramResult run =
            RunInto(STDERR_FILENO, closed_pipe,
                    {"append", "--to", "2", "--settings", settings_, "src", "dst"});
        EXPECT_TRUE(run.exited) << closed_pipe;
        EXPECT_EQ(run.exit_code, kExitRowsRefused) << closed_pipe;
        EXPECT_TRUE(run.output.startsWith("Done.\n2 rows were refused;"))
            << run.output.toStdString();
        EXPECT_EQ(Count(db2_, "dst"), 98);
        EXPECT_EQ(RunInto(STDERR_FILENO, closed_pipe,
                          {"append", "--to", "2", "--settings", settings_, "src", "nowhere"})
                      .exit_code,
                  kExitUsage);
    }
}

TEST_F(CommandTest, TablesPrintsWhatTheScreensListInTheirOrder) {
    Exec(db1_,
         "CREATE TABLE orders_2020 (id int); CREATE TABLE \"Orders\" (id int);"
         "CREATE TABLE \"Zebra\" (id int); CREATE TABLE apple (id int);"
         "CREATE TABLE \"we ird\" (id int); CREATE TABLE \"Ärger\" (id int);"
         "CREATE SCHEMA sales; CREATE TABLE sales.orders (id int);"
         "CREATE SCHEMA \"Big\"; CREATE TABLE \"Big\".\"T\" (id int);"
         "CREATE TABLE \"sales.orders\" (id int)");
    const test::ProgramResult run = Run({"tables", "1"});
    ASSERT_EQ(run.exit_code, 0) << run.errors.toStdString();
    EXPECT_EQ(run.errors, "");

    test::FixedProfiles profiles(UserProfile(db1_), UserProfile(db2_));
    test::RecordingNavigator navigator;
    Form2 screen(profiles, navigator);
    screen.FillList1();
    const QListWidget* list = test::Control<QListWidget>(screen, "List1");
    QString shown;
    for (int i = 0; i < list->count(); ++i) shown += list->item(i)->text() + '\n';
    EXPECT_EQ(run.output, shown);
    // The catalogue's own tables are listed too, as on the screen.
    EXPECT_TRUE(run.output.contains("\"Big\".\"T\"\napple\n")) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("pg_class\n"));
}

// The screens read the same keys, with the same texts for keys that are missing.
TEST_F(CommandTest, ProfilesAreReadAsTheConnectionScreenLoadsThem) {
    QFile file(home_.filePath("partial.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[Tessaline%20Row%20Porter%20Suite]\nUser=someone\nPassword=\"a;b c\"\n"
        "Port2=\nDatabase2=archive\n");
    file.close();
    const ProfileStore store(file.fileName());
    const StoredProfiles stored(store);
    EXPECT_EQ(stored.Profile1(), (Profile{"localhost", "5432", "someone", "a;b c", ""}));
    EXPECT_EQ(stored.Profile2(), (Profile{"localhost", "", "", "", "archive"}));
}

TEST_F(CommandTest, ASignalCommitsTheBatchInFlightAndSaysHowManyRowsArrivedWithStatusThree) {
    constexpr long long kRows = 300000;
    Exec(db1_,
         "CREATE TABLE src (id int, pad text); INSERT INTO src SELECT g, repeat('x', 100) "
         "FROM generate_series(1, " +
             std::to_string(kRows) + ") g");
    Exec(db2_, "CREATE TABLE dst (id int, pad text)");
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        Exec(db2_, "TRUNCATE dst");
        QProcess program;
        program.setProcessEnvironment(test::HeadlessEnvironment(home_.path()));
        program.start(TRP_PROGRAM_FILE,
                      {"append", "--to", "2", "--settings", settings_, "src", "dst"});
        ASSERT_TRUE(program.waitForStarted());
        // Mid-run: some rows have arrived, most have not.
        const QDeadlineTimer deadline(120'000);
        while (Count(db2_, "dst") == 0 && program.state() == QProcess::Running &&
               !deadline.hasExpired())
            QThread::msleep(20);
        ASSERT_EQ(program.state(), QProcess::Running)
            << program.readAllStandardError().toStdString();
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(60'000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), kExitNotDone);
        const long long arrived = Count(db2_, "dst");
        std::cout << "signal " << signal << ": " << arrived << " of " << kRows << " rows arrived\n";
        EXPECT_LT(arrived, kRows);
        EXPECT_EQ(QString::fromUtf8(program.readAllStandardOutput()),
                  QStringLiteral("Appending stopped. %1 of 300,000 rows were appended.\n")
                      .arg(QLocale(QLocale::English).toString(arrived)))
            << signal;
        EXPECT_EQ(Scalar(db2_, "SELECT count(DISTINCT id) FROM dst"), std::to_string(arrived));
    }
}

TEST_F(CommandTest, ATerminalSeesProgressRedrawnInPlaceWhileStandardOutputHoldsOnlyTheEnd) {
    constexpr long long kRows = 200000;
    Exec(db1_,
         "CREATE TABLE src (id int, pad text); INSERT INTO src SELECT g, repeat('x', 50) "
         "FROM generate_series(1, " +
             std::to_string(kRows) + ") g");
    Exec(db2_, "CREATE TABLE dst (id int, pad text)");
    int terminal = -1;
    int program_side = -1;
    ASSERT_EQ(::openpty(&terminal, &program_side, nullptr, nullptr, nullptr), 0);
    ::fcntl(terminal, F_SETFL, O_NONBLOCK);
    QProcess program;
    program.setProcessEnvironment(test::HeadlessEnvironment(home_.path()));
    // Standard error is the terminal; standard output stays a pipe.
    program.setChildProcessModifier([program_side] { ::dup2(program_side, STDERR_FILENO); });
    program.start(TRP_PROGRAM_FILE, {"append", "--to", "2", "--settings", settings_, "src", "dst"});
    ASSERT_TRUE(program.waitForStarted());
    ::close(program_side);
    QByteArray shown;
    const auto read_terminal = [&] {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(terminal, buffer, sizeof buffer)) > 0) shown.append(buffer, got);
    };
    while (!program.waitForFinished(50)) read_terminal();
    read_terminal();
    ::close(terminal);
    EXPECT_EQ(program.exitCode(), 0) << shown.toStdString();
    EXPECT_EQ(program.readAllStandardOutput(), "Done.\n");
    EXPECT_TRUE(shown.startsWith("\r0 of 200,000 rows (0.0 %)\033[K")) << shown.toStdString();
    EXPECT_TRUE(QString::fromUtf8(shown).contains(QRegularExpression(
        "\r200,000 of 200,000 rows \\(100\\.0 %\\), [\\d,]+ rows/s, 0:00 left\033\\[K\r?\n$")))
        << shown.toStdString();
    EXPECT_EQ(Count(db2_, "dst"), kRows);
}

}  // namespace
}  // namespace trp
