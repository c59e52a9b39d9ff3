// Runs that break, through the real screens: lost servers, revoked rights, refused rows, the
// user's Stop and the closed window. Each ends with one clear report, says how many rows
// arrived, and never sends a row twice.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/temporary_cluster.h"
#include "base/program_end.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "screen_run.h"
#include "ui/form2.h"

namespace trp {
namespace {

using test::NoDoubles;
using test::ReadStopped;
using test::Stopped;
using test::StoppedMessage;

constexpr long long kRows = 200000;

class RunFaultsTest : public test::ScreenRunTest {
protected:
    // `rows` rows in "src" of database #2 and an empty "dst" of the same shape in database #1.
    void MakeTables(long long rows) {
        Exec(db2_, "CREATE TABLE src (id int, pad text)");
        Exec(db2_, "INSERT INTO src SELECT g, repeat('x', 100) FROM generate_series(1, " +
                       std::to_string(rows) + ") g");
        Exec(db1_, "CREATE TABLE dst (id int, pad text)");
    }
    long long Arrived() { return std::stoll(Scalar(db1_, "SELECT count(*) FROM dst")); }
    // Ends the server processes of a database's sessions that match `condition`.
    void Terminate(const std::string& database, const std::string& condition = "true") {
        Admin("postgres",
              "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = " +
                  QuoteLiteral(database) + " AND pid <> pg_backend_pid() AND " + condition);
    }
    // The one report of the run, which names `line`.
    void ExpectOneReportAt(int line) {
        const QStringList reports = Reports();
        ASSERT_EQ(reports.size(), 1) << reports.join("\n---\n").toStdString();
        EXPECT_TRUE(reports[0].contains(QString("at line %1\r").arg(line)))
            << reports[0].toStdString();
    }
};

TEST_F(RunFaultsTest, DestinationSessionEndedMidRun) {
    MakeTables(kRows);
    AtPercent(30, [&](double) { Terminate(db1_); });
    Press("dst", "src");
    ExpectOneReportAt(212);
    const long long arrived = Arrived();
    EXPECT_GE(arrived, kRows * 30 / 100);
    EXPECT_LT(arrived, kRows);
    EXPECT_EQ(Messages(), QStringList{QString::fromStdString(StoppedMessage(arrived, kRows))});
    EXPECT_TRUE(NoDoubles(UserProfile(db1_), "dst"));
}

// A source session that ends mid-run: the one stream; or, where the table is read in parts by
// two sessions, both of them, or only the one opened last (the part being read or the next one,
// read ahead).
struct SourceLoss {
    const char* name;
    bool read_in_parts;
    const char* sessions;
};

class SourceLossTest : public RunFaultsTest, public ::testing::WithParamInterface<SourceLoss> {};

TEST_P(SourceLossTest, KeepsTheRowsReadSoFarAndEndsWithTheSourcesReport) {
    MakeTables(kRows);
    const AppendOptions options = DefaultAppendOptions();
    if (GetParam().read_in_parts) {
        DefaultAppendOptions().readers = 2;
        DefaultAppendOptions().part_blocks = 32;
    }
    struct Restore {
        AppendOptions options;
        ~Restore() { DefaultAppendOptions() = options; }
    } restore{options};
    double at = 0;
    AtPercent(30, [&](double percent) {
        at = percent;
        Terminate(db2_, GetParam().sessions);
    });
    Press("dst", "src");
    ExpectOneReportAt(166);
    const long long arrived = Arrived();
    // The rows read before the loss are committed: at least what the bar showed, and more.
    EXPECT_GT(arrived, static_cast<long long>(at * kRows / 100));
    EXPECT_EQ(Messages(), QStringList{QString::fromStdString(StoppedMessage(arrived, kRows))});
    EXPECT_TRUE(NoDoubles(UserProfile(db1_), "dst"));
    // The first rows of the table, none missing.
    EXPECT_EQ(Scalar(db1_, "SELECT max(id) FROM dst"), std::to_string(arrived));
}

constexpr const char* kEveryStream = "query LIKE '%TO STDOUT%'";
INSTANTIATE_TEST_SUITE_P(
    Streams, SourceLossTest,
    ::testing::Values(SourceLoss{"OneStream", false, kEveryStream},
                      SourceLoss{"EveryPartsSession", true, kEveryStream},
                      SourceLoss{"LastPartsSessionOpened", true,
                                 "query LIKE '%TO STDOUT%' AND backend_start = (SELECT "
                                 "max(backend_start) FROM pg_stat_activity WHERE query LIKE "
                                 "'%TO STDOUT%' AND pid <> pg_backend_pid())"}),
    [](const auto& info) { return std::string(info.param.name); });

// The source's stream is lost, and once its report is shown, so is the session that looks up
// refused rows' values for their reports: the rows read before the loss still go in, their
// refused rows reported without values, and the run ends with the source's one report.
TEST_F(RunFaultsTest, SourceLostAgainWhileTheRowsReadSoFarGoInEndsTheRunAsTheSourcesLoss) {
    MakeTables(kRows);
    Exec(db1_, "ALTER TABLE dst ADD CHECK (id % 1000 <> 500)");
    AtPercent(30, [&](double) { Terminate(db2_, "query LIKE '%TO STDOUT%'"); });
    MessageBox::SetRecorder([this](const MessageBox::Shown& shown) {
        shown_.push_back(shown);
        if (shown.text.contains("at line 166\r")) Terminate(db2_);
    });
    Press("dst", "src");
    const QStringList reports = Reports();
    const auto count = [&](const char* text) {
        return std::count_if(reports.begin(), reports.end(),
                             [&](const QString& report) { return report.contains(text); });
    };
    const auto row_reports = count("violates check constraint");
    EXPECT_EQ(count("at line 166\r"), 1);
    EXPECT_EQ(1 + row_reports, reports.size()) << reports.join("\n---\n").toStdString();
    const long long arrived = Arrived();
    EXPECT_GE(arrived, kRows * 30 / 100 - row_reports);
    EXPECT_EQ(Messages(), QStringList{QString::fromStdString(StoppedMessage(arrived, kRows))});
    EXPECT_TRUE(NoDoubles(UserProfile(db1_), "dst"));
}

TEST_F(RunFaultsTest, SourceSessionEndedMidRunWithinOneDatabaseIsReportedAsTheSourcesLoss) {
    Exec(db1_, "CREATE TABLE src (id int, pad text); CREATE TABLE dst (id int, pad text)");
    Exec(db1_, "INSERT INTO src SELECT g, repeat('x', 100) FROM generate_series(1, " +
                   std::to_string(kRows) + ") g");
    SetProfiles(UserProfile(db1_), UserProfile(db1_));
    // Chunks small enough that some begin after the loss, whichever writer takes them.
    const AppendOptions options = DefaultAppendOptions();
    DefaultAppendOptions().chunk_blocks = 64;
    struct Restore {
        AppendOptions options;
        ~Restore() { DefaultAppendOptions() = options; }
    } restore{options};
    // The source's session is the one holding the snapshot that every chunk reads.
    AtPercent(30, [&](double) {
        Terminate(db1_, "query LIKE 'BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY%'");
    });
    Press("dst", "src");
    ExpectOneReportAt(166);
    EXPECT_FALSE(Reports().value(0).contains("snapshot")) << Reports().value(0).toStdString();
    const long long arrived = Arrived();
    EXPECT_GE(arrived, kRows * 30 / 100);
    EXPECT_LT(arrived, kRows);
    EXPECT_EQ(Messages(), QStringList{QString::fromStdString(StoppedMessage(arrived, kRows))});
    EXPECT_TRUE(NoDoubles(UserProfile(db1_), "dst"));
}

// A destination on a server of its own with PostgreSQL's durable settings, so that a commit that
// was acknowledged survives the server being stopped as by a crash.
class DurableDestinationTest : public RunFaultsTest {
protected:
    void SetUp() override {
        RunFaultsTest::SetUp();
        password_ = RandomPassword();
        server_.CreateLoginRole("porter", password_);
        server_.Execute("postgres", "CREATE DATABASE dest OWNER porter");
        SetProfiles(Destination(), UserProfile(db2_));
    }
    Profile Destination() const {
        return Profile{server_.Host(), std::to_string(server_.Port()), "porter", password_, "dest"};
    }
    // Runs SQL on the destination as its owner.
    void DestinationSql(const std::string& sql) {
        Connection connection;
        connection.SetCommandTimeout(0);
        connection.Open(BuildConnectionString(Destination()));
        connection.Execute(sql);
    }
    long long DestinationCount() {
        return std::stoll(*test::QueryRows(Destination(), "SELECT count(*) FROM dst")[0][0]);
    }
    // The destination's COMMIT of the batch holding row `id` takes a while: a deferred trigger
    // sleeps. `during_commit` runs once while it does (the run processes events meanwhile).
    void SlowCommitAt(int id, std::function<void()> during_commit) {
        DestinationSql(
            "CREATE FUNCTION slow() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
            "IF NEW.id = " +
            std::to_string(id) +
            " THEN PERFORM pg_sleep(5); END IF; "
            "RETURN NULL; END $$; "
            "CREATE CONSTRAINT TRIGGER slow AFTER INSERT ON dst DEFERRABLE INITIALLY DEFERRED "
            "FOR EACH ROW EXECUTE FUNCTION slow()");
        auto* poll = new QTimer(&Screen());
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll, during_commit] {
            const test::Rows sleeping = test::QueryRows(
                server_.AdminProfile(),
                "SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'PgSleep'");
            if (sleeping[0][0] == "0") return;
            poll->stop();
            during_commit();
        });
        poll->start(20);
    }

