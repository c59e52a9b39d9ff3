// A destination whose host stops answering part-way: its packets are dropped, as when a cable is
// pulled. The run notices within about a minute (the connection's keepalives and TCP user
// time-out), reports once and says what arrived. The server runs in a network namespace whose
// packets the test makes vanish; where the machine allows no namespaces, the test is skipped (the
// connection parameters themselves are checked among the data-access tests).
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "app/temporary_cluster.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "screen_run.h"
#include "support/network_namespace.h"

namespace trp {
namespace {

namespace fs = std::filesystem;

using test::IsMountPoint;
using test::NamespaceFolderMount;

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

    test::NetworkNamespace network_;
    std::unique_ptr<TemporaryCluster> server_;
    std::string password_;
};

// A bind mount of a folder on itself, as ip makes of its own; unmounted at the end unless that
// was done already.
class SelfBindMount {
public:
    explicit SelfBindMount(const std::string& folder) : folder_(folder) {
        if (::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) != 0)
            failure_ = std::strerror(errno);
    }
    ~SelfBindMount() {
        if (failure_.empty() && IsMountPoint(folder_)) ::umount2(folder_.c_str(), UMOUNT_NOFOLLOW);
    }
    SelfBindMount(const SelfBindMount&) = delete;
    SelfBindMount& operator=(const SelfBindMount&) = delete;
    // Why mounting failed; empty when it worked.
    const std::string& Failure() const { return failure_; }

private:
    std::string folder_;
    std::string failure_;
};

TEST(NamespaceFolderMountTest, UndoesOnlyAMountThatAppearedMeanwhileOnAFolderLeftEmpty) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    const QTemporaryDir parent;
    // A name with a blank, which the mount table writes escaped.
    const std::string folder = fs::canonical(parent.path().toStdString()).string() + "/net ns";
    fs::create_directory(folder);
    {
        // Mounted meanwhile, left empty: undone, and the folder is kept as it was before.
        std::optional<NamespaceFolderMount> undo(std::in_place, folder);
        const SelfBindMount mount(folder);
        if (!mount.Failure().empty())
            GTEST_SKIP() << "this machine allows no bind mounts: " << mount.Failure();
        ASSERT_TRUE(IsMountPoint(folder));
        undo.reset();
        EXPECT_FALSE(IsMountPoint(folder));
        EXPECT_TRUE(fs::is_directory(folder));
    }
    {
        // Mounted meanwhile, but another namespace's name is still in it: kept.
        std::optional<NamespaceFolderMount> undo(std::in_place, folder);
        const SelfBindMount mount(folder);
        std::ofstream(folder + "/another-namespace").put('\n');
        undo.reset();
        EXPECT_TRUE(IsMountPoint(folder));
        fs::remove(folder + "/another-namespace");
    }
    EXPECT_FALSE(IsMountPoint(folder));
    {
        // A mount point before: kept, though empty.
        const SelfBindMount mount(folder);
        std::optional<NamespaceFolderMount> undo(std::in_place, folder);
        undo.reset();
        EXPECT_TRUE(IsMountPoint(folder));
    }
    {
        // A folder that did not exist before goes again with the mount.
        const std::string made = folder + "/made";
        std::optional<NamespaceFolderMount> undo(std::in_place, made);
        fs::create_directory(made);
        const SelfBindMount mount(made);
        undo.reset();
        EXPECT_FALSE(fs::exists(made));
    }
    EXPECT_FALSE(IsMountPoint(folder));
}

// COPY, each row's INSERT statement (a trigger on the destination), whose results the server
// sends all along, and a source on the same server, whose reading transaction sits idle while
// the server appends on its own.
enum class VanishingPath { Copy, Inserts, OneDatabase };

class VanishingServerPathTest : public VanishingServerTest,
                                public ::testing::WithParamInterface<VanishingPath> {};

TEST_P(VanishingServerPathTest, AServerWhosePacketsAreDroppedIsFoundWithinAMinute) {
    constexpr long long kRows = 200000;
    if (GetParam() == VanishingPath::Inserts) {
        Connection owner;
        owner.Open(BuildConnectionString(Destination()));
        owner.Execute(
            "CREATE FUNCTION keep() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RETURN NEW; END "
            "$$; CREATE TRIGGER keep BEFORE INSERT ON dst FOR EACH ROW EXECUTE FUNCTION keep()");
    }
    const std::string source_table =
        "CREATE TABLE src (id int, pad text); INSERT INTO src SELECT g, repeat('x', 100) FROM "
        "generate_series(1, 200000) g";
    // Chunks small enough that some begin after the cut, whichever session takes them.
    struct Restore {
        AppendOptions options = DefaultAppendOptions();
        ~Restore() { DefaultAppendOptions() = options; }
    } restore;
    DefaultAppendOptions().chunk_blocks = 128;
    if (GetParam() == VanishingPath::OneDatabase) {
        Connection owner;
        owner.Open(BuildConnectionString(Destination()));
        owner.Execute(source_table);
        SetProfiles(Destination(), Destination());
    } else {
        Exec(db2_, source_table);
    }
    QElapsedTimer since_cut;
    // The link goes down while the destination is inside one of the run's transactions.
    AtPercent(30, [&](double) {
        auto* poll = new QTimer(&Screen());
        QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
            const test::Rows writing =
                test::QueryRows(server_->AdminProfile(),
                                "SELECT count(*) FROM pg_stat_activity WHERE datname = 'dest' AND "
                                "backend_xid IS NOT NULL");
            if (writing[0][0] == "0") return;
            poll->stop();
            ASSERT_TRUE(network_.Cut());
            since_cut.start();
        });
        poll->start(5);
    });
    Press("dst", "src");
    const qint64 detected_ms = since_cut.elapsed();
    std::cout << "the lost server was noticed " << detected_ms
              << " ms after its packets began to vanish\n";
    EXPECT_LT(detected_ms, 75000);
    // The server, too, finds its client gone (the keepalives each transaction sets): the session
    // ends and its transaction with its locks, while its packets still vanish.
    qint64 session_gone_ms = -1;
    while (since_cut.elapsed() < 180000) {
        const test::Rows busy = test::QueryRows(
            server_->AdminProfile(),
            "SELECT count(*) FROM pg_stat_activity WHERE datname = 'dest' AND state <> 'idle' "
            "AND pid <> pg_backend_pid()");
        if (busy[0][0] == "0") {
            session_gone_ms = since_cut.elapsed();
            break;
        }
        QThread::msleep(500);
    }
    std::cout << "the server ended the session " << session_gone_ms
              << " ms after its packets began to vanish\n";
    ASSERT_TRUE(network_.Mend());
    EXPECT_GE(session_gone_ms, 0);
    EXPECT_LT(session_gone_ms, 75000);
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

INSTANTIATE_TEST_SUITE_P(Paths, VanishingServerPathTest,
                         ::testing::Values(VanishingPath::Copy, VanishingPath::Inserts,
                                           VanishingPath::OneDatabase),
                         [](const auto& path) {
                             switch (path.param) {
                                 case VanishingPath::Copy:
                                     return "Copy";
                                 case VanishingPath::Inserts:
                                     return "Inserts";
                                 default:
                                     return "OneDatabase";
                             }
                         });

}  // namespace
}  // namespace trp
