#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "append/append_operation.h"
#include "append_test_support.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/record_set.h"

namespace trp {
namespace {

using test::AppendTest;
using test::RecordingHost;

// Into a table with a primary key two writers' batches commit in the source's order, whatever
// the server makes them wait for. The source's first batch (ids 1, 2, 3, then new ones) waits
// for id 2, which another client holds uncommitted, while the second takes id 3 and commits
// nothing before its turn: the first can go on only once the second gives way, and the second's
// id 3 (and id 1) must be the refused rows, as with one writer. COPY inserts its rows a thousand
// at a time, so each batch has two thousand.
class WritersInOrderTest : public AppendTest {};

struct HeldKeyCase {
    const char* name;
    // The second batch's second thousand rows: the first id among them.
    const char* second_thousand;
    // The destination database's deadlock_timeout (empty: the server's).
    const char* deadlock_timeout;
    // The server processes that wait for a lock once both batches went out.
    const char* waiting;
};

TEST_F(WritersInOrderTest, AnEarlierBatchWaitingForALaterOnesKeyCommitsFirst) {
    const HeldKeyCase cases[] = {
        // Only the first batch waits, for the second, which waits for its turn in the program:
        // the second gives way once the first has taken too long.
        {"the later batch gives way", "40000", "", "1"},
        // The second also waits, for the first one's id 1: the server breaks the deadlock by
        // failing the first, which is settled as a batch that failed once the second gave way.
        {"the server breaks a deadlock", "1", "100ms", "2"},
    };
    AppendOptions options;
    options.batch_rows = 2000;
    options.writers = 2;
    const std::string ordered = "SELECT id::text, v FROM dest ORDER BY id";
    const std::string make =
        "DROP TABLE IF EXISTS dest; CREATE TABLE dest (id int PRIMARY KEY, v text)";

    for (const HeldKeyCase& held : cases) {
        SCOPED_TRACE(held.name);
        Exec(db2_, std::string("DROP TABLE IF EXISTS src; CREATE TABLE src (id int, v text); ") +
                       "INSERT INTO src VALUES (1, 'a'), (2, 'a'), (3, 'a'); "
                       "INSERT INTO src SELECT g, 'a' FROM generate_series(20001, 21997) g; "
                       "INSERT INTO src VALUES (3, 'b'); "
                       "INSERT INTO src SELECT g, 'b' FROM generate_series(10001, 10999) g; "
                       "INSERT INTO src VALUES (" +
                       held.second_thousand +
                       ", 'b'); "
                       "INSERT INTO src SELECT g, 'b' FROM generate_series(30001, 30999) g");
        Exec(db1_, make);
        RecordingHost reference;
        AppendOptions row_by_row;
        row_by_row.strategy = AppendStrategy::RowByRow;
        RunAppend(Request("dest", "src"), reference, row_by_row);
        const test::Rows expected = Query(db1_, ordered);

        Admin("postgres", "ALTER DATABASE " + db1_ + " RESET deadlock_timeout");
        if (*held.deadlock_timeout)
            Admin("postgres", "ALTER DATABASE " + db1_ + " SET deadlock_timeout = '" +
                                  held.deadlock_timeout + "'");
        Exec(db1_, make);
        // Opened here: opening reads the environment, which the run's thread shares.
        Connection holder;
        Connection watcher;
        holder.SetCommandTimeout(0);
        holder.Open(BuildConnectionString(UserProfile(db1_)));
        watcher.Open(BuildConnectionString(UserProfile(db1_)));
        holder.Execute("BEGIN; INSERT INTO dest VALUES (2, 'held')");
        std::thread releasing([&] {
            const std::string waiting =
                "SELECT count(*) FROM pg_stat_activity WHERE "
                "wait_event_type = 'Lock' AND datname = '" +
                db1_ + "'";
            for (int tries = 0; tries < 1000; ++tries) {
                if (watcher.Execute(waiting).Value(0) == held.waiting) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            // The second batch's first thousand rows are in.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            holder.Execute("ROLLBACK");
        });
        RecordingHost host;
        const AppendOutcome outcome = RunAppend(Request("dest", "src"), host, options);
        releasing.join();
        EXPECT_EQ(outcome.path, AppendPath::BinaryCopy);
        EXPECT_EQ(host.ErrorReports(), reference.ErrorReports());
        EXPECT_EQ(host.Messages(), reference.Messages());
        EXPECT_EQ(Query(db1_, ordered), expected);
    }
}

// "Stop Appending" on the first batch's refused row: the second batch, which gave way before
// the report, is not sent again, so the run ends with the first batch's other rows only.
TEST_F(WritersInOrderTest, StopOnARefusedRowSendsNoBatchThatGaveWayAgain) {
    Exec(db2_,
         "CREATE TABLE src (id int, v text); INSERT INTO src SELECT CASE WHEN g = 5 THEN 1 "
         "ELSE g END, 'v' FROM generate_series(1, 6000) g");
    Exec(db1_, "CREATE TABLE dest (id int PRIMARY KEY, v text)");
    AppendOptions options;
    options.batch_rows = 2000;
    options.writers = 2;
    RecordingHost host;
    host.stop_at_row_report = 1;
    RunAppend(Request("dest", "src"), host, options);
    EXPECT_EQ(host.ErrorReports().size(), 1u);
    EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dest"), "1999");
    EXPECT_EQ(host.Messages(), std::vector<std::string>{test::StoppedMessage(1999, 6000)});
}

}  // namespace
}  // namespace trp
