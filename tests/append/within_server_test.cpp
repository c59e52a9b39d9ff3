// Both tables in one database, reached with the same login: the rows move inside the server
// (INSERT … SELECT, chunk by chunk, all chunks reading one snapshot of the source) instead of
// making a round trip through the program, with the very outcome the rows would have one by one.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "append/append_operation.h"
#include "append_test_support.h"
#include "db/connection.h"
#include "db/connection_string.h"

namespace trp {
namespace {

using test::AppendTest;
using test::RecordingHost;

// A host that notes, whenever the bar moves, whether the program read the source's rows itself
// (a COPY … TO STDOUT of the source's session), and lets another session add rows to the source.
class WatchingHost : public RecordingHost {
public:
    WatchingHost(const Profile& profile, std::string meddle) : meddle_(std::move(meddle)) {
        session_.SetCommandTimeout(0);
        session_.Open(BuildConnectionString(profile));
    }
    void SetProgress(double percent) override {
        RecordingHost::SetProgress(percent);
        if (!session_
                 .Execute("SELECT FROM pg_stat_activity WHERE query LIKE '%TO STDOUT%' AND pid <> "
                          "pg_backend_pid()")
                 .Eof())
            read_through_program = true;
        if (!meddle_.empty()) session_.Execute(meddle_);
    }
    bool read_through_program = false;

private:
    Connection session_;
    std::string meddle_;
};

class WithinServerTest : public AppendTest {
protected:
    AppendRequest Same(const std::string& destination, const std::string& source) const {
        return AppendRequest{destination, source, true, UserProfile(db1_), UserProfile(db1_)};
    }
    static AppendOptions SmallChunks(int writers = AppendOptions{}.writers) {
        AppendOptions options;
        options.chunk_blocks = 3;
        options.writers = writers;
        return options;
    }
    // `make` (re)creates "src" and "dst" in database #1; the run through the server must end
    // exactly as the one-INSERT-per-row reference: the same rows, reports and last message.
    void ExpectSameAsRowByRow(const std::string& make, const std::string& ordered_rows) {
        Exec(db1_, make);
        RecordingHost reference;
        AppendOptions row_by_row;
        row_by_row.strategy = AppendStrategy::RowByRow;
        RunAppend(Same("dst", "src"), reference, row_by_row);
        const auto expected = Query(db1_, ordered_rows);
        ASSERT_FALSE(expected.empty());

        Exec(db1_, make);
        RecordingHost host;
        RunAppend(Same("dst", "src"), host, SmallChunks());
        EXPECT_EQ(host.ErrorReports(), reference.ErrorReports());
        EXPECT_EQ(host.Messages(), reference.Messages());
        EXPECT_EQ(Query(db1_, ordered_rows), expected);
    }
};

TEST_F(WithinServerTest, RowsMoveInsideTheServerChunkByChunkFromOneSnapshot) {
    Exec(db1_, "CREATE TABLE src (id int, pad text); CREATE TABLE dst (id int, pad text)");
    Exec(db1_, "INSERT INTO src SELECT g, repeat('x', 200) FROM generate_series(1, 3000) g");
    for (const int writers : {1, 2, 4}) {
        SCOPED_TRACE("writers: " + std::to_string(writers));
        Exec(db1_, "TRUNCATE dst; DELETE FROM src WHERE id < 0");
        WatchingHost host(UserProfile(db1_), "INSERT INTO src VALUES (-1, 'added during the run')");
        RunAppend(Same("dst", "src"), host, SmallChunks(writers));
        EXPECT_TRUE(host.ErrorReports().empty());
        EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
        EXPECT_FALSE(host.read_through_program);
        // Many chunks, each moving the bar; rows added meanwhile are not in the snapshot.
        EXPECT_GT(host.Progress().size(), 20u);
        EXPECT_EQ(host.Progress().back(), 100);
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "3000");
        EXPECT_EQ(Scalar(db1_, "SELECT count(DISTINCT id) FROM dst WHERE id > 0"), "3000");
        // One session stores them in the source's order; several, each chunk where its session
        // found room.
        if (writers == 1) {
            EXPECT_EQ(Scalar(db1_,
                             "SELECT bool_and(id = n) FROM (SELECT id, row_number() OVER "
                             "(ORDER BY ctid) AS n FROM dst) d"),
                      "t");
        }
    }
}

// A host that lets no new session into the database once the rows begin to move: the chunks'
// own sessions are refused as by a connection limit the run does not know of.
class CrowdedHost : public RecordingHost {
public:
    explicit CrowdedHost(std::function<void()> crowd) : crowd_(std::move(crowd)) {}
    void RowsSettled(long long settled, long long total) override {
        RecordingHost::RowsSettled(settled, total);
        if (settled == 0 && crowd_) std::exchange(crowd_, nullptr)();
    }

private:
    std::function<void()> crowd_;
};

TEST_F(WithinServerTest, SessionsTheServerDoesNotGrantAreLeftOutQuietly) {
    Exec(db1_, "CREATE TABLE src (id int, pad text); CREATE TABLE dst (id int, pad text)");
    Exec(db1_, "INSERT INTO src SELECT g, repeat('x', 200) FROM generate_series(1, 3000) g");
    // None more, or one more: the run goes on with the writer's own session.
    for (const int more : {0, 1}) {
        SCOPED_TRACE("sessions granted: " + std::to_string(more));
        Exec(db1_, "TRUNCATE dst");
        CrowdedHost host([&] {
            Admin("postgres",
                  "ALTER DATABASE " + db1_ + " CONNECTION LIMIT " +
                      std::to_string(std::stoi(Scalar("postgres",
                                                      "SELECT count(*) FROM pg_stat_activity WHERE "
                                                      "datname = '" +
                                                          db1_ + "'")) +
                                     more));
        });
        RunAppend(Same("dst", "src"), host, SmallChunks(4));
        Admin("postgres", "ALTER DATABASE " + db1_ + " CONNECTION LIMIT -1");
        EXPECT_TRUE(host.ErrorReports().empty()) << host.ErrorReports().front();
        EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
        EXPECT_EQ(Scalar(db1_, "SELECT count(DISTINCT id) FROM dst"), "3000");
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "3000");
    }
}