    TemporaryCluster server_{TemporaryCluster::Durability::Durable};
    std::string password_;
};

TEST_F(DurableDestinationTest, ServerStoppedBetweenBatchesEndsTheRunWithWhatArrived) {
    MakeTables(kRows);
    DestinationSql("CREATE TABLE dst (id int, pad text)");
    AtPercent(30, [&](double) { server_.StopServer(); });
    Press("dst", "src");
    ExpectOneReportAt(212);
    ASSERT_EQ(Messages().size(), 1);
    server_.StartServer();
    const long long arrived = DestinationCount();
    EXPECT_GE(arrived, kRows * 30 / 100);
    // With several writers a batch is always in flight, and its COMMIT may have been under way:
    // those rows are then not checked, and no more may have arrived than they and X.
    const test::Stopped stopped = test::ReadStopped(Messages().front(), kRows);
    ASSERT_GE(stopped.appended, 0) << Messages().front().toStdString();
    if (stopped.unchecked == 0) {
        EXPECT_EQ(stopped.appended, arrived);
    }
    EXPECT_LE(stopped.appended, arrived);
    EXPECT_LE(arrived, stopped.appended + stopped.unchecked);
    EXPECT_TRUE(NoDoubles(Destination(), "dst"));
}

// The INSERT path (the destination has a deferred trigger); the COMMIT of the batch that holds
// row 7,500 is under way when the fault strikes.
constexpr long long kSlowRows = 10000;
constexpr int kSlowRow = 7500;

