// What the destination sees of a run besides the rows: its own settings for its triggers and
// defaults, row-level security refusing single rows, tables without columns, and a statement
// cancelled while it waits.
#include <gtest/gtest.h>

#include "append/append_operation.h"
#include "append_test_support.h"
#include "db/connection.h"
#include "db/connection_string.h"

namespace trp {
namespace {

using test::AppendTest;
using test::RecordingHost;

constexpr AppendStrategy kEveryStrategy[] = {AppendStrategy::Fast, AppendStrategy::PipelinedInserts,
                                             AppendStrategy::RowByRow};

AppendOptions With(AppendStrategy strategy) {
    AppendOptions options;
    options.strategy = strategy;
    return options;
}

TEST_F(AppendTest, TriggersAndDefaultsSeeTheDestinationDatabasesOwnSettings) {
    Admin("postgres", "ALTER DATABASE " + db1_ + " SET TimeZone = 'Pacific/Auckland'; " +
                          "ALTER DATABASE " + db1_ + " SET DateStyle = 'German, DMY'");
    Exec(db1_,
         "CREATE TABLE one (id int, zone text DEFAULT current_setting('TimeZone'), style text); "
         "CREATE FUNCTION note() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
         "NEW.zone := current_setting('TimeZone'); NEW.style := current_setting('DateStyle'); "
         "RETURN NEW; END $$; "
         "CREATE TRIGGER note BEFORE INSERT ON one FOR EACH ROW EXECUTE FUNCTION note()");
    Exec(db2_, "CREATE TABLE two (id int, zone text, style text)");
    Exec(db2_, "INSERT INTO two VALUES (1, NULL, NULL), (2, NULL, NULL)");
    RecordingHost host;
    RunAppend(Request("one", "two"), host);
    EXPECT_TRUE(host.ErrorReports().empty());
    EXPECT_EQ(Scalar(db1_, "SELECT string_agg(DISTINCT zone || ' ' || style, ',') FROM one"),
              "Pacific/Auckland German, DMY");
}

TEST_F(AppendTest, RowLevelSecurityRefusesSingleRowsWithoutEndingTheRun) {
    Exec(db1_,
         "CREATE TABLE one (id int, owner text); ALTER TABLE one ENABLE ROW LEVEL SECURITY; "
         "ALTER TABLE one FORCE ROW LEVEL SECURITY; "
         "CREATE POLICY mine ON one USING (true) WITH CHECK (owner = current_user)");
    Exec(db2_, "CREATE TABLE two (id int, owner text)");
    Exec(db2_,
         "INSERT INTO two VALUES (1, 'porter'), (2, 'someone'), (3, 'porter'), "
         "(4, 'someone'), (5, 'porter')");
    RecordingHost host;
    RunAppend(Request("one", "two"), host);
    ASSERT_EQ(host.ErrorReports().size(), 2u);
    for (const auto& report : host.ErrorReports())
        EXPECT_EQ(report, RowReport("ERROR:  new row violates row-level security policy for "
                                    "table \"one\""));
    EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
    EXPECT_EQ(Scalar(db1_, "SELECT string_agg(id::text, ',' ORDER BY id) FROM one"), "1,3,5");
}

// "Done." counts the rows sent in committed transactions and the rows refused, not what the
// server says it stored: a trigger may keep a row out without refusing it.
TEST_F(AppendTest, RowsATriggerKeepsOutStillMakeARunDone) {
    Exec(db1_,
         "CREATE TABLE one (id int); CREATE FUNCTION odd_only() RETURNS trigger LANGUAGE plpgsql "
         "AS $$ BEGIN IF NEW.id % 2 = 0 THEN RETURN NULL; END IF; RETURN NEW; END $$; "
         "CREATE TRIGGER odd_only BEFORE INSERT ON one FOR EACH ROW EXECUTE FUNCTION odd_only()");
    Exec(db2_, "CREATE TABLE two (id int); INSERT INTO two SELECT generate_series(1, 100)");
    for (const AppendStrategy strategy : kEveryStrategy) {
        Exec(db1_, "TRUNCATE one");
        RecordingHost host;
        RunAppend(Request("one", "two"), host, With(strategy));
        EXPECT_TRUE(host.ErrorReports().empty());
        EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM one"), "50");
    }
}

TEST_F(AppendTest, TablesWithoutColumnsAppendTheirRowsOnEveryPath) {
    Exec(db1_, "CREATE TABLE one ()");
    Exec(db2_, "CREATE TABLE two (); INSERT INTO two SELECT FROM generate_series(1, 7)");
    for (const AppendStrategy strategy : kEveryStrategy) {
        Exec(db1_, "TRUNCATE one");
        RecordingHost host;
        RunAppend(Request("one", "two"), host, With(strategy));
        EXPECT_TRUE(host.ErrorReports().empty()) << host.ErrorReports().front();
        EXPECT_EQ(host.Messages(), std::vector<std::string>{"Done."});
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM one"), "7");
    }
}

// A host whose event processing, once the run reads the source's rows, has another session lock
// the destination table, then cancels the run's statement that waits for it.
class CancellingHost : public RecordingHost {
public:
    CancellingHost(const Profile& destination, std::string table)
        : database_(destination.database), table_(std::move(table)) {
        holder_.Open(BuildConnectionString(destination));
    }
    ~CancellingHost() override { holder_.Execute("ROLLBACK"); }
    void ProcessPendingEvents() override {
        RecordingHost::ProcessPendingEvents();
        if (!locked_) {
            if (test::QueryRows(test::Cluster().AdminProfile(),
                                "SELECT FROM pg_stat_activity WHERE query LIKE '%TO STDOUT%' "
                                "AND pid <> pg_backend_pid()")
                    .empty())
                return;
            holder_.Execute("BEGIN; LOCK TABLE " + table_ + " IN ACCESS EXCLUSIVE MODE");
            locked_ = true;
        } else if (!cancelled_) {
            cancelled_ = !test::QueryRows(test::Cluster().AdminProfile(),
                                          "SELECT pg_cancel_backend(pid) FROM pg_stat_activity "
                                          "WHERE wait_event_type = 'Lock' AND datname = " +
                                              QuoteLiteral(database_))
                              .empty();
        }
    }

private:
    Connection holder_;
    std::string database_;
    std::string table_;
    bool locked_ = false;
    bool cancelled_ = false;
};

TEST_F(AppendTest, AStatementCancelledWhileWaitingEndsTheRunAfterOneReport) {
    Exec(db1_, "CREATE TABLE one (id int)");
    Exec(db2_, "CREATE TABLE two (id int); INSERT INTO two SELECT generate_series(1, 50)");
    for (const AppendStrategy strategy : kEveryStrategy) {
        {
            CancellingHost host(UserProfile(db1_), "one");
            RunAppend(Request("one", "two"), host, With(strategy));
            ASSERT_EQ(host.ErrorReports().size(), 1u);
            EXPECT_EQ(host.ErrorReports()[0],
                      RowReport("ERROR:  canceling statement due to user request"));
            EXPECT_EQ(host.Messages(),
                      std::vector<std::string>{"Appending stopped. 0 of 50 rows were appended."});
        }
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM one"), "0");
    }
}

}  // namespace
}  // namespace trp
