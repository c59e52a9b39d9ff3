// Rows the destination refuses are kept, not only shown: "Ignore All" lets a run go on without a
// box per row, every refused row lands in a CSV file that loads back once its values are fixed,
// with a second file saying why, and the last box says where they are.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "append/refused_rows_file.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "refused_rows_support.h"
#include "screen_run.h"

namespace trp {
namespace {

using test::ReadAll;
using test::Rows;
using test::StateHome;

unsigned Mode(const QString& path) {
    struct stat info {};
    if (::stat(path.toLocal8Bit().constData(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

// Loads CSV data with a header into a table, as `COPY ... FROM STDIN (FORMAT csv, HEADER)`.
void CopyIn(const Profile& profile, const std::string& table, const std::string& data) {
    Connection connection;
    connection.Open(BuildConnectionString(profile));
    PGconn* conn = connection.Handle();
    const PgResultPtr started(
        PQexec(conn, ("COPY " + table + " FROM STDIN (FORMAT csv, HEADER)").c_str()));
    ASSERT_EQ(PQresultStatus(started.get()), PGRES_COPY_IN) << PQerrorMessage(conn);
    ASSERT_EQ(PQputCopyData(conn, data.data(), static_cast<int>(data.size())), 1);
    ASSERT_EQ(PQputCopyEnd(conn, nullptr), 1);
    const PgResultPtr ended(PQgetResult(conn));
    EXPECT_EQ(PQresultStatus(ended.get()), PGRES_COMMAND_OK) << PQerrorMessage(conn);
    while (PgResultPtr more{PQgetResult(conn)}) {
    }
}

// The refusal is the check on qty; the notes are what a CSV file finds hard to carry.
constexpr long long kRows = 20000;
constexpr const char* kSource =
    "CREATE TABLE src (id int, note text, qty int);"
    "INSERT INTO src SELECT g, CASE g"
    "  WHEN 1000 THEN NULL WHEN 2000 THEN ''"
    "  WHEN 3000 THEN 'say \"hi\", then' || E'\\r\\n' || 'leave'"
    "  WHEN 4000 THEN E'\\\\.' WHEN 5000 THEN 'Grüße, 東京 ✓'"
    "  WHEN 6000 THEN E'tab\\there, back\\\\slash' WHEN 7000 THEN ' padded '"
    "  WHEN 8000 THEN repeat('large ', 400000) || 'end'"
    "  ELSE 'row ' || g END,"
    " CASE WHEN g % 1000 = 0 THEN -1 ELSE g END FROM generate_series(1, 20000) g";
constexpr long long kRefused = kRows / 1000;

// The ways a destination takes the rows: COPY's binary format (the same column types), its text
// format (other types), and one INSERT per row (a trigger rules COPY out).
enum class Path { BinaryCopy, TextCopy, Inserts };

std::string DestinationFor(Path path) {
    const std::string note = path == Path::TextCopy ? "varchar(5000000)" : "text";
    std::string sql = "CREATE TABLE dst (id int, note " + note + ", qty int CHECK (qty >= 0));";
    if (path == Path::Inserts)
        sql +=
            "CREATE FUNCTION noop() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RETURN NEW; END "
            "$$; CREATE TRIGGER noop BEFORE INSERT ON dst FOR EACH ROW EXECUTE FUNCTION noop();";
    return sql;
}

class RefusedRowsTest : public test::ScreenRunTest {
protected:
    void SetUp() override {
        test::ScreenRunTest::SetUp();
        ASSERT_TRUE(state_.isValid());
    }
    QString Folder() const { return state_.filePath("tessaline-row-porter/refused"); }
    QStringList Files() const {
        return QDir(Folder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // The path the last box names, from its informative text.
    QString ListedPath() const {
        if (shown_.empty()) return {};
        const auto match =
            QRegularExpression("listed in (.*)\\.$").match(shown_.back().informative);
        return match.hasMatch() ? match.captured(1) : QString();
    }
    long long Arrived() { return std::stoll(Scalar(db1_, "SELECT count(*) FROM dst")); }
    // The reasons file beside the rows' file at `path`, loaded as CSV: record, source row,
    // SQLSTATE and message, in the file's order.
    Rows Reasons(const QString& path) {
        const std::string reasons =
            ReadAll(QString(path).replace(QRegularExpression("\\.csv$"), ".reasons.csv"));
        EXPECT_EQ(reasons.rfind("record,source_row,sqlstate,message\n", 0), 0u);
        Exec(db1_,
             "DROP TABLE IF EXISTS reasons; CREATE TABLE reasons (n serial, record int, "
             "source_row bigint, sqlstate text, message text)");
        CopyIn(UserProfile(db1_), "reasons (record, source_row, sqlstate, message)", reasons);
        return Query(db1_,
                     "SELECT record::text, source_row::text, sqlstate, message FROM reasons "
                     "ORDER BY n");
    }

    QTemporaryDir state_;
    StateHome home_{state_.path()};
};

TEST_F(RefusedRowsTest, IgnoreAllGoesOnWithoutBoxesUntilTheNextRun) {
    Exec(db2_, kSource);
    Exec(db1_, DestinationFor(Path::BinaryCopy));
    IgnoreAllAtRowReport(2);
    Press("dst", "src");
    ASSERT_EQ(Reports().size(), 2);
    EXPECT_TRUE(Reports()[0].contains("violates check constraint"));
    EXPECT_EQ(Arrived(), kRows - kRefused);
    EXPECT_EQ(Messages(), QStringList{"Done."});
    const QString first = ListedPath();
    EXPECT_EQ(shown_.back().informative,
              QString("%1 rows were refused; they are listed in %2.").arg(kRefused).arg(first));

    // The next run reports again, and keeps its rows in a file of its own.
    Exec(db1_, "TRUNCATE dst");
    IgnoreAllAtRowReport(0);
    Press("dst", "src");
    EXPECT_EQ(Reports().size(), kRefused);
    EXPECT_EQ(Arrived(), kRows - kRefused);
    EXPECT_NE(ListedPath(), first);
    EXPECT_EQ(Files().size(), 4);
}

class RefusedRowsFileTest : public RefusedRowsTest, public ::testing::WithParamInterface<Path> {};

TEST_P(RefusedRowsFileTest, RowsLoadBackOnceFixedWithTheirReasonsBeside) {
    Exec(db2_, kSource);
    Exec(db1_, DestinationFor(GetParam()));
    IgnoreAllAtRowReport(1);
    Press("dst", "src");
    EXPECT_EQ(Arrived(), kRows - kRefused);
    const QString path = ListedPath();
    ASSERT_FALSE(path.isEmpty()) << shown_.back().informative.toStdString();
    EXPECT_TRUE(QFileInfo(path).fileName().endsWith("-dst.csv"));
    EXPECT_EQ(QFileInfo(path).absolutePath(), Folder());

    // Fixed by hand (qty, the last column, is -1 in every refused row), the rows go into an
    // empty copy of the destination, checks and all.
    std::string rows = ReadAll(path);
    ASSERT_EQ(rows.rfind("id,note,qty\n", 0), 0u) << rows.substr(0, 100);
    for (std::size_t at = rows.find(",-1\n"); at != std::string::npos; at = rows.find(",-1\n", at))
        rows.replace(at, 4, ",0\n");
    Exec(db1_, "CREATE TABLE fixed (LIKE dst INCLUDING ALL)");
    CopyIn(UserProfile(db1_), "fixed", rows);
    const Rows kept = Query(db1_, "SELECT id::text, note, qty::text FROM fixed ORDER BY id");
    Rows expected = Query(db2_, "SELECT id::text, note, '0' FROM src WHERE qty < 0 ORDER BY id");
    ASSERT_EQ(kept.size(), expected.size());
    for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i], expected[i]) << "row " << i;

    // One reason per row: its record in the file, its place in the source, what the server said.
    const Rows reasons = Reasons(path);
    ASSERT_EQ(reasons.size(), static_cast<std::size_t>(kRefused));
    for (int record = 1; record <= kRefused; ++record) {
        const auto& reason = reasons[record - 1];
        EXPECT_EQ(reason[0], std::to_string(record));
        EXPECT_EQ(reason[1], std::to_string(record * 1000));
        EXPECT_EQ(reason[2], "23514");
        EXPECT_EQ(
            reason[3]->rfind(
                "ERROR:  new row for relation \"dst\" violates check constraint \"dst_qty_check\"\n"
                "DETAIL:  Failing row contains (" +
                    std::to_string(record * 1000),
                0),
            0u)
            << *reason[3];
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, RefusedRowsFileTest,
                         ::testing::Values(Path::BinaryCopy, Path::TextCopy, Path::Inserts));

TEST_F(RefusedRowsTest, FoldersAndFilesAreTheOwnersAlone) {
    // A refused-rows folder left open to others is closed again.
    ASSERT_TRUE(QDir().mkpath(Folder()));
    ASSERT_EQ(::chmod(Folder().toLocal8Bit().constData(), 0755), 0);
    Exec(db2_, kSource);
    Exec(db1_, DestinationFor(Path::BinaryCopy));
    IgnoreAllAtRowReport(1);
    Press("dst", "src");
    EXPECT_EQ(Mode(Folder()), 0700u);
    ASSERT_EQ(Files().size(), 2);
    for (const QString& file : Files()) EXPECT_EQ(Mode(QDir(Folder()).filePath(file)), 0600u);

    // Folders the program makes are its owner's too.
    QTemporaryDir other;
    const StateHome deeper(other.filePath("made/by/the/run"));
    Press("dst", "src");
    EXPECT_EQ(Mode(other.filePath("made")), 0700u);
    EXPECT_EQ(Mode(other.filePath("made/by/the/run/tessaline-row-porter")), 0700u);
    EXPECT_EQ(Mode(other.filePath("made/by/the/run/tessaline-row-porter/refused")), 0700u);
}

TEST_F(RefusedRowsTest, ARunWithoutRefusedRowsWritesNothingAndEndsAsBefore) {
    Exec(db2_, "CREATE TABLE src (id int); INSERT INTO src SELECT generate_series(1, 1000)");
    Exec(db1_, "CREATE TABLE dst (id int)");
    Press("dst", "src");
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].text, "Done.");
    EXPECT_TRUE(shown_[0].informative.isEmpty());
    EXPECT_EQ(shown_[0].buttons, QStringList{"OK"});
    EXPECT_FALSE(QFileInfo::exists(state_.filePath("tessaline-row-porter")));
}

TEST_F(RefusedRowsTest, TheLastBoxSaysHowManyAndWhereAndItsButtonShowsTheFolder) {
    Exec(db2_, "CREATE TABLE src (id int); INSERT INTO src SELECT generate_series(1, 3000)");
    Exec(db1_, "CREATE TABLE dst (id int CHECK (id > 1234))");
    IgnoreAllAtRowReport(1);
    ShowRefusedRowsAtTheEnd();
    Press("dst", "src");
    ASSERT_EQ(Files().size(), 2);
    const QString path =
        QDir(Folder()).filePath(Files().filter(QRegularExpression("^\\d{8}-\\d{6}-dst\\.csv$"))[0]);
    const MessageBox::Shown& last = shown_.back();
    EXPECT_EQ(last.text, "Done.");
    EXPECT_EQ(last.title, AppTitle());
    EXPECT_EQ(last.icon, MessageBox::Icon::None);
    EXPECT_EQ(last.informative, "1,234 rows were refused; they are listed in " + path + ".");
    EXPECT_EQ(last.buttons, (QStringList{"OK", "Show Refused Rows"}));
    EXPECT_EQ(opened_, std::vector<QUrl>{QUrl::fromLocalFile(Folder())});

    // A run stopped at its only refused row keeps its text (the rows it had sent arrived), and
    // says so of one row.
    Exec(db1_, "DROP TABLE dst; CREATE TABLE dst (id int CHECK (id <> 1))");
    IgnoreAllAtRowReport(0);
    StopAtRowReport(1);
    Press("dst", "src");
    EXPECT_EQ(Messages(), QStringList{"Appending stopped. 2,999 of 3,000 rows were appended."});
    EXPECT_EQ(shown_.back().informative,
              "1 row was refused; it is listed in " + ListedPath() + ".");
}

TEST_F(RefusedRowsTest, AFileThatCannotBeWrittenIsReportedOnceAndTheRunGoesOn) {
    // The state folder would have to be inside a file.
    QFile blocker(state_.filePath("not-a-folder"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const StateHome home(blocker.fileName());
    Exec(db2_, kSource);
    Exec(db1_, DestinationFor(Path::BinaryCopy));
    Press("dst", "src");
    const QStringList reports = Reports();
    ASSERT_EQ(reports.size(), kRefused + 1);
    EXPECT_EQ(reports
                  .filter("The refused rows cannot be written to " + blocker.fileName() +
                          "/tessaline-row-porter: Not a directory")
                  .size(),
              1)
        << reports[0].toStdString();
    EXPECT_TRUE(reports[0].contains("at line 212\r"));
    EXPECT_EQ(Arrived(), kRows - kRefused);
    // The last box does not point at a file that lacks the rows.
    EXPECT_EQ(Messages(), QStringList{"Done."});
    EXPECT_EQ(shown_.back().buttons, QStringList{"OK"});
}

// Rows moved inside the server, chunk by chunk, count in the source's order too.
TEST_F(RefusedRowsTest, RowsMovedInsideTheServerCountInTheSourcesOrder) {
    Exec(db1_,
         "CREATE TABLE src (id int, pad text); CREATE TABLE dst (id int CHECK (id % 997 <> 0), pad "
         "text)");
    Exec(db1_, "INSERT INTO src SELECT g, repeat('x', 200) FROM generate_series(1, 3000) g");
    test::RecordingHost host;
    host.ignore_all_at_row_report = 1;
    AppendOptions options;
    options.chunk_blocks = 3;
    RunAppend(AppendRequest{"dst", "src", true, UserProfile(db1_), UserProfile(db1_)}, host,
              options);
    EXPECT_EQ(host.ErrorReports().size(), 1u);
    ASSERT_EQ(host.events.back().kind, test::RecordingHost::Event::ProgressReset);
    const auto last = std::find_if(host.events.rbegin(), host.events.rend(), [](const auto& e) {
        return e.kind == test::RecordingHost::Event::Message;
    });
    ASSERT_NE(last, host.events.rend());
    EXPECT_EQ(last->text, "Done.");
    EXPECT_EQ(last->folder, Folder().toStdString());
    const Rows reasons = Reasons(QDir(Folder()).filePath(Files().filter("-dst.csv")[0]));
    ASSERT_EQ(reasons.size(), 3u);
    for (int record = 1; record <= 3; ++record) {
        EXPECT_EQ(reasons[record - 1][0], std::to_string(record));
        EXPECT_EQ(reasons[record - 1][1], std::to_string(record * 997));
    }
}

}  // namespace
}  // namespace trp