TEST_F(DurableDestinationTest, ServerStoppedDuringACommitSaysThoseRowsCouldNotBeChecked) {
    MakeTables(kSlowRows);
    DestinationSql("CREATE TABLE dst (id int, pad text)");
    SlowCommitAt(kSlowRow, [&] { server_.StopServer(); });
    Press("dst", "src");
    ExpectOneReportAt(212);
    ASSERT_EQ(Messages().size(), 1);
    const Stopped stopped = ReadStopped(Messages().front(), kSlowRows);
    ASSERT_GE(stopped.appended, 0) << Messages().front().toStdString();
    // The batch being committed holds the slow row; nothing after it was sent.
    EXPECT_LT(stopped.appended, kSlowRow);
    EXPECT_GE(stopped.appended + stopped.unchecked, kSlowRow);
    server_.StartServer();
    const long long arrived = DestinationCount();
    EXPECT_GE(arrived, stopped.appended);
    EXPECT_LE(arrived, stopped.appended + stopped.unchecked);
    EXPECT_TRUE(NoDoubles(Destination(), "dst"));
}

TEST_F(DurableDestinationTest, SessionEndedDuringACommitIsCountedByTheServersAnswer) {
    MakeTables(kSlowRows);
    DestinationSql("CREATE TABLE dst (id int, pad text)");
    SlowCommitAt(kSlowRow, [&] {
        server_.Execute("postgres",
                        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                        "WHERE wait_event = 'PgSleep'");
    });
    Press("dst", "src");
    ExpectOneReportAt(212);
    ASSERT_EQ(Messages().size(), 1);
    // The server answers that the interrupted transaction did not commit: no sentence of doubt.
    const Stopped stopped = ReadStopped(Messages().front(), kSlowRows);
    EXPECT_EQ(stopped.unchecked, 0) << Messages().front().toStdString();
    EXPECT_LT(stopped.appended, kSlowRow);
    EXPECT_EQ(DestinationCount(), stopped.appended);
}

