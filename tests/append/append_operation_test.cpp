#include "append/append_operation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "append/row_transfer.h"
#include "append_test_support.h"
#include "db/connection.h"
#include "db/connection_string.h"

namespace trp {
namespace {

using test::AppendTest;
using test::RecordingHost;
using Event = RecordingHost::Event;

std::vector<Event::Kind> Kinds(const RecordingHost& host) {
    std::vector<Event::Kind> kinds;
    for (const auto& e : host.events) kinds.push_back(e.kind);
    return kinds;
}

TEST(StoppedMessage, CountsWithThousandsSeparatorsAndRowsThatCouldNotBeChecked) {
    EXPECT_EQ(StoppedMessage({1600000, 1600000, 0}, 5000000),
              "Appending stopped. 1,600,000 of 5,000,000 rows were appended.");
    EXPECT_EQ(StoppedMessage({0, 0, 0}, 999), "Appending stopped. 0 of 999 rows were appended.");
    EXPECT_EQ(StoppedMessage({1000, 1000, 20000}, 1000000),
              "Appending stopped. 1,000 of 1,000,000 rows were appended. Whether the last 20,000 "
              "rows were appended could not be checked.");
}

TEST_F(AppendTest, WithoutBothSelectionsOnlyAsksForThem) {
    RecordingHost host;
    AppendRequest request = Request("t", "t");
    request.table2.reset();
    request.profile1.port = "1";  // no connection may be attempted
    RunAppend(request, host);
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0].kind, Event::Message);
    EXPECT_EQ(host.events[0].text, "Please select a table and field from each database.");
}

TEST_F(AppendTest, AppendsInBothDirectionsWithTheBarFollowingCommittedRows) {
    Exec(db1_, "CREATE TABLE one (id int, name text)");
    Exec(db2_, "CREATE TABLE two (id int, name text)");
    Exec(db2_, "INSERT INTO two VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd')");

    RecordingHost into1;
    AppendOptions one_row_batches;
    one_row_batches.batch_rows = 1;
    RunAppend(Request("one", "two", true), into1, one_row_batches);
    EXPECT_EQ(Query(db1_, "SELECT id::text, name FROM one ORDER BY id").size(), 4u);
    EXPECT_EQ(Kinds(into1),
              (std::vector<Event::Kind>{Event::Busy, Event::Progress, Event::Progress,
                                        Event::Progress, Event::Progress, Event::Message,
                                        Event::NotBusy, Event::ProgressReset}));
    EXPECT_EQ(into1.Progress(), (std::vector<double>{25, 50, 75, 100}));
    EXPECT_EQ(into1.Messages(), std::vector<std::string>{"Done."});
    EXPECT_GT(into1.pending_event_calls, 0);

    Exec(db1_, "INSERT INTO one VALUES (5, 'e')");
    RecordingHost into2;
    RunAppend(Request("one", "two", false), into2);
    EXPECT_EQ(Scalar(db2_, "SELECT count(*) FROM two"), "9");
    EXPECT_EQ(Scalar(db2_, "SELECT count(*) FROM two WHERE id = 5"), "1");
    EXPECT_TRUE(into2.ErrorReports().empty());
}

TEST_F(AppendTest, EachEndingMessageIsFollowedByPointerThenBarReset) {
    Exec(db1_, "CREATE TABLE empty_one (id int)");
    Exec(db1_, "CREATE TABLE wide (id int, x int)");
    Exec(db2_, "CREATE TABLE empty_two (id int)");
    const std::vector<Event::Kind> ending = {Event::Busy, Event::Message, Event::NotBusy,
                                             Event::ProgressReset};
    struct Case {
        AppendRequest request;
        std::string message;
    } cases[] = {
        {Request("empty_one", "empty_two", true), "No records in table empty_two."},
        {Request("empty_one", "empty_two", false), "No records in table empty_one."},
        {Request("wide", "empty_two"), "Tables do not have same number of fields (columns)."},
        {Request("missing", "empty_two"), "You do not have permission to this table."},
        {Request("Empty_one", "empty_two"), "You do not have permission to this table."},
    };
    for (const auto& c : cases) {
        RecordingHost host;
        RunAppend(c.request, host);
        EXPECT_EQ(Kinds(host), ending) << c.message;
        EXPECT_EQ(host.Messages(), std::vector<std::string>{c.message});
    }
}

