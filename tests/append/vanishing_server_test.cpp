// A destination whose host stops answering part-way: its packets are dropped, as when a cable is
// pulled. The run notices within about a minute (the connection's keepalives and TCP user
// time-out), reports once and says what arrived. The server runs in a network namespace whose
// link the test takes down; where the machine allows no namespaces, the test is skipped (the
// connection parameters themselves are checked among the data-access tests).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <memory>

#include "app/temporary_cluster.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "screen_run.h"

namespace trp {
namespace {

constexpr const char* kIp = "/usr/sbin/ip";

// Runs ip with the arguments; false when it fails, with what it said in `complaint`.
bool Ip(const QStringList& arguments, QString* complaint = nullptr) {
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start(kIp, arguments);
    const bool done =
        ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
    if (!done && complaint)
        *complaint = "ip " + arguments.join(' ') + ": " + QString::fromLocal8Bit(ip.readAll());
    return done;
}

// A network namespace joined to this one by a pair of virtual links, removed again at the end.
class Namespace {
public:
    Namespace() {
        // Names and addresses of their own (10.100.0.0 to 10.254.249.255), so runs side by side
        // do not meet.
        const quint32 tag = QRandomGenerator::system()->bounded(1u, 38750u);
        name_ = QStringLiteral("trp-ns-%1").arg(tag);
        outside_ = QStringLiteral("trpo%1").arg(tag);
        const QString inside = QStringLiteral("trpi%1").arg(tag);
        const QString net = QStringLiteral("10.%1.%2.").arg(100 + tag / 250).arg(tag % 250);
        here_ = (net + "1").toStdString();
        there_ = (net + "2").toStdString();
        if (geteuid() != 0 || access(kIp, X_OK) != 0) {
            complaint_ = "ip needs root and /usr/sbin/ip";
            return;
        }
        ready_ =
            Ip({"netns", "add", name_}, &complaint_) &&
            Ip({"link", "add", outside_, "type", "veth", "peer", "name", inside}, &complaint_) &&
            Ip({"link", "set", inside, "netns", name_}, &complaint_) &&
            Ip({"addr", "add", net + "1/30", "dev", outside_}, &complaint_) &&
            Ip({"link", "set", outside_, "up"}, &complaint_) &&
            Ip({"-n", name_, "addr", "add", net + "2/30", "dev", inside}, &complaint_) &&
            Ip({"-n", name_, "link", "set", inside, "up"}, &complaint_) &&
            Ip({"-n", name_, "link", "set", "lo", "up"}, &complaint_);
    }
    ~Namespace() {
        Ip({"link", "del", outside_});
        Ip({"netns", "del", name_});
    }
    bool Ready() const { return ready_; }
    const QString& Complaint() const { return complaint_; }
    std::vector<std::string> Launcher() const {
        return {kIp, "netns", "exec", name_.toStdString()};
    }
    const std::string& Here() const { return here_; }
    const std::string& There() const { return there_; }
    // Takes this side's link down: nothing reaches the namespace any more, and nothing says so.
    bool Cut() { return Ip({"link", "set", outside_, "down"}); }
    bool Mend() { return Ip({"link", "set", outside_, "up"}); }

private:
    QString name_;
    QString outside_;
    std::string here_;
    std::string there_;
    bool ready_ = false;
    QString complaint_;
};

class VanishingServerTest : public test::ScreenRunTest {
protected:
    void SetUp() override {
        ScreenRunTest::SetUp();
        if (!network_.Ready())
            GTEST_SKIP() << "this machine allows no network namespaces: "
                         << network_.Complaint().toStdString();
        server_ = std::make_unique<TemporaryCluster>(
            TemporaryCluster::Durability::Durable, "tessaline-netns",
            ServerNetwork{network_.There(), network_.Here() + "/32", network_.Launcher()});
        password_ = RandomPassword();
        server_->CreateLoginRole("porter", password_);
        server_->Execute("postgres", "CREATE DATABASE dest OWNER porter");
        Connection owner;
        owner.Open(BuildConnectionString(Destination()));
        owner.Execute("CREATE TABLE dst (id int, pad text)");
        SetProfiles(Destination(), UserProfile(db2_));
    }
    Profile Destination() const {
        return Profile{server_->Host(), std::to_string(server_->Port()), "porter", password_,
                       "dest"};
    }

    Namespace network_;
    std::unique_ptr<TemporaryCluster> server_;
    std::string password_;
};

TEST_F(VanishingServerTest, AServerWhosePacketsAreDroppedIsFoundWithinAMinute) {
    constexpr long long kRows = 200000;
    Exec(db2_, "CREATE TABLE src (id int, pad text)");
    Exec(db2_, "INSERT INTO src SELECT g, repeat('x', 100) FROM generate_series(1, 200000) g");
    QElapsedTimer since_cut;
    AtPercent(30, [&](double) {
        ASSERT_TRUE(network_.Cut());
        since_cut.start();
    });
    Press("dst", "src");
    const qint64 detected_ms = since_cut.elapsed();
    ASSERT_TRUE(network_.Mend());
    std::cout << "the lost server was noticed " << detected_ms << " ms after its link went down\n";
    EXPECT_LT(detected_ms, 150000);  // only a bound against a hang; about a minute is expected
    const QStringList reports = Reports();
    ASSERT_EQ(reports.size(), 1) << reports.join("\n").toStdString();
    EXPECT_TRUE(reports[0].contains("at line 212\r"));
    ASSERT_EQ(Messages().size(), 1);
    const auto match = QRegularExpression(
                           "^Appending stopped\\. ([\\d,]+) of 200,000 rows were appended\\."
                           "(?: Whether the last ([\\d,]+) rows were appended could not be "
                           "checked\\.)?$")
                           .match(Messages().front());
    ASSERT_TRUE(match.hasMatch()) << Messages().front().toStdString();
    const long long reported = match.captured(1).remove(',').toLongLong();
    const long long unchecked = match.captured(2).remove(',').toLongLong();
    // The server itself went on: once the link is back, what it holds is what was reported.
    const test::Rows count = test::QueryRows(Destination(), "SELECT count(*) FROM dst");
    const long long arrived = std::stoll(*count[0][0]);
    EXPECT_GE(reported, kRows * 30 / 100);
    EXPECT_LE(reported, arrived);
    EXPECT_LE(arrived, reported + unchecked);
    EXPECT_TRUE(test::NoDoubles(Destination(), "dst"));
}

}  // namespace
}  // namespace trp
