// A destination that goes away for a moment: the run reconnects, settles what was in doubt and
// goes on where it was. Each run that rides the loss out ends "Done." with exactly the source's
// rows once; a loss past the budget, an administrator's termination and a closed window end the
// run as before, with an exact count.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QThread>
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

#include "app/temporary_cluster.h"
#include "append_test_support.h"
#include "screen_run.h"
#include "support/network_namespace.h"
#include "support/pgbouncer.h"

namespace trp {
namespace {

using std::chrono::seconds;

constexpr long long kRows = 100000;

// Records the reconnection and does the test's fault once the bar passes `at_percent`; then, on
// every round of events, the test's `meanwhile` until it says it is done.
class FaultHost : public test::RecordingHost {
public:
    void SetProgress(double percent) override {
        RecordingHost::SetProgress(percent);
        if (fault && percent >= at_percent) std::exchange(fault, nullptr)();
        if (later && percent >= later_percent) std::exchange(later, nullptr)();
    }
    void ProcessPendingEvents() override {
        RecordingHost::ProcessPendingEvents();
        if (meanwhile && meanwhile()) meanwhile = nullptr;
    }
    void Reconnecting(int database, seconds) override { lost_database = database; }
    void Reconnected(int, seconds took, long long) override {
        ++reconnections;
        longest = std::max(longest, took);
        // How long each case's wait lasted, for whoever runs the program by hand.
        std::cout << ::testing::UnitTest::GetInstance()->current_test_info()->name()
                  << ": reconnected after " << took.count() << " s\n";
    }
    bool StopRequested() const override { return stop_requested; }

    double at_percent = 30;
    std::function<void()> fault;
    // A second step, once the bar passes `later_percent`.
    double later_percent = 40;
    std::function<void()> later;
    std::function<bool()> meanwhile;
    int lost_database = 0;
    int reconnections = 0;
    seconds longest{0};
    bool stop_requested = false;
};

class RideOutTest : public test::AppendTest {
protected:
    void SetUp() override {
        AppendTest::SetUp();
        Exec(db2_, "CREATE TABLE src (id int, pad text)");
        Exec(db2_, "INSERT INTO src SELECT g, repeat('x', 100) FROM generate_series(1, " +
                       std::to_string(kRows) + ") g");
        options_.reconnect_for = seconds(60);
        options_.batch_rows = 5000;
    }
    // A destination server of the test's own, durable, with a table "dst".
    void MakeDestination(const std::string& extra = "") {
        server_ = std::make_unique<TemporaryCluster>(TemporaryCluster::Durability::Durable);
        password_ = RandomPassword();
        server_->CreateLoginRole("porter", password_);
        server_->Execute("postgres", "CREATE DATABASE dest OWNER porter");
        Owner("CREATE TABLE dst (id int, pad text)" + extra);
    }
    Profile Destination() const {
        return Profile{server_->Host(), std::to_string(server_->Port()), "porter", password_,
                       "dest"};
    }
    void Owner(const std::string& sql) const { test::ExecuteWith(Destination(), sql); }
    AppendOutcome Run(const Profile& destination) {
        AppendRequest request{"dst", "src", true, destination, UserProfile(db2_)};
        return RunAppend(request, host_, options_);
    }
    // Every source row exactly once.
    void ExpectEveryRowOnce(const Profile& destination) {
        EXPECT_EQ(host_.Messages(), std::vector<std::string>{"Done."});
        EXPECT_TRUE(host_.ErrorReports().empty()) << host_.ErrorReports().front();
        const test::Rows rows =
            test::QueryRows(destination, "SELECT count(*), count(DISTINCT id), sum(id) FROM dst");
        EXPECT_EQ(rows[0][0], std::to_string(kRows));
        EXPECT_EQ(rows[0][1], std::to_string(kRows));
        EXPECT_EQ(rows[0][2], std::to_string(kRows * (kRows + 1) / 2));
    }
    long long Arrived() const {
        return std::stoll(*test::QueryRows(Destination(), "SELECT count(*) FROM dst")[0][0]);
    }
    // Waits `pause` after the fault, then calls `after` once.
    static std::function<bool()> After(std::chrono::milliseconds pause,
                                       std::function<void()> after) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        return [timer, pause, after] {
            if (timer->elapsed() < pause.count()) return false;
            after();
            return true;
        };
    }

