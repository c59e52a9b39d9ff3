// What the run concludes about a commit whose connection was lost: asked of a new session, for
// transactions that committed, aborted, are still running, or cannot be asked about at all.
#include "append/commit_check.h"

#include <gtest/gtest.h>

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

class CommitCheckTest : public test::PgTest {
protected:
    void SetUp() override {
        CreateDatabase("commit_check");
        session_.SetCommandTimeout(0);
        session_.Open(ConnectionString());
    }
    std::string ConnectionString() const {
        return BuildConnectionString(UserProfile("commit_check"));
    }
    // Opens a transaction on the session that has an id, and returns the id.
    std::string BeginWithId() {
        session_.Execute("BEGIN");
        return *session_.Execute("SELECT pg_current_xact_id()").Value(0);
    }
    CommitStatus Check(const std::string& xid, const std::string& connection_string,
                       CommitCheckLimits limits = {milliseconds(2000), milliseconds(1000)}) {
        EventPacer pacer(host_);
        return CheckCommit(connection_string, xid, pacer, limits);
    }

    test::RecordingHost host_;
    Connection session_;
};

TEST_F(CommitCheckTest, CommittedAndAbortedTransactionsAreToldApart) {
    const std::string committed = BeginWithId();
    session_.Execute("COMMIT");
    const std::string aborted = BeginWithId();
    session_.Execute("ROLLBACK");
    EXPECT_EQ(Check(committed, ConnectionString()), CommitStatus::Committed);
    EXPECT_EQ(Check(aborted, ConnectionString()), CommitStatus::Aborted);
}

TEST_F(CommitCheckTest, ATransactionStillRunningIsAskedAboutUntilItEnds) {
    const std::string running = BeginWithId();
    EXPECT_EQ(Check(running, ConnectionString()), CommitStatus::Unknown);

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
    const std::string committed = BeginWithId();
    session_.Execute("COMMIT");
    Profile unreachable = UserProfile("commit_check");
    const test::LoopbackPort refusing(test::LoopbackPort::Kind::Refusing);
    unreachable.port = refusing.Port();
    EXPECT_EQ(Check(committed, BuildConnectionString(unreachable)), CommitStatus::Unknown);
}

TEST_F(CommitCheckTest, AnIdTheServerNeverHandedOutNeverCommitted) {
    // As after a crash that lost the end of the log: the id lies in the server's future.
    EXPECT_EQ(Check("999999999999", ConnectionString()), CommitStatus::Aborted);
}

}  // namespace
}  // namespace trp