TEST_F(AppendTest, ConnectionThatCannotOpenIsReportedThenRefusedAsPermission) {
    Exec(db1_, "CREATE TABLE one (id int)");
    Exec(db2_, "CREATE TABLE two (id int)");
    AppendRequest request = Request("one", "two", false);
    request.profile2.password = "wrong";
    RecordingHost host;
    RunAppend(request, host);
    ASSERT_EQ(host.ErrorReports().size(), 1u);
    EXPECT_NE(host.ErrorReports()[0].find("PushButton2_Click at line 136"), std::string::npos);
    EXPECT_NE(host.ErrorReports()[0].find("password authentication failed"), std::string::npos);
    EXPECT_EQ(host.Messages(),
              std::vector<std::string>{"You do not have permission to this table."});
}

TEST_F(AppendTest, FailingRowsAreReportedAtTheirLineWhileTheOthersArrive) {
    Exec(db1_, "CREATE TABLE one (id int PRIMARY KEY, n int)");
    Exec(db1_, "INSERT INTO one VALUES (2, 0)");
    Exec(db2_, "CREATE TABLE two (id int, n text)");
    Exec(db2_, "INSERT INTO two VALUES (1, '1'), (2, '2'), (3, 'x'), (4, '4')");
    RecordingHost host;
    RunAppend(Request("one", "two"), host);
    const auto reports = host.ErrorReports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0],
              RowReport("ERROR:  duplicate key value violates unique constraint \"one_pkey\"\n"
                        "DETAIL:  Key (id)=(2) already exists."));
    EXPECT_NE(reports[1].find("invalid input syntax for type integer: \"x\""), std::string::npos);
    EXPECT_NE(reports[1].find("at line 212"), std::string::npos);
    EXPECT_EQ(Query(db1_, "SELECT id::text FROM one ORDER BY id").size(), 3u);
    EXPECT_EQ(Scalar(db1_, "SELECT string_agg(id::text, ',' ORDER BY id) FROM one"), "1,2,4");
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
}

TEST_F(AppendTest, ARefusedRowIsReportedBeforeTheBarPassesIt) {
    Exec(db1_, "CREATE TABLE one (id int, n int)");
    Exec(db2_, "CREATE TABLE two (id int, n text)");
    Exec(db2_,
         "INSERT INTO two SELECT g, CASE WHEN g = 5 THEN 'x' ELSE g::text END "
         "FROM generate_series(1, 10) g");
    RecordingHost host;
    RunAppend(Request("one", "two"), host);
    double before = 0;
    double after = -1;
    bool reported = false;
    for (const auto& e : host.events) {
        if (e.kind == Event::ErrorBox) reported = true;
        if (e.kind != Event::Progress) continue;
        if (!reported) before = e.value;
        if (reported && after < 0) after = e.value;
    }
    ASSERT_TRUE(reported);
    EXPECT_LE(before, 40);  // at most the four rows before it
    EXPECT_GE(after, 50);
    EXPECT_EQ(host.Progress().back(), 100);
}

// A host that, after the first batch, is busy for longer than the command time-out, while the
// source's reading statement is still under way (no batch is open on the destination then).
class BusyHost : public RecordingHost {
public:
    void SetProgress(double percent) override {
        RecordingHost::SetProgress(percent);
        if (busy_once_) return;
        busy_once_ = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }

private:
    bool busy_once_ = false;
};

