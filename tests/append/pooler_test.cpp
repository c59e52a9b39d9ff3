// Appends through PgBouncer, in session and in transaction pooling: every writing path fares
// exactly as one INSERT per row sent straight to the server, and a server lost behind the pooler
// ends the run with one report and an exact count.
#include <gtest/gtest.h>

#include <QTimer>

#include "append/append_operation.h"
#include "screen_run.h"
#include "support/pgbouncer.h"

namespace trp {
namespace {

using test::PgBouncer;
using test::PoolMode;
using test::RecordingHost;

struct Outcome {
    test::Rows rows;
    std::vector<std::string> reports;
    std::vector<std::string> messages;
};

class PoolerTest : public test::AppendTest {
protected:
    Outcome Run(const Profile& destination, const Profile& source, const AppendOptions& options,
                const std::string& setup, const std::string& ordered_rows) {
        Exec(destination.database == db1_ ? db1_ : db2_, setup);
        RecordingHost host;
        RunAppend(AppendRequest{"dest", "src", true, destination, source}, host, options);
        return {Query(destination.database, ordered_rows), host.ErrorReports(), host.Messages()};
    }
};

// Refused rows of several kinds, where COPY's binary format carries them (the same column
// types on both sides) and where the text format does; among them a stretch refused one after
// the other, which goes one by one inside a transaction of its own.
const char* kRows =
    "SELECT g, CASE WHEN g % 17 = 3 THEN NULL ELSE 'row ' || g END FROM generate_series(1, 200) g "
    "UNION ALL SELECT 5, 'duplicate' UNION ALL SELECT -1, 'refused by the check' "
    "UNION ALL SELECT g, NULL FROM generate_series(201, 240) g UNION ALL SELECT 300, 'last'";

TEST_F(PoolerTest, EveryPathFaresAsOneByOneInEitherPoolMode) {
    const std::string dest =
        "DROP TABLE IF EXISTS dest; CREATE TABLE dest (id int PRIMARY KEY "
        "CHECK (id >= 0), v text NOT NULL)";
    const std::string ordered = "SELECT id::text, v FROM dest ORDER BY ctid";
    for (const char* columns : {"(id int, v text)", "(id text, v text)"}) {
        for (const std::string& db : {db1_, db2_}) {
            Exec(db, std::string("DROP TABLE IF EXISTS src; CREATE TABLE src ") + columns);
            Exec(db, std::string("INSERT INTO src ") + kRows);
        }
        AppendOptions row_by_row;
        row_by_row.strategy = AppendStrategy::RowByRow;
        const Outcome expected =
            Run(UserProfile(db1_), UserProfile(db2_), row_by_row, dest, ordered);
        ASSERT_FALSE(expected.reports.empty());
        ASSERT_EQ(expected.messages, std::vector<std::string>{"Done."});

        for (const PoolMode mode : {PoolMode::Session, PoolMode::Transaction}) {
            PgBouncer bouncer(test::Cluster(), mode);
            const std::pair<AppendStrategy, bool> paths[] = {
                {AppendStrategy::Fast, true},
                {AppendStrategy::Fast, false},
                {AppendStrategy::PipelinedInserts, false},
                {AppendStrategy::RowByRow, false}};
            for (const auto& [strategy, binary] : paths) {
                AppendOptions options;
                options.strategy = strategy;
                options.binary = binary;
                options.batch_rows = 50;
                options.insert_batch_rows = 50;
                const Outcome actual =
                    Run(bouncer.ProfileFor(db1_), bouncer.ProfileFor(db2_), options, dest, ordered);
                const auto where = ::testing::Message()
                                   << columns
                                   << (mode == PoolMode::Session ? ", session"
                                                                 : ", "
                                                                   "transaction")
                                   << " pooling, strategy " << static_cast<int>(strategy)
                                   << (binary ? ", binary" : "");
                EXPECT_EQ(actual.rows, expected.rows) << where;
                EXPECT_EQ(actual.reports, expected.reports) << where;
                EXPECT_EQ(actual.messages, expected.messages) << where << "\n" << bouncer.Log();
            }
            // Within one database: the rows move inside the server, a chunk the destination
            // refuses comes the usual way, reading the source's snapshot from another session.
            AppendOptions chunks;
            chunks.chunk_blocks = 1;
            const Profile one = bouncer.ProfileFor(db2_);
            const Outcome within = Run(one, one, chunks, dest, ordered);
            EXPECT_EQ(within.rows, expected.rows);
            EXPECT_EQ(within.reports, expected.reports);
            EXPECT_EQ(within.messages, expected.messages) << bouncer.Log();
        }
    }
}

// The same through the screens: the connection test, the lists and an append.
class PoolerScreenTest : public test::ScreenRunTest {};

TEST_F(PoolerScreenTest, TheScreensWorkThroughThePooler) {
    PgBouncer bouncer(test::Cluster(), PoolMode::Transaction);
    SetProfiles(bouncer.ProfileFor(db1_), bouncer.ProfileFor(db2_));
    Exec(db2_,
         "CREATE SCHEMA sales; CREATE TABLE sales.src (id int, v text); "
         "INSERT INTO sales.src SELECT g, 'x' FROM generate_series(1, 1000) g");
    Exec(db1_, "CREATE TABLE dst (id int, v text)");
    Press("dst", "sales.src");
    EXPECT_EQ(Messages(), QStringList{"Done."}) << bouncer.Log();
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "1000");
}

// Server faults behind a pooler in transaction pooling, on a durable server so that what it
// acknowledged survives.
class PoolerFaultTest : public test::ScreenRunTest {
protected:
    static constexpr long long kRows = 200000;

