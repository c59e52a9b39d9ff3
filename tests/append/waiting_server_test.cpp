// A server that waits (for a lock another transaction holds) keeps the run waiting, however
// long, while a server that is frozen (its processes stopped, its kernel still answering) is
// found lost within about a minute, like a vanished one.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "app/temporary_cluster.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "screen_run.h"

namespace trp {
namespace {

constexpr long long kRows = 200000;
constexpr int kHoldMs = 90000;

class WaitingServerTest : public test::ScreenRunTest {
protected:
    void SetUp() override {
        ScreenRunTest::SetUp();
        Exec(db2_, "CREATE TABLE src (id int, pad text)");
        Exec(db2_, "INSERT INTO src SELECT g, repeat('x', 100) FROM generate_series(1, " +
                       std::to_string(kRows) + ") g");
        holder_.SetCommandTimeout(0);
        holder_.Open(BuildConnectionString(UserProfile(db1_)));
    }
    // Once the bar has passed 30 %, another session runs `hold` in a transaction of its own and
    // ends it after 90 seconds.
    void HoldFor90SecondsAt30Percent(const std::string& hold) {
        AtPercent(30, [this, hold](double) {
            holder_.Execute("BEGIN; " + hold);
            QTimer::singleShot(kHoldMs, &Screen(), [this] {
                holder_.Execute("ROLLBACK");
                released_ = true;
            });
        });
    }
    // The hold ended during the run (its timer fires only while the run processes events), so
    // the run waited it out.
    void ExpectEveryRowAfterTheWait() {
        EXPECT_TRUE(released_);
        EXPECT_TRUE(Reports().isEmpty()) << Reports().join("\n").toStdString();
        EXPECT_EQ(Messages(), QStringList{"Done."});
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), std::to_string(kRows));
        EXPECT_TRUE(test::NoDoubles(UserProfile(db1_), "dst"));
    }

    Connection holder_;
    bool released_ = false;
};

TEST_F(WaitingServerTest, ATableLockHeldForMinutesIsWaitedOutOnTheInsertPath) {
    // A trigger of the user's: the rows take the INSERT path.
    Exec(db1_,
         "CREATE TABLE dst (id int, pad text); CREATE FUNCTION keep() RETURNS trigger LANGUAGE "
         "plpgsql AS $$ BEGIN RETURN NEW; END $$; CREATE TRIGGER keep BEFORE INSERT ON dst FOR "
         "EACH ROW EXECUTE FUNCTION keep()");
    HoldFor90SecondsAt30Percent("LOCK TABLE dst IN ACCESS EXCLUSIVE MODE");
    Press("dst", "src");
    ExpectEveryRowAfterTheWait();
}

TEST_F(WaitingServerTest, AKeyAnotherTransactionIsInsertingIsWaitedOutDuringCopy) {
    Exec(db1_, "CREATE TABLE dst (id int PRIMARY KEY, pad text)");
    HoldFor90SecondsAt30Percent("INSERT INTO dst VALUES (150000, 'not yet committed')");
    Press("dst", "src");
    ExpectEveryRowAfterTheWait();
}

// A server of its own whose processes the test can stop and continue, as a frozen machine.
class FrozenServerTest : public test::ScreenRunTest {
protected:
    void SetUp() override {
        ScreenRunTest::SetUp();
        password_ = RandomPassword();
        server_.CreateLoginRole("porter", password_);
        server_.Execute("postgres", "CREATE DATABASE frozen OWNER porter");
        Connection owner;
        owner.SetCommandTimeout(0);
        owner.Open(BuildConnectionString(Frozen()));
        owner.Execute(
            "CREATE TABLE src (id int, pad text); INSERT INTO src SELECT g, "
            "repeat('x', 100) FROM generate_series(1, " +
            std::to_string(kRows) + ") g; CREATE TABLE dst (id int, pad text)");
    }
    void TearDown() override {
        Signal(SIGCONT);
        ScreenRunTest::TearDown();
    }
    Profile Frozen() const {
        return Profile{server_.Host(), std::to_string(server_.Port()), "porter", password_,
                       "frozen"};
    }
    // Sends the signal to the server and every process it started.
    void Signal(int signal) {
        std::ifstream pid_file(server_.DataDirectory() + "/postmaster.pid");
        pid_t postmaster = 0;
        if (!(pid_file >> postmaster)) return;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line)) continue;
            // pid (name) state ppid …; the name may hold blanks, so it is read from its end.
            std::istringstream rest(line.substr(line.rfind(')') + 1));
            char state = 0;
            pid_t parent = 0;
            if (rest >> state >> parent && parent == postmaster)
                kill(static_cast<pid_t>(std::stoi(entry.path().filename())), signal);
        }
        kill(postmaster, signal);
    }
    void FreezeAt30Percent() {
        AtPercent(30, [this](double) {
            Signal(SIGSTOP);
            since_frozen_.start();
        });
    }
    // One report naming `line`, found within about a minute.
    void ExpectFoundLost(int line) {
        const qint64 found_ms = since_frozen_.elapsed();
        Signal(SIGCONT);
        std::cout << "the frozen server was found lost " << found_ms << " ms after it froze\n";
        EXPECT_LT(found_ms, 75000);
        const QStringList reports = Reports();
        ASSERT_EQ(reports.size(), 1) << reports.join("\n").toStdString();
        EXPECT_TRUE(reports[0].contains(QString("at line %1\r").arg(line)))
            << reports[0].toStdString();
        EXPECT_TRUE(reports[0].contains("The server stopped answering"))
            << reports[0].toStdString();
        ASSERT_EQ(Messages().size(), 1);
        const test::Stopped stopped = test::ReadStopped(Messages().front(), kRows);
        ASSERT_GE(stopped.appended, kRows * 30 / 100) << Messages().front().toStdString();
    }

    TemporaryCluster server_;
    std::string password_;
    QElapsedTimer since_frozen_;
};

TEST_F(FrozenServerTest, AFrozenSourceIsFoundLostWithinAMinute) {
    Exec(db1_, "CREATE TABLE dst (id int, pad text)");
    SetProfiles(UserProfile(db1_), Frozen());
    FreezeAt30Percent();
    Press("dst", "src");
    ExpectFoundLost(166);
    // The rows read before the freeze arrived, and the message says so.
    EXPECT_EQ(test::ReadStopped(Messages().front(), kRows).appended,
              std::stoll(Scalar(db1_, "SELECT count(*) FROM dst")));
}

TEST_F(FrozenServerTest, AServerFrozenDuringARunWithinOneDatabaseIsFoundLostWithinAMinute) {
    SetProfiles(Frozen(), Frozen());
    FreezeAt30Percent();
    Press("dst", "src");
    ExpectFoundLost(212);
    const test::Stopped stopped = test::ReadStopped(Messages().front(), kRows);
    const long long arrived =
        std::stoll(*test::QueryRows(Frozen(), "SELECT count(*) FROM dst")[0][0]);
    EXPECT_GE(arrived, stopped.appended);
    EXPECT_LE(arrived, stopped.appended + stopped.unchecked);
}

}  // namespace
}  // namespace trp
