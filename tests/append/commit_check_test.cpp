// What the run concludes about a commit whose connection was lost: asked of a new session, for
// transactions that committed, aborted, are still running, or cannot be asked about at all, and
// after a server restart that may have handed the same id to someone else.
#include "append/commit_check.h"

#include <gtest/gtest.h>

#include <QThread>
#include <memory>

#include "app/temporary_cluster.h"
#include "catalogue/event_pacer.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "support/loopback_port.h"
#include "support/pg_fixture.h"
#include "support/recording_host.h"

namespace trp {
namespace {

using std::chrono::milliseconds;

// A server of its own, since the tests stop it as a crash would.
class CommitCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<TemporaryCluster>();
        password_ = RandomPassword();
        server_->CreateLoginRole("porter", password_);
        server_->Execute("postgres", "CREATE DATABASE checks OWNER porter");
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        Open(session_);
        session_.Execute("DROP TABLE IF EXISTS t; CREATE TABLE t (a int)");
    }

    static std::string ConnectionString() {
        return BuildConnectionString(Profile{server_->Host(), std::to_string(server_->Port()),
                                             "porter", password_, "checks"});
    }
    static void Open(Connection& session) {
        session.SetCommandTimeout(0);
        session.Open(ConnectionString());
    }
    static std::string Value(Connection& session, const std::string& sql) {
        return session.Execute(sql).Value(0).value_or("");
    }
    // Opens a transaction on the session that has an id and writes `rows` rows; what a batch's
    // opening learns of it.
    InDoubtCommit Begin(long long rows = 0) {
        session_.Execute("BEGIN");
        InDoubtCommit commit;
        commit.xid = Value(session_, "SELECT pg_current_xact_id()");
        commit.opened_at = Value(session_, "SELECT statement_timestamp()::text");
        commit.life = Life();
        if (rows > 0)
            session_.Execute("INSERT INTO t SELECT generate_series(1, " + std::to_string(rows) +
                             ")");
        commit.rows = rows;
        commit.table = "t";
        commit.rows_stay_in_table = true;
        return commit;
    }
    ServerLife Life() {
        Connection asking;
        Open(asking);
        return ServerLife::Read(
            ExecuteAwaited(asking.Handle(), std::string("SELECT ") + ServerLife::kColumns, pacer_)
                .get(),
            0);
    }
    CommitStatus Check(const InDoubtCommit& commit,
                       const std::string& connection_string = ConnectionString(),
                       CommitCheckLimits limits = {milliseconds(2000), milliseconds(1000)}) {
        return CheckCommit(connection_string, commit, pacer_, limits);
    }
    // The server stops as by a crash and starts again; others then take transaction ids up to
    // and past `xid`, committing each.
    void CrashAndTakeIdsPast(const std::string& xid, bool wait_a_second = true) {
        // Checkpoint times are whole seconds: the restart's comes a second after what began.
        if (wait_a_second) QThread::msleep(1100);
        // The session's transaction ends with the server, as in a crash: closed first, it would
        // leave a record of its abort, and its id would not be handed out again.
        server_->StopServer();
        session_.Close();
        server_->StartServer();
        Connection other;
        Open(other);
        while (std::stoull(Value(other, "SELECT pg_current_xact_id()")) <= std::stoull(xid)) {
        }
        Open(session_);
    }

    static inline std::unique_ptr<TemporaryCluster> server_;
    static inline std::string password_;
    test::RecordingHost host_;
    EventPacer pacer_{host_};
    Connection session_;
};

TEST_F(CommitCheckTest, CommittedAndAbortedTransactionsAreToldApart) {
    const InDoubtCommit committed = Begin(3);
    session_.Execute("COMMIT");
    const InDoubtCommit aborted = Begin(3);
    session_.Execute("ROLLBACK");
    EXPECT_EQ(Check(committed), CommitStatus::Committed);
    EXPECT_EQ(Check(aborted), CommitStatus::Aborted);
    // As after a crash that lost the end of the log: the id lies in the server's future.
    InDoubtCommit never = committed;
    never.xid = "999999999999";
    EXPECT_EQ(Check(never), CommitStatus::Aborted);
}