TEST_F(AppendTest, ARunLongerThanTheCommandTimeOutStillReadsItsWholeSource) {
    Exec(db1_, "CREATE TABLE one (id int, pad text)");
    // Far more than the sockets hold, so that the server is still sending when the time runs out.
    Exec(db2_,
         "CREATE TABLE two (id int, pad text); INSERT INTO two SELECT g, repeat('x', 100) "
         "FROM generate_series(1, 200000) g");
    BusyHost host;
    AppendOptions options;
    options.command_timeout = 1;
    // The source's statement is the one in question: a batch in flight while the host is busy
    // would wait for its data past the time-out.
    options.writers = 1;
    RunAppend(Request("one", "two"), host, options);
    EXPECT_TRUE(host.ErrorReports().empty()) << host.ErrorReports().front();
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM one"), "200000");
}

TEST_F(AppendTest, SelfAppendDoublesTheTableExactly) {
    const Profile same = UserProfile(db1_);
    Exec(db1_, "CREATE TABLE t (id int, v text)");
    Exec(db1_, "INSERT INTO t SELECT g, 'v' || g FROM generate_series(1, 2500) g");
    RecordingHost host;
    AppendOptions small;
    small.batch_rows = 100;
    RunAppend(AppendRequest{"t", "t", true, same, same}, host, small);
    EXPECT_TRUE(host.ErrorReports().empty());
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM t"), "5000");
    EXPECT_EQ(Scalar(db1_,
                     "SELECT count(*) FROM (SELECT id, v FROM t GROUP BY id, v "
                     "HAVING count(*) <> 2) odd"),
              "0");
}

TEST_F(AppendTest, NullsSeparatorsAndLoneEmptyValuesArriveIntact) {
    Exec(db1_, "CREATE TABLE people (name text, nick text, age int)");
    Exec(db2_, "CREATE TABLE people (name text, nick text, age int)");
    Exec(db2_,
         "INSERT INTO people VALUES ('O''Brien', NULL, 42), "
         "('a|mysepz123|b', '', NULL), ('\\x', E'tab\\there', 7)");
    Exec(db1_, "CREATE TABLE lone (v text)");
    Exec(db2_, "CREATE TABLE lone (v text)");
    Exec(db2_, "INSERT INTO lone VALUES (NULL), (''), ('x')");

    // A name that needs quoting, on a destination that takes the INSERT statements.
    Exec(db1_,
         "CREATE TABLE \"we\"\"ird Name\" (v text); CREATE RULE keep AS ON INSERT TO "
         "\"we\"\"ird Name\" DO ALSO NOTIFY appended");
    Exec(db2_,
         "CREATE TABLE \"we\"\"ird Name\" (v text); INSERT INTO \"we\"\"ird Name\" "
         "VALUES (NULL), (''), ('a''b')");

    RecordingHost host;
    RunAppend(Request("people", "people"), host);
    RunAppend(Request("lone", "lone"), host);
    RunAppend(Request("we\"ird Name", "we\"ird Name"), host);
    EXPECT_TRUE(host.ErrorReports().empty());
    EXPECT_EQ(host.Messages(), std::vector<std::string>(3, "Done."));
    for (const std::string table : {"people", "lone", "\"we\"\"ird Name\""}) {
        const std::string rows = "SELECT * FROM " + table + " ORDER BY 1";
        EXPECT_EQ(Query(db1_, rows), Query(db2_, rows)) << table;
    }
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM people WHERE nick IS NULL AND age = 42"), "1");
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM lone WHERE v IS NULL"), "1");
}

// A host whose event processing lets another session write to the source table.
class MeddlingHost : public RecordingHost {
public:
    explicit MeddlingHost(const Profile& source) {
        meddler_.SetCommandTimeout(0);
        meddler_.Open(BuildConnectionString(source));
    }
    // Once rows are moving, the source's snapshot has been taken.
    void SetProgress(double percent) override {
        RecordingHost::SetProgress(percent);
        moving_ = true;
    }
    void ProcessPendingEvents() override {
        RecordingHost::ProcessPendingEvents();
        if (moving_) {
            meddler_.Execute("INSERT INTO two VALUES (-1)");
            ++inserted;
        }
    }
    int inserted = 0;

private:
    Connection meddler_;
    bool moving_ = false;
};