// Every third row is refused, so the batches are settled in pieces and rows one by one; the
// server stops as in a crash meanwhile. A commit whose answer was lost cannot be asked about any
// more: one check that finds no server is enough, its rows count as not checked, and the run
// ends in about the check's limit.
TEST_F(DurableDestinationTest, ServerStoppedWhileABatchIsSettledRowByRowEndsAfterOneCheck) {
    MakeTables(kRows);
    DestinationSql("CREATE TABLE dst (id int CHECK (id % 3 <> 0), pad text)");
    IgnoreAllAtRowReport(1);
    QElapsedTimer since_stop;
    auto* poll = new QTimer(&Screen());
    QObject::connect(poll, &QTimer::timeout, poll, [this, poll, &since_stop] {
        if (DestinationCount() < 2000) return;
        poll->stop();
        server_.StopServer();
        since_stop.start();
    });
    poll->start(20);
    Press("dst", "src");
    ASSERT_TRUE(since_stop.isValid()) << "the server was not stopped during the run";
    EXPECT_LT(since_stop.elapsed(), 30000);
    const QStringList reports = Reports();
    ASSERT_FALSE(reports.isEmpty());
    EXPECT_TRUE(reports.back().contains("at line 212\r")) << reports.back().toStdString();
    ASSERT_EQ(Messages().size(), 1);
    const Stopped stopped = ReadStopped(Messages().front(), kRows);
    ASSERT_GE(stopped.appended, 0) << Messages().front().toStdString();
    server_.StartServer();
    const long long arrived = DestinationCount();
    EXPECT_GE(arrived, stopped.appended);
    EXPECT_LE(arrived, stopped.appended + stopped.unchecked);
    EXPECT_TRUE(NoDoubles(Destination(), "dst"));
}