TEST_F(WithinServerTest, ATableAppendedToItselfDoublesExactly) {
    Exec(db1_, "CREATE TABLE t (id int, pad text)");
    Exec(db1_, "INSERT INTO t SELECT g, repeat('y', 300) FROM generate_series(1, 2000) g");
    WatchingHost host(UserProfile(db1_), "");
    RunAppend(Same("t", "t"), host, SmallChunks());
    EXPECT_TRUE(host.ErrorReports().empty());
    EXPECT_FALSE(host.read_through_program);
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM t"), "4000");
    EXPECT_EQ(Scalar(db1_,
                     "SELECT count(*) FROM (SELECT id FROM t GROUP BY id "
                     "HAVING count(*) <> 2) odd"),
              "0");
}

TEST_F(WithinServerTest, AChunkWithRefusedRowsGoesRowByRowWithTheSameReportsAsTheReference) {
    const std::string make =
        "DROP TABLE IF EXISTS src, dst; "
        "CREATE TABLE src (id int, v text); CREATE TABLE dst (id int, v text CHECK (v <> "
        "'refused')); INSERT INTO src SELECT g, CASE WHEN g IN (17, 1999) THEN 'refused' ELSE "
        "repeat('z', 100) END FROM generate_series(1, 2100) g";
    Exec(db1_, make);
    RecordingHost reference;
    AppendOptions row_by_row;
    row_by_row.strategy = AppendStrategy::RowByRow;
    RunAppend(Same("dst", "src"), reference, row_by_row);
    const auto expected = Query(db1_, "SELECT id::text, v FROM dst ORDER BY id, v");
    ASSERT_EQ(reference.ErrorReports().size(), 2u);

    // With several sessions (the table has no unique key), the chunks begun after a refused one
    // are undone and go again.
    for (const int writers : {1, 2, 4}) {
        SCOPED_TRACE("writers: " + std::to_string(writers));
        Exec(db1_, make);
        WatchingHost host(UserProfile(db1_), "");
        RunAppend(Same("dst", "src"), host, SmallChunks(writers));
        EXPECT_EQ(host.ErrorReports(), reference.ErrorReports());
        EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
        // The same rows (where in the table's pages the server puts them is its own business).
        EXPECT_EQ(Query(db1_, "SELECT id::text, v FROM dst ORDER BY id, v"), expected);
        // Only the chunk that held a refused row came through the program.
        EXPECT_TRUE(host.read_through_program);
    }
}