    void SetUp() override {
        ScreenRunTest::SetUp();
        password_ = RandomPassword();
        server_.CreateLoginRole("porter", password_);
        server_.Execute("postgres", "CREATE DATABASE dest OWNER porter");
        bouncer_ = std::make_unique<PgBouncer>(
            server_, PoolMode::Transaction, std::vector<PgBouncer::Login>{{"porter", password_}});
        destination_ = bouncer_->ProfileFor("dest", {"porter", password_});
        SetProfiles(destination_, UserProfile(db2_));
        Exec(db2_, "CREATE TABLE src (id int, pad text)");
        Exec(db2_, "INSERT INTO src SELECT g, repeat('x', 100) FROM generate_series(1, " +
                       std::to_string(kRows) + ") g");
        DestinationSql("CREATE TABLE dst (id int, pad text)");
    }
    void DestinationSql(const std::string& sql) {
        test::QueryRows(
            Profile{server_.Host(), std::to_string(server_.Port()), "porter", password_, "dest"},
            sql + "; SELECT 1");
    }
    long long Arrived() {
        return std::stoll(*test::QueryRows(destination_, "SELECT count(*) FROM dst")[0][0]);
    }
    // Checks the run's end: one report at line 212, and a stopped message whose count is what
    // arrived (or brackets it with the rows whose commit could not be checked).
    void ExpectOneReportAndAnExactCount() {
        const QStringList reports = Reports();
        ASSERT_EQ(reports.size(), 1) << reports.join("\n---\n").toStdString() << bouncer_->Log();
        EXPECT_TRUE(reports[0].contains("at line 212\r")) << reports[0].toStdString();
        ASSERT_EQ(Messages().size(), 1);
        const test::Stopped stopped = test::ReadStopped(Messages().front(), kRows);
        ASSERT_GE(stopped.appended, 0) << Messages().front().toStdString();
        const long long arrived = Arrived();
        EXPECT_GE(arrived, stopped.appended);
        EXPECT_LE(arrived, stopped.appended + stopped.unchecked);
        EXPECT_GE(arrived, kRows * 30 / 100);
        EXPECT_TRUE(test::NoDoubles(destination_, "dst"));
    }

    // Runs `fault` once the bar has passed 30 % and the destination is inside one of the run's
    // transactions (between two, the pooler would simply give the run another server session).
    void InATransactionAfter30Percent(std::function<void()> fault) {
        AtPercent(30, [this, fault](double) {
            auto* poll = new QTimer(&Screen());
            QObject::connect(poll, &QTimer::timeout, poll, [this, poll, fault] {
                const test::Rows writing = test::QueryRows(
                    server_.AdminProfile(),
                    "SELECT count(*) FROM pg_stat_activity WHERE datname = 'dest' AND "
                    "backend_xid IS NOT NULL");
                if (writing.at(0).at(0) == "0") return;
                poll->stop();
                fault();
            });
            poll->start(5);
        });
    }

    TemporaryCluster server_{TemporaryCluster::Durability::Durable};
    std::string password_;
    std::unique_ptr<PgBouncer> bouncer_;
    Profile destination_;
};

TEST_F(PoolerFaultTest, DestinationBackendTerminatedMidRun) {
    InATransactionAfter30Percent([this] {
        test::QueryRows(server_.AdminProfile(),
                        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                        "'dest' AND backend_xid IS NOT NULL");
    });
    Press("dst", "src");
    ExpectOneReportAndAnExactCount();
}

TEST_F(PoolerFaultTest, DestinationServerRestartedMidRun) {
    InATransactionAfter30Percent([this] { bouncer_->RestartServer(); });
    Press("dst", "src");
    ExpectOneReportAndAnExactCount();
}

}  // namespace
}  // namespace trp