// The destination's trigger keeps every second row out. A COMMIT waits for a synchronous
// standby that does not exist, and the server then stops as in a crash: the commit was written
// before the wait, so the batch committed. The stopped message counts what the server stored,
// and the report names the row's step.
TEST_F(DurableDestinationTest, ACommitInDoubtFoundCommittedCountsTheRowsTheServerStored) {
    MakeTables(kSlowRows);
    DestinationSql(
        "CREATE TABLE dst (id int, pad text); CREATE FUNCTION odd_only() RETURNS trigger "
        "LANGUAGE plpgsql AS $$ BEGIN IF NEW.id % 2 = 0 THEN RETURN NULL; END IF; RETURN NEW; "
        "END $$; CREATE TRIGGER odd_only BEFORE INSERT ON dst FOR EACH ROW EXECUTE FUNCTION "
        "odd_only()");
    AtPercent(30, [&](double) {
        server_.Execute("postgres", "ALTER SYSTEM SET synchronous_standby_names = 'nobody'");
        server_.Execute("postgres", "SELECT pg_reload_conf()");
        auto* poll = new QTimer(&Screen());
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll] {
            const test::Rows waiting = test::QueryRows(
                server_.AdminProfile(),
                "SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'SyncRep'");
            if (waiting[0][0] == "0") return;
            poll->stop();
            server_.StopServer();
        });
        poll->start(20);
    });
    // Once down, the server is started again right away, within the time the run gives a lost
    // commit, and asks for no standby any more.
    QTimer restart;
    QObject::connect(&restart, &QTimer::timeout, [this] {
        if (std::filesystem::exists(server_.DataDirectory() + "/postmaster.pid")) return;
        server_.StartServer();
        server_.Execute("postgres", "ALTER SYSTEM RESET synchronous_standby_names");
        server_.Execute("postgres", "SELECT pg_reload_conf()");
    });
    restart.start(100);
    Press("dst", "src");
    restart.stop();
    ExpectOneReportAt(212);
    ASSERT_EQ(Messages().size(), 1);
    const Stopped stopped = ReadStopped(Messages().front(), kSlowRows);
    ASSERT_GE(stopped.appended, 0) << Messages().front().toStdString();
    EXPECT_EQ(stopped.unchecked, 0) << Messages().front().toStdString();
    EXPECT_EQ(stopped.appended, DestinationCount());
    EXPECT_GT(stopped.appended, 0);
    EXPECT_TRUE(NoDoubles(Destination(), "dst"));
}

TEST_F(RunFaultsTest, PrivilegeRevokedMidRunEndsTheRunAfterOneReport) {
    MakeTables(kRows);
    AtPercent(30, [&](double) { Admin(db1_, "REVOKE INSERT ON dst FROM porter"); });
    Press("dst", "src");
    ExpectOneReportAt(212);
    EXPECT_TRUE(Reports().front().contains("permission denied for table dst"));
    const long long arrived = Arrived();
    EXPECT_GE(arrived, kRows * 30 / 100);
    EXPECT_EQ(Messages(), QStringList{QString::fromStdString(StoppedMessage(arrived, kRows))});
    EXPECT_TRUE(NoDoubles(UserProfile(db1_), "dst"));
}

// The destination changed under the run concerns every row left: one report, not one per row.
TEST_F(RunFaultsTest, DestinationRenamedOrAlteredMidRunEndsTheRunAfterOneReport) {
    const std::pair<const char*, const char*> changes[] = {
        {"ALTER TABLE dst RENAME TO dst_renamed", "relation \"public.dst\" does not exist"},
        {"ALTER TABLE dst DROP COLUMN pad", "INSERT has more expressions than target columns"}};
    for (const auto& [change, message] : changes) {
        Exec(db2_, "DROP TABLE IF EXISTS src");
        Exec(db1_, "DROP TABLE IF EXISTS dst, dst_renamed");
        MakeTables(kRows);
        shown_.clear();
        // From another session, which waits for the batches in flight as another client's
        // would: the program goes on once the change is done or waits for them.
        std::thread changing;
        std::atomic<bool> changed = false;
        Connection changer;  // opened here: opening reads the environment, which is not shared
        changer.SetCommandTimeout(0);
        changer.Open(BuildConnectionString(UserProfile(db1_)));
        AtPercent(30, [&, change = change](double) {
            changing = std::thread([&changer, &changed, change] {
                changer.Execute(change);
                changed = true;
            });
            const std::string waiting =
                "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND query "
                "= " +
                QuoteLiteral(change);
            for (int tries = 0; tries < 200 && !changed && Scalar(db1_, waiting) == "0"; ++tries)
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
        });
        Press("dst", "src");
        if (changing.joinable()) changing.join();
        ExpectOneReportAt(212);
        EXPECT_TRUE(Reports().front().contains(message)) << Reports().front().toStdString();
        const std::string table =
            Scalar(db1_, "SELECT to_regclass('dst_renamed')") == "" ? "dst" : "dst_renamed";
        const long long arrived = std::stoll(Scalar(db1_, "SELECT count(*) FROM " + table));
        EXPECT_GE(arrived, kRows * 30 / 100);
        EXPECT_EQ(Messages(), QStringList{QString::fromStdString(StoppedMessage(arrived, kRows))});
    }
}