// A check added to a domain NOT VALID holds for new values: INSERT … SELECT of a value that
// already has the domain's type would not check it.
TEST_F(WithinServerTest, ADomainsCheckIsMadeForEveryRow) {
    ExpectSameAsRowByRow(
        "DROP TABLE IF EXISTS src, dst; DROP DOMAIN IF EXISTS score; "
        "CREATE DOMAIN score AS int; CREATE TABLE src (id int, s score); "
        "CREATE TABLE dst (id int, s score); "
        "INSERT INTO src SELECT g, CASE WHEN g % 100 = 0 THEN -g ELSE g END "
        "FROM generate_series(1, 5000) g; "
        "ALTER DOMAIN score ADD CONSTRAINT positive CHECK (VALUE > 0) NOT VALID",
        "SELECT count(*)::text, sum(id)::text FROM dst");
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "4950");
}

// The rows a policy lets the login see may depend on the session's settings: the source's are
// not the destination's, so such a source is read by its own session.
TEST_F(WithinServerTest, RowsChosenByAPolicyAreTheOnesTheSourceSees) {
    Admin("postgres", "ALTER DATABASE " + db1_ + " SET TimeZone = 'Pacific/Kiritimati'");
    ExpectSameAsRowByRow(
        "DROP TABLE IF EXISTS src, dst; "
        "CREATE TABLE src (id int, valid_from timestamptz); "
        "CREATE TABLE dst (id int, valid_from timestamptz); "
        "INSERT INTO src SELECT g, timestamptz '2026-03-01 00:00:00+00' + g * interval '17 min' "
        "FROM generate_series(1, 100) g; "
        "ALTER TABLE src ENABLE ROW LEVEL SECURITY; ALTER TABLE src FORCE ROW LEVEL SECURITY; "
        "CREATE POLICY on_the_first ON src USING (valid_from::date = date '2026-03-01')",
        "SELECT count(*)::text FROM dst");
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "84");
}

// A host that holds a lock on the destination table for a few seconds once the run has moved
// its first rows, so that a chunk waits for it.
class LockingHost : public RecordingHost {
public:
    explicit LockingHost(const Profile& profile) {
        holder_.Open(BuildConnectionString(profile));
        holder_.Execute("SET idle_in_transaction_session_timeout = 0");
    }
    void SetProgress(double percent) override {
        RecordingHost::SetProgress(percent);
        if (locked_at_) return;
        holder_.Execute("BEGIN; LOCK TABLE dst IN EXCLUSIVE MODE");
        locked_at_ = std::chrono::steady_clock::now();
    }
    void ProcessPendingEvents() override {
        RecordingHost::ProcessPendingEvents();
        if (locked_at_ && !released_ &&
            std::chrono::steady_clock::now() - *locked_at_ > std::chrono::seconds(3)) {
            holder_.Execute("ROLLBACK");
            released_ = true;
        }
    }
    bool released_ = false;

private:
    Connection holder_;
    std::optional<std::chrono::steady_clock::time_point> locked_at_;
};

