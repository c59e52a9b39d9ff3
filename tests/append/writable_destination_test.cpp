// A destination that cannot be written ends the run with one report in the server's own words
// for the write, never words about a function the user did not call, and nothing is appended.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <memory>

#include "app/temporary_cluster.h"
#include "append_test_support.h"
#include "support/network_namespace.h"

namespace trp {
namespace {

using test::AppendTest;
using test::RecordingHost;

class WritableDestinationTest : public AppendTest {
protected:
    void MakeTables(const std::string& destination_database, const std::string& extra = "") {
        Exec(db2_, "CREATE TABLE src (id int, b text)");
        Exec(db2_, "INSERT INTO src SELECT g, 'row ' || g FROM generate_series(1, 50) g");
        Exec(destination_database, "CREATE TABLE dst (id int, b text)" + extra);
        if (destination_database == db1_)
            Exec(db1_,
                 "CREATE TABLE src (id int, b text); INSERT INTO src SELECT g, 'row ' || g "
                 "FROM generate_series(1, 50) g");
    }
};

// Every way rows can go, into a database whose transactions are read-only by default.
TEST_F(WritableDestinationTest, ReadOnlyByDefaultIsTheWritesOwnReport) {
    struct Case {
        const char* name;
        std::string trigger;  // makes COPY unlike INSERT, so the INSERT path is taken
        bool binary;
        bool same_database;
        AppendPath path;
        const char* words;
    };
    const std::string trigger =
        "; CREATE FUNCTION keep() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RETURN NEW; END "
        "$$; CREATE TRIGGER keep BEFORE INSERT ON dst FOR EACH ROW EXECUTE PROCEDURE keep()";
    const Case cases[] = {
        {"binary COPY", "", true, false, AppendPath::BinaryCopy, "COPY FROM"},
        {"text COPY", "", false, false, AppendPath::TextCopy, "COPY FROM"},
        {"INSERT", trigger, true, false, AppendPath::Inserts, "INSERT"},
        {"inside the server", "", true, true, AppendPath::InsideServer, "INSERT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        MakeTables(db1_, c.trigger);
        Admin("postgres", "ALTER DATABASE " + db1_ + " SET default_transaction_read_only = on");
        AppendOptions options;
        options.binary = c.binary;
        AppendRequest request = Request("dst", "src");
        if (c.same_database) request.profile2 = request.profile1;
        RecordingHost host;
        const AppendOutcome outcome = RunAppend(request, host, options);
        ASSERT_EQ(host.ErrorReports().size(), 1u);
        EXPECT_EQ(host.ErrorReports()[0], RowReport(std::string("ERROR:  cannot execute ") +
                                                    c.words + " in a read-only transaction"));
        EXPECT_EQ(host.Messages(), std::vector<std::string>{test::StoppedMessage(0, 50)});
        EXPECT_EQ(outcome.path, c.path);
        Admin("postgres", "ALTER DATABASE " + db1_ + " RESET default_transaction_read_only");
        EXPECT_EQ(Scalar(db1_, "SELECT count(*) FROM dst"), "0");
    }
}

// A primary of the test's own with a hot standby; "dst" in both (the standby's by streaming).
class StandbyTest : public WritableDestinationTest {
protected:
    void SetUp() override {
        WritableDestinationTest::SetUp();
        primary_ = std::make_unique<TemporaryCluster>();
        password_ = RandomPassword();
        primary_->CreateLoginRole("porter", password_);
        primary_->Execute("postgres", "CREATE DATABASE dest OWNER porter");
        test::ExecuteWith(On(*primary_), "CREATE TABLE dst (id int, b text)");
        standby_ = primary_->MakeStandby();
        Exec(db2_, "CREATE TABLE src (id int, b text)");
        Exec(db2_, "INSERT INTO src SELECT g, 'row ' || g FROM generate_series(1, 50) g");
    }
    Profile On(const TemporaryCluster& server) const {
        return Profile{server.Host(), std::to_string(server.Port()), "porter", password_, "dest"};
    }
    std::string Count(const Profile& profile) const {
        return *test::QueryRows(profile, "SELECT count(*) FROM dst")[0][0];
    }
    AppendOutcome Into(const Profile& destination) {
        return RunAppend(AppendRequest{"dst", "src", true, destination, UserProfile(db2_)}, host_);
    }

    std::unique_ptr<TemporaryCluster> primary_;
    std::unique_ptr<TemporaryCluster> standby_;
    std::string password_;
    RecordingHost host_;
};

// Into the standby alone: one report in the write's own words, and nothing appended. Out of it,
// as a source, the run works (a standby exports no snapshot).
TEST_F(StandbyTest, AStandbyIsNoDestinationButASource) {
    Into(On(*standby_));
    ASSERT_EQ(host_.ErrorReports().size(), 1u);
    EXPECT_EQ(host_.ErrorReports()[0],
              RowReport("ERROR:  cannot execute COPY during recovery"));
    EXPECT_EQ(host_.Messages(), std::vector<std::string>{test::StoppedMessage(0, 50)});

    test::ExecuteWith(On(*primary_),
                      "INSERT INTO dst SELECT g, 'kept ' || g FROM "
                      "generate_series(1, 20) g");
    while (Count(On(*standby_)) != "20") QThread::msleep(20);
    RecordingHost from_standby;
    const AppendOutcome outcome = RunAppend(
        AppendRequest{"src", "dst", true, UserProfile(db2_), On(*standby_)}, from_standby);
    EXPECT_EQ(from_standby.Messages(), std::vector<std::string>{"Done."});
    EXPECT_EQ(outcome.tally.added, 20);
}

// Both hosts in the destination's profile, the standby first: the rows go to the primary.
TEST_F(StandbyTest, OfTwoHostsTheWritableOneTakesTheRows) {
    const Profile both{standby_->Host() + "," + primary_->Host(),
                       std::to_string(standby_->Port()) + "," + std::to_string(primary_->Port()),
                       "porter", password_, "dest"};
    Into(both);
    EXPECT_EQ(host_.Messages(), std::vector<std::string>{"Done."});
    EXPECT_EQ(Count(On(*primary_)), "50");
}

// A first host that never answers costs its own limit, not the kernel's two minutes.
TEST_F(StandbyTest, AHostThatNeverAnswersIsPassedWithinItsLimit) {
    test::SilentHost silent;
    if (!silent.Ready())
        GTEST_SKIP() << "this machine allows no network namespaces: "
                     << silent.Complaint().toStdString();
    const Profile both{silent.Address() + "," + primary_->Host(),
                       silent.Port() + "," + std::to_string(primary_->Port()), "porter", password_,
                       "dest"};
    QElapsedTimer run;
    run.start();
    Into(both);
    EXPECT_EQ(host_.Messages(), std::vector<std::string>{"Done."});
    EXPECT_EQ(Count(On(*primary_)), "50");
    EXPECT_LT(run.elapsed(), 2 * 15000 + 10000);  // one host's limit, for each of two sessions
}

}  // namespace
}  // namespace trp