// Rows refused two at a time go one by one, many in one round trip. Among them, a failure that
// is the run's ends it at that row, with every row before it and none after; one that names the
// table, while the table stayed as it was, is that row's alone, and the rows after it follow.
TEST_F(RunFaultsTest, AFailureAmongRowsSentOneByOneEndsTheRunOnlyWhereItIsTheRuns) {
    const std::pair<const char*, bool> failures[] = {{"53100", true}, {"42P01", false}};
    for (const auto& [state, ends_run] : failures) {
        SCOPED_TRACE(state);
        Exec(db2_, "DROP TABLE IF EXISTS src");
        Exec(db1_, "DROP TABLE IF EXISTS dst");
        Exec(db2_, "CREATE TABLE src (id int, pad text)");
        Exec(db2_, "INSERT INTO src SELECT g, 'x' FROM generate_series(1, 20000) g");
        Exec(db1_, "CREATE TABLE dst (id int CHECK (id % 4 < 2), pad text)");
        // Row 12345 is well inside the second batch of 10,000 rows, where rows go one by one.
        Exec(db1_, std::string("CREATE OR REPLACE FUNCTION fail_at() RETURNS trigger LANGUAGE "
                               "plpgsql AS $$ BEGIN IF NEW.id = 12345 THEN RAISE EXCEPTION "
                               "'row 12345' USING ERRCODE = '") +
                       state + "'; END IF; RETURN NEW; END $$");
        Exec(db1_,
             "CREATE TRIGGER fail_at BEFORE INSERT ON dst FOR EACH ROW EXECUTE FUNCTION "
             "fail_at()");
        shown_.clear();
        IgnoreAllAtRowReport(1);
        Press("dst", "src");
        const long long arrived = Arrived();
        EXPECT_TRUE(NoDoubles(UserProfile(db1_), "dst"));
        if (ends_run) {
            EXPECT_TRUE(Reports().back().contains("row 12345")) << Reports().back().toStdString();
            EXPECT_EQ(arrived, 6172);
            EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst WHERE id > 12345"), "0");
            EXPECT_EQ(Messages(),
                      QStringList{QString::fromStdString(StoppedMessage(arrived, 20000))});
        } else {
            EXPECT_EQ(arrived, 9999);
            ASSERT_FALSE(Messages().isEmpty());
            EXPECT_EQ(Messages().front(), "Done.");
        }
    }
}

TEST_F(RunFaultsTest, ReadOnlyDestinationEndsTheRunAfterOneReport) {
    MakeTables(5000);
    Admin("postgres", "ALTER DATABASE " + db1_ + " SET default_transaction_read_only = on");
    Press("dst", "src");
    ExpectOneReportAt(212);
    EXPECT_TRUE(Reports().front().contains("read-only transaction"));
    EXPECT_EQ(Messages(), QStringList{"Appending stopped. 0 of 5,000 rows were appended."});
}