TEST_F(AppendTest, RowsAddedToTheSourceDuringARunAreNotAppended) {
    Exec(db1_, "CREATE TABLE one (id int)");
    Exec(db2_, "CREATE TABLE two (id int)");
    Exec(db2_, "INSERT INTO two SELECT generate_series(1, 3000)");
    int inserted = 0;
    for (const auto strategy : {AppendStrategy::Fast, AppendStrategy::RowByRow}) {
        Exec(db1_, "TRUNCATE one");
        Exec(db2_, "DELETE FROM two WHERE id < 0");
        MeddlingHost host(UserProfile(db2_));
        AppendOptions options;
        options.strategy = strategy;
        options.batch_rows = 500;
        RunAppend(Request("one", "two"), host, options);
        inserted += host.inserted;
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM one"), "3000");
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM one WHERE id < 0"), "0");
        EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
    }
    EXPECT_GT(inserted, 0);
}

// A host whose event processing ends the source's server process once rows are moving.
class SourceKillingHost : public RecordingHost {
public:
    explicit SourceKillingHost(std::string database) : database_(std::move(database)) {}
    void SetProgress(double percent) override {
        RecordingHost::SetProgress(percent);
        moving_ = true;
    }
    void ProcessPendingEvents() override {
        RecordingHost::ProcessPendingEvents();
        if (moving_ && !killed_) {
            killed_ = true;
            test::Cluster().Execute("postgres",
                                    "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                                    "datname = " +
                                        QuoteLiteral(database_) + " AND query LIKE '%TO STDOUT%'");
        }
    }

private:
    std::string database_;
    bool moving_ = false;
    bool killed_ = false;
};

TEST_F(AppendTest, SourceLostPartWayIsReportedOnceAndTheRowsReadSoFarStay) {
    Exec(db1_, "CREATE TABLE one (id int, pad text)");
    Exec(db2_, "CREATE TABLE two (id int, pad text)");
    // Far more than the sockets hold, so that the server is still sending when it goes.
    Exec(db2_, "INSERT INTO two SELECT g, repeat('x', 2000) FROM generate_series(1, 30000) g");
    SourceKillingHost host(db2_);
    AppendOptions options;
    options.batch_rows = 200;
    RunAppend(Request("one", "two"), host, options);
    ASSERT_EQ(host.ErrorReports().size(), 1u);
    EXPECT_NE(host.ErrorReports()[0].find("at line 166"), std::string::npos);
    const int appended = std::stoi(Scalar(db1_, "SELECT count(*) FROM one"));
    EXPECT_GT(appended, 0);
    EXPECT_LT(appended, 30000);
    EXPECT_EQ(host.Messages(), std::vector<std::string>{test::StoppedMessage(appended, 30000)});
    // The rows that arrived are the first ones, without gaps.
    EXPECT_EQ(Scalar(db1_, "SELECT max(id) FROM one"), std::to_string(appended));
}

class StoppingHost : public RecordingHost {
public:
    bool StopRequested() const override { return pending_event_calls > 0; }
};

TEST_F(AppendTest, StopRequestEndsTheRunKeepingCommittedRows) {
    Exec(db1_, "CREATE TABLE one (id int)");
    Exec(db2_, "CREATE TABLE two (id int)");
    Exec(db2_, "INSERT INTO two SELECT generate_series(1, 20000)");
    StoppingHost host;
    AppendOptions options;
    options.strategy = AppendStrategy::RowByRow;
    RunAppend(Request("one", "two"), host, options);
    EXPECT_TRUE(host.Messages().empty());
    EXPECT_TRUE(host.ErrorReports().empty());
    EXPECT_LT(std::stoi(Scalar(db1_, "SELECT count(*) FROM one")), 20000);
}

}  // namespace
}  // namespace trp