TEST_F(WithinServerTest, TheSourcesSnapshotOutlivesTheIdleTransactionTimeOut) {
    Admin("postgres", "ALTER DATABASE " + db1_ + " SET idle_in_transaction_session_timeout = '1s'");
    Exec(db1_, "CREATE TABLE src (id int, pad text); CREATE TABLE dst (id int, pad text)");
    Exec(db1_, "INSERT INTO src SELECT g, repeat('x', 200) FROM generate_series(1, 3000) g");
    LockingHost host(UserProfile(db1_));
    RunAppend(Same("dst", "src"), host, SmallChunks());
    EXPECT_TRUE(host.released_);
    EXPECT_TRUE(host.ErrorReports().empty()) << host.ErrorReports().front();
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "3000");
}

// The source's session ends mid-run: each later chunk fails to take the source's snapshot, but
// the report is the source's own loss, and the chunks committed before it stay.
TEST_F(WithinServerTest, ASourceSessionEndedMidRunIsReportedAsTheSourcesLoss) {
    Exec(db1_, "CREATE TABLE src (id int, pad text); CREATE TABLE dst (id int, pad text)");
    Exec(db1_, "INSERT INTO src SELECT g, repeat('x', 200) FROM generate_series(1, 3000) g");
    WatchingHost host(UserProfile(db1_),
                      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE query LIKE "
                      "'BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY%' AND pid <> "
                      "pg_backend_pid()");
    RunAppend(Same("dst", "src"), host, SmallChunks());
    ASSERT_EQ(host.ErrorReports().size(), 1u);
    const std::string report = host.ErrorReports()[0];
    EXPECT_NE(report.find("at line 166"), std::string::npos) << report;
    EXPECT_EQ(report.find("snapshot"), std::string::npos) << report;
    const int appended = std::stoi(Scalar(db1_, "SELECT count(*) FROM dst"));
    EXPECT_GT(appended, 0);
    EXPECT_LT(appended, 3000);
    EXPECT_EQ(host.Messages(), std::vector<std::string>{test::StoppedMessage(appended, 3000)});
    EXPECT_EQ(Scalar(db1_, "SELECT count(DISTINCT id) FROM dst"), std::to_string(appended));
}

TEST_F(WithinServerTest, OnlyWhereTheRowsWouldFareTheSameOneByOne) {
    // Other column types (the values are converted), a destination that refers to another table
    // (its check would see that table as of the snapshot): the usual way.
    Exec(db1_,
         "CREATE TABLE src (id int, v text); INSERT INTO src SELECT g, g::text FROM "
         "generate_series(1, 500) g; CREATE TABLE wide (id bigint, v text); "
         "CREATE TABLE parent (id int PRIMARY KEY); INSERT INTO parent SELECT generate_series(1, "
         "500); CREATE TABLE child (id int REFERENCES parent, v text)");
    for (const char* destination : {"wide", "child"}) {
        WatchingHost host(UserProfile(db1_), "");
        RunAppend(Same(destination, "src"), host, SmallChunks());
        EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
        EXPECT_TRUE(host.read_through_program) << destination;
        EXPECT_EQ(Scalar(db1_, std::string("SELECT count(*) FROM ") + destination), "500");
    }
    // Another login on the same database may lack the source's privileges: the usual way too.
    Admin("postgres", "CREATE ROLE other_login LOGIN PASSWORD 'other pw' IN ROLE " +
                          std::string(TemporaryCluster::kTcpLoginGroup));
    Exec(db1_, "GRANT SELECT, INSERT ON src, wide TO other_login");
    Profile other = UserProfile(db1_);
    other.user = "other_login";
    other.password = "other pw";
    Exec(db1_, "CREATE TABLE dst (id int, v text); GRANT INSERT, SELECT ON dst TO other_login");
    WatchingHost host(UserProfile(db1_), "");
    RunAppend(AppendRequest{"dst", "src", true, other, UserProfile(db1_)}, host, SmallChunks());
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
    EXPECT_TRUE(host.read_through_program);
    Admin(db1_, "DROP OWNED BY other_login");
    Admin("postgres", "DROP ROLE other_login");
}

}  // namespace
}  // namespace trp