    FaultHost host_;
    AppendOptions options_;
    std::unique_ptr<TemporaryCluster> server_;
    std::string password_;
};

// The server restarts as an administrator's shutdown would (every session told so) and as a crash
// would, on the COPY path and on the INSERT path, down for a few seconds each time.
TEST_F(RideOutTest, AServerRestartedMidRunIsRiddenOut) {
    for (const bool insert_path : {false, true}) {
        for (const bool fast : {true, false}) {
            SCOPED_TRACE(std::string(insert_path ? "INSERT" : "COPY") +
                         (fast ? ", fast" : ", immediate"));
            host_ = FaultHost();
            MakeDestination(insert_path
                                ? "; CREATE FUNCTION keep() RETURNS trigger LANGUAGE plpgsql AS "
                                  "$$ BEGIN RETURN NEW; END $$; CREATE TRIGGER keep BEFORE INSERT "
                                  "ON dst FOR EACH ROW EXECUTE FUNCTION keep()"
                                : "");
            host_.fault = [&] {
                server_->StopServer(fast);
                host_.meanwhile =
                    After(std::chrono::milliseconds(3000), [&] { server_->StartServer(); });
            };
            Run(Destination());
            ExpectEveryRowOnce(Destination());
            EXPECT_EQ(host_.reconnections, 1);
            EXPECT_EQ(host_.lost_database, 1);
            EXPECT_GE(host_.longest, seconds(2));
        }
    }
}

TEST_F(RideOutTest, APoolerRestartedMidRunIsRiddenOut) {
    MakeDestination();
    test::PgBouncer pooler(*server_, test::PoolMode::Transaction, {{"porter", password_}});
    host_.fault = [&] { pooler.Restart(); };
    Run(pooler.ProfileFor("dest", {"porter", password_}));
    ExpectEveryRowOnce(Destination());
    EXPECT_EQ(host_.reconnections, 1);
}

// The COMMIT is under way when the server crashes: it had committed (written before the wait
// for a synchronous standby that never comes), or not (a deferred trigger still sleeping, in a
// server life that began before the test: once back, it sleeps no more).
TEST_F(RideOutTest, ACommitInDoubtIsSettledOnceTheServerIsBack) {
    for (const bool committed : {true, false}) {
        SCOPED_TRACE(committed ? "committed" : "not committed");
        host_ = FaultHost();
        MakeDestination();
        if (committed) {
            host_.fault = [&] {
                server_->Execute("postgres",
                                 "ALTER SYSTEM SET synchronous_standby_names = 'nobody'");
                server_->Execute("postgres", "SELECT pg_reload_conf()");
            };
        } else {
            const std::string now = *test::QueryRows(Destination(), "SELECT now()")[0][0];
            Owner(
                "CREATE FUNCTION slow() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF NEW.id "
                "= 50000 AND pg_postmaster_start_time() < '" +
                now +
                "' THEN PERFORM pg_sleep(60); END IF; RETURN NULL; END $$; CREATE CONSTRAINT "
                "TRIGGER slow AFTER INSERT ON dst DEFERRABLE INITIALLY DEFERRED FOR EACH ROW "
                "EXECUTE FUNCTION slow()");
        }
        // Once a COMMIT waits, the server goes down as in a crash, and comes back 3 s later
        // without the wait for a standby.
        host_.meanwhile = [&] {
            const test::Rows waiting = test::QueryRows(
                server_->AdminProfile(),
                "SELECT count(*) FROM pg_stat_activity WHERE datname = 'dest' AND wait_event IN "
                "('SyncRep', 'PgSleep')");
            if (waiting[0][0] == "0") return false;
            if (committed)
                server_->Execute("postgres", "ALTER SYSTEM RESET synchronous_standby_names");
            server_->StopServer();
            host_.meanwhile =
                After(std::chrono::milliseconds(3000), [&] { server_->StartServer(); });
            return false;
        };
        Run(Destination());
        ExpectEveryRowOnce(Destination());
        EXPECT_EQ(host_.reconnections, 1);
    }
}

// A destination that stays away longer than the budget ends the run as before: one report, and
// the rows that arrived counted exactly.
TEST_F(RideOutTest, PastTheBudgetTheRunEndsWithAnExactCount) {
    MakeDestination();
    options_.reconnect_for = seconds(3);
    host_.fault = [&] { server_->StopServer(); };
    QElapsedTimer run;
    run.start();
    Run(Destination());
    EXPECT_LT(run.elapsed(), 30000);
    ASSERT_EQ(host_.ErrorReports().size(), 1u);
    server_->StartServer();
    ASSERT_EQ(host_.Messages().size(), 1u);
    const test::Stopped stopped =
        test::ReadStopped(QString::fromStdString(host_.Messages().front()), kRows);
    EXPECT_LE(stopped.appended, Arrived());
    EXPECT_LE(Arrived(), stopped.appended + stopped.unchecked);
    EXPECT_TRUE(test::NoDoubles(Destination(), "dst"));
}

// An administrator ends the session while its server goes on: someone meant it.
TEST_F(RideOutTest, ASessionEndedByAnAdministratorEndsTheRun) {
    MakeDestination();
    host_.fault = [&] {
        server_->Execute("postgres",
                         "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                         "'dest' AND application_name = 'Tessaline Row Porter'");
    };
    Run(Destination());
    ASSERT_EQ(host_.ErrorReports().size(), 1u);
    EXPECT_NE(host_.ErrorReports().front().find("terminating connection due to administrator"),
              std::string::npos);
    EXPECT_EQ(host_.reconnections, 0);
    ASSERT_EQ(host_.Messages().size(), 1u);
    const test::Stopped stopped =
        test::ReadStopped(QString::fromStdString(host_.Messages().front()), kRows);
    EXPECT_EQ(stopped.appended, Arrived());
}

// The window closes while the run waits for the destination: it ends within the grace. A commit
// still in doubt then (its server went down while it waited for a standby, and the log had it)
// counts among the rows that could not be checked.
TEST_F(RideOutTest, ClosingTheWindowDuringTheWaitEndsTheRun) {
    for (const bool commit_in_doubt : {false, true}) {
        SCOPED_TRACE(commit_in_doubt ? "a commit in doubt" : "between commits");
        host_ = FaultHost();
        MakeDestination();
        QElapsedTimer since_close;
        const auto down_then_close = [&] {
            server_->StopServer();
            host_.meanwhile = After(std::chrono::milliseconds(2000), [&] {
                host_.stop_requested = true;
                since_close.start();
            });
        };
        Profile destination = Destination();
        std::optional<test::PgBouncer> pooler;
        if (commit_in_doubt) {
            // Behind a pooler a new login waits for the server rather than being refused: the
            // program's end comes in the middle of that wait.
            pooler.emplace(*server_, test::PoolMode::Session,
                           std::vector<test::PgBouncer::Login>{{"porter", password_}});
            destination = pooler->ProfileFor("dest", {"porter", password_});
            host_.fault = [&] {
                server_->Execute("postgres",
                                 "ALTER SYSTEM SET synchronous_standby_names = 'nobody'");
                server_->Execute("postgres", "SELECT pg_reload_conf()");
            };
            host_.meanwhile = [&] {
                const test::Rows waiting = test::QueryRows(
                    server_->AdminProfile(),
                    "SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'SyncRep'");
                if (waiting[0][0] == "0") return false;
                server_->Execute("postgres", "ALTER SYSTEM RESET synchronous_standby_names");
                down_then_close();
                return false;
            };
        } else {
            host_.fault = down_then_close;
        }
        const AppendOutcome outcome = Run(destination);
        EXPECT_LT(since_close.elapsed(), 4000);
        EXPECT_EQ(outcome.end, AppendOutcome::End::ProgramEnding);
        server_->StartServer();
        EXPECT_LE(outcome.tally.added, Arrived());
        EXPECT_LE(Arrived(), outcome.tally.added + outcome.tally.unchecked);
        if (commit_in_doubt) {
            EXPECT_GT(outcome.tally.unchecked, 0);
        }
    }
}

// A real failover: the primary stops mid-run and its streaming standby is promoted; the
// destination's profile lists both. Commits the old primary acknowledged but its standby never
// received (its receiver held still meanwhile) are found missing and sent again.
TEST_F(RideOutTest, AFailoverIsRiddenOutWithTheRowsTheStandbyNeverReceived) {
    MakeDestination();
    const std::unique_ptr<TemporaryCluster> standby = server_->MakeStandby();
    const Profile both{server_->Host() + "," + standby->Host(),
                       std::to_string(server_->Port()) + "," + std::to_string(standby->Port()),
                       "porter", password_, "dest"};
    const Profile on_standby{standby->Host(), std::to_string(standby->Port()), "porter", password_,
                             "dest"};
    long long primary_had = -1;
    long long standby_had = -1;
    std::string receiver;
    host_.fault = [&] {
        receiver =
            *test::QueryRows(standby->AdminProfile(), "SELECT pid FROM pg_stat_wal_receiver")[0][0];
        ::kill(std::stoi(receiver), SIGSTOP);
    };
    host_.later = [&] {
        primary_had = Arrived();
        server_->StopServer();
        ::kill(std::stoi(receiver), SIGCONT);
        standby->Promote();
        standby_had = std::stoll(*test::QueryRows(on_standby, "SELECT count(*) FROM dst")[0][0]);
    };
    Run(both);
    ExpectEveryRowOnce(on_standby);
    EXPECT_EQ(host_.reconnections, 1);
    std::cout << "the old primary had " << primary_had << " rows, the promoted standby "
              << standby_had << "\n";
    EXPECT_LT(standby_had, primary_had);
}

// The destination's link goes silent for 20 s and comes back: TCP rides it out or the run
// reconnects; either way every row arrives once.
TEST_F(RideOutTest, ALinkCutForTwentySecondsIsRiddenOut) {
    test::NetworkNamespace network;
    if (!network.Ready())
        GTEST_SKIP() << "this machine allows no network namespaces: "
                     << network.Complaint().toStdString();
    server_ = std::make_unique<TemporaryCluster>(
        TemporaryCluster::Durability::Durable, "tessaline-netns",
        ServerNetwork{network.There(), network.Here() + "/32", network.Launcher()});
    password_ = RandomPassword();
    server_->CreateLoginRole("porter", password_);
    server_->Execute("postgres", "CREATE DATABASE dest OWNER porter");
    Owner("CREATE TABLE dst (id int, pad text)");
    host_.fault = [&] {
        ASSERT_TRUE(network.Cut());
        host_.meanwhile = After(std::chrono::milliseconds(20000), [&] { network.Mend(); });
    };
    Run(Destination());
    ExpectEveryRowOnce(Destination());
}

}  // namespace
}  // namespace trp