TEST_F(CommitCheckTest, ATransactionStillRunningIsAskedAboutUntilItEnds) {
    const InDoubtCommit running = Begin();
    EXPECT_EQ(Check(running), CommitStatus::Unknown);

    // It commits while the check waits: the check sees the commit.
    class CommittingHost : public test::RecordingHost {
    public:
        explicit CommittingHost(Connection& session) : session_(session) {}
        void ProcessPendingEvents() override {
            if (++pending_event_calls == 10) session_.Execute("COMMIT");
        }
        Connection& session_;
    } committing(session_);
    EventPacer pacer(committing);
    EXPECT_EQ(
        CheckCommit(ConnectionString(), running, pacer, {milliseconds(2000), milliseconds(30000)}),
        CommitStatus::Committed);
}

TEST_F(CommitCheckTest, NoAnswerWithinTheLimitsIsUnknown) {
    const InDoubtCommit committed = Begin(1);
    session_.Execute("COMMIT");
    Profile unreachable{server_->Host(), "", "porter", password_, "checks"};
    const test::LoopbackPort refusing(test::LoopbackPort::Kind::Refusing);
    unreachable.port = refusing.Port();
    EXPECT_EQ(Check(committed, BuildConnectionString(unreachable)), CommitStatus::Unknown);

    // The program ends while the check still tries: it has no time to ask, and the caller must
    // still learn that the commit is unknown rather than lose it with the check.
    class EndingHost : public test::RecordingHost {
    public:
        bool StopRequested() const override { return pending_event_calls > 10; }
    } ending;
    EventPacer pacer(ending);
    EXPECT_EQ(CheckCommit(BuildConnectionString(unreachable), committed, pacer,
                          {milliseconds(60000), milliseconds(1000)}),
              CommitStatus::Unknown);
    EXPECT_TRUE(pacer.Ending());
}

// The server hands out again the ids that had not reached its log before a crash. Another
// client's commit under the same id is never taken for the batch's, and a commit that reached
// the log before the crash is still found, whether the checkpoint that ended the recovery or
// the rows marked with the id tell.
TEST_F(CommitCheckTest, AnIdHandedOutAgainAfterACrashIsNotTakenForTheBatchs) {
    for (const bool later_checkpoint : {false, true}) {
        SCOPED_TRACE(later_checkpoint ? "the rows tell" : "the checkpoint tells");
        SetUp();
        session_.Execute("SET synchronous_commit = on");
        const InDoubtCommit durable = Begin(2);
        session_.Execute("COMMIT");
        // Only an id: nothing of it reaches the log.
        InDoubtCommit lost = Begin();
        lost.rows = 2;
        CrashAndTakeIdsPast(lost.xid);
        // A checkpoint of the running server records running transactions, and proves nothing.
        if (later_checkpoint) server_->Execute("checks", "CHECKPOINT");
        ASSERT_EQ(Value(session_, "SELECT pg_xact_status('" + lost.xid + "')"), "committed");
        EXPECT_EQ(Check(lost), CommitStatus::Aborted);
        EXPECT_EQ(Check(durable), CommitStatus::Committed);
        // Without its rows, nothing proves whose the id's commit is once a checkpoint followed.
        InDoubtCommit unproven = durable;
        unproven.rows.reset();
        EXPECT_EQ(Check(unproven),
                  later_checkpoint ? CommitStatus::Unknown : CommitStatus::Committed);
    }
}

// A crash within the second its transaction began: the checkpoint's whole second cannot tell
// before from after, the server's start can. Rows written under a savepoint, as a settled
// batch's pieces are, carry the savepoint's id, so finding none of them proves nothing.
TEST_F(CommitCheckTest, ACommitOfTheCrashsOwnSecondIsProvenByTheServersStart) {
    session_.Execute("SET synchronous_commit = on");
    InDoubtCommit durable = Begin();
    session_.Execute("SAVEPOINT piece; INSERT INTO t VALUES (1), (2); RELEASE piece; COMMIT");
    durable.rows = 2;
    InDoubtCommit lost = Begin();
    lost.rows = 2;
    CrashAndTakeIdsPast(lost.xid, false);
    const std::string started = Value(session_,
                                      "SELECT (pg_postmaster_start_time() - "
                                      "interval '1 millisecond')::text");
    durable.opened_at = lost.opened_at = started;
    EXPECT_EQ(Check(lost), CommitStatus::Aborted);
    EXPECT_EQ(Check(durable), CommitStatus::Committed);
}

}  // namespace
}  // namespace trp