TEST_F(RunFaultsTest, EveryRowRefusedAndStopOnTheFirstReport) {
    Exec(db2_, "CREATE TABLE src (id int, v text)");
    Exec(db2_, "INSERT INTO src SELECT g, 'x' FROM generate_series(1, 100000) g");
    Exec(db1_, "CREATE TABLE dst (id int, v int)");
    const long long xid_before = std::stoll(Scalar(db1_, "SELECT txid_current()"));
    StopAtRowReport(1);
    Press("dst", "src");
    // A refused row takes no transaction id of its own, and refused rows that wait for nothing
    // written before them need no commit: a handful of transactions, not one for each run of
    // rows sent one by one.
    EXPECT_LT(std::stoll(Scalar(db1_, "SELECT txid_current()")) - xid_before, 20);
    ASSERT_EQ(shown_.size(), 2u);
    EXPECT_TRUE(shown_[0].offers_stop);
    EXPECT_TRUE(shown_[0].text.contains("invalid input syntax for type integer: \"x\""));
    EXPECT_FALSE(shown_[1].offers_stop);
    EXPECT_EQ(Messages(), QStringList{"Appending stopped. 0 of 100,000 rows were appended."});
    EXPECT_EQ(Arrived(), 0);
}

// A refused row's box waits for the user with no transaction open on the destination, so that
// its locks are not held for as long as the user takes; once no box can come ("Ignore All"),
// the refused rows go on without a commit of their own.
TEST_F(RunFaultsTest, NoTransactionIsOpenOnTheDestinationWhileARefusedRowsBoxWaits) {
    Exec(db2_, "CREATE TABLE src (id int, v text)");
    Exec(db2_, "INSERT INTO src SELECT g, 'x' FROM generate_series(1, 3000) g");
    Exec(db1_, "CREATE TABLE dst (id int, v int)");
    std::vector<std::string> open_while_shown;
    MessageBox::SetRecorder([&](const MessageBox::Shown& shown) {
        shown_.push_back(shown);
        if (!shown.offers_stop) return;
        open_while_shown.push_back(Scalar(db1_,
                                          "SELECT count(*) FROM pg_stat_activity WHERE datname = "
                                          "current_database() AND state LIKE 'idle in trans%'"));
        if (open_while_shown.size() == 150)
            MessageBox::SetNextChoice(MessageBox::Choice::IgnoreAll);
    });
    const long long xid_before = std::stoll(Scalar(db1_, "SELECT txid_current()"));
    Press("dst", "src");
    EXPECT_EQ(open_while_shown, std::vector<std::string>(150, "0"));
    EXPECT_LT(std::stoll(Scalar(db1_, "SELECT txid_current()")) - xid_before, 20);
    EXPECT_EQ(Arrived(), 0);
}

// Values the destination's column type cannot read, on Debian's server and on one whose text
// COPY skips their rows (from 17 on: the batch commits without them, and they go alone for their
// reports before its COMMIT).
class TextRefusalsTest : public RunFaultsTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        if (const std::string missing = test::MissingServer(GetParam()); !missing.empty()) {
            if (test::EveryVersionExpected()) FAIL() << missing;
            GTEST_SKIP() << missing;
        }
        RunFaultsTest::SetUp();
    }
    TemporaryCluster& Server() const override { return test::ClusterOf(GetParam()); }
};

TEST_P(TextRefusalsTest, StopOnARefusedRowKeepsEveryRowSentBeforeTheStop) {
    // Every thousandth row is refused; the user stops at the fifth refusal (row 5000), in the
    // middle of the batch in flight, whose rows have all gone to the server already.
    Exec(db2_, "CREATE TABLE src (id int, v text)");
    Exec(db2_,
         "INSERT INTO src SELECT g, CASE WHEN g % 1000 = 0 THEN 'x' ELSE g::text END "
         "FROM generate_series(1, 50000) g");
    Exec(db1_, "CREATE TABLE dst (id int, v int)");
    StopAtRowReport(5);
    Press("dst", "src");
    ASSERT_EQ(Reports().size(), 5);
    for (const QString& report : Reports()) EXPECT_TRUE(report.contains("at line 212\r"));
    const long long arrived = Arrived();
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst WHERE id < 5000"), "4995");
    // The rest of that batch is kept too, but for its refused rows (reported no more).
    EXPECT_NE(Scalar(db1_, "SELECT count(*) FROM dst WHERE id > 5000"), "0");
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst WHERE id % 1000 = 0"), "0");
    EXPECT_EQ(Messages(), QStringList{QString::fromStdString(StoppedMessage(arrived, 50000))});
    EXPECT_TRUE(NoDoubles(UserProfile(db1_), "dst"));
    // A later run without stopping goes through to the end, refused rows and all.
    Exec(db1_, "TRUNCATE dst");
    StopAtRowReport(0);
    Press("dst", "src");
    EXPECT_EQ(Reports().size(), 50);
    EXPECT_EQ(Messages(), QStringList{"Done."});
    EXPECT_EQ(Arrived(), 49950);
}

TEST_P(TextRefusalsTest, ClosingTheScreenBehindAReportStopsAndEndsTheProgram) {
    Exec(db2_, "CREATE TABLE src (id int, v text)");
    Exec(db2_,
         "INSERT INTO src SELECT g, CASE WHEN g % 100 = 0 THEN 'x' ELSE g::text END "
         "FROM generate_series(1, 20000) g");
    Exec(db1_, "CREATE TABLE dst (id int, v int)");
    // The screen is closed while the second refused row's report is open.
    int reports = 0;
    MessageBox::SetRecorder([&](const MessageBox::Shown& shown) {
        shown_.push_back(shown);
        if (shown.offers_stop && ++reports == 2) Screen().close();
    });
    Press("dst", "src");
    // No further report, no last message: the program is ending.
    EXPECT_EQ(shown_.size(), 2u);
    EXPECT_TRUE(ProgramEnding());
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst WHERE id < 200"), "198");
    EXPECT_TRUE(NoDoubles(UserProfile(db1_), "dst"));
}

// Closing the window commits what is in flight as it stands, and settles a batch already sent
// without showing more: every row up to the last one stored is there but the refused ones.
TEST_P(TextRefusalsTest, ClosingTheScreenMidRunLeavesNoGapButTheRefusedRows) {
    Exec(db2_, "CREATE TABLE src (id int, v text)");
    Exec(db2_,
         "INSERT INTO src SELECT g, CASE WHEN g % 1000 = 0 THEN 'x' ELSE g::text END "
         "FROM generate_series(1, " +
             std::to_string(kRows) + ") g");
    Exec(db1_, "CREATE TABLE dst (id int, v int)");
    double at = 0;
    AtPercent(40, [&](double percent) {
        at = percent;
        Screen().close();
    });
    Press("dst", "src");
    EXPECT_TRUE(ProgramEnding());
    EXPECT_GE(Arrived(), static_cast<long long>(at * kRows / 100) * 999 / 1000);
    const long long last = std::stoll(Scalar(db1_, "SELECT max(id) FROM dst"));
    EXPECT_EQ(Arrived(), last - last / 1000);
    EXPECT_TRUE(NoDoubles(UserProfile(db1_), "dst"));
}

INSTANTIATE_TEST_SUITE_P(Servers, TextRefusalsTest, ::testing::Values(15, 18),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "PostgreSQL" + std::to_string(info.param);
                         });

TEST_F(RunFaultsTest, ClosingTheScreenMidRunCommitsWhatIsInFlightAndShowsNothingMore) {
    MakeTables(kRows);
    double at = 0;
    AtPercent(40, [&](double percent) {
        at = percent;
        Screen().close();
    });
    Press("dst", "src");
    EXPECT_TRUE(shown_.empty()) << shown_.front().text.toStdString();
    const long long arrived = Arrived();
    EXPECT_GE(arrived, static_cast<long long>(at * kRows / 100));
    EXPECT_TRUE(NoDoubles(UserProfile(db1_), "dst"));
}

}  // namespace
}  // namespace trp
