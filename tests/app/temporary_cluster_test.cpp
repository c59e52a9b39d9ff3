#include "app/temporary_cluster.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "db/db_error.h"
#include "support/pg_fixture.h"
#include "support/scoped_environment.h"
#include "support/server_access.h"

namespace trp {
namespace {

namespace fs = std::filesystem;

using test::Cluster;
using test::LoginError;
using test::QueryRows;

std::string Scalar(const Profile& profile, const std::string& sql) {
    const auto rows = QueryRows(profile, sql);
    return rows.empty() || !rows[0][0] ? std::string("<null>") : *rows[0][0];
}

// Names in the temporary folder that start with `prefix`.
int FoldersNamed(const std::string& prefix) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(QDir::tempPath().toStdString()))
        count += entry.path().filename().string().starts_with(prefix);
    return count;
}

TEST(TemporaryClusterAccess, TheSuperuserGetsInOnlyThroughTheSocketInTheOwnersFolder) {
    TemporaryCluster& cluster = Cluster();
    EXPECT_TRUE(test::OwnersAloneFolder(cluster.Directory()));

    const Profile admin = cluster.AdminProfile();
    EXPECT_EQ(admin.server, cluster.Directory());
    EXPECT_EQ(admin.password, "");
    // No client address: the login came through the Unix socket.
    EXPECT_EQ(Scalar(admin, "SELECT current_user || ' ' || (inet_client_addr() IS NULL)"),
              "trp_admin true");
    test::ExpectNoSuperuserOverTcp(std::to_string(cluster.Port()));
}

TEST(TemporaryClusterAccess, TheTestRoleGetsInOverTcpWithItsRandomPasswordOnly) {
    const std::string& password = test::TestPassword();
    // The connection string has to carry these.
    EXPECT_NE(password.find(';'), std::string::npos);
    EXPECT_NE(password.find(' '), std::string::npos);
    EXPECT_NE(password.find('}'), std::string::npos);

    Profile role{Cluster().Host(), std::to_string(Cluster().Port()), test::kTestUser, password,
                 "postgres"};
    EXPECT_EQ(LoginError(role), "");
    EXPECT_EQ(Scalar(role, "SELECT inet_client_addr()::text"), "127.0.0.1/32");
    // The password the test role had when it was fixed.
    role.password = "s3cret pa;ss}";
    EXPECT_NE(LoginError(role).find("password authentication failed"), std::string::npos);
}

TEST(TemporaryClusterAccess, AnotherAccountCannotReachTheSuperusersSocket) {
    if (geteuid() != 0 || access("/usr/bin/psql", X_OK) != 0)
        GTEST_SKIP() << "needs root, to act as another account, and psql";
    QProcess psql;
    psql.setProcessChannelMode(QProcess::MergedChannels);
    psql.setWorkingDirectory("/");
    psql.start(
        "/usr/sbin/runuser",
        {"-u", "nobody", "--", "/usr/bin/psql", "-X", "-h",
         QString::fromStdString(Cluster().Directory()), "-p", QString::number(Cluster().Port()),
         "-U", TemporaryCluster::kSuperuser, "-d", "postgres", "-c", "SELECT 1"});
    ASSERT_TRUE(psql.waitForFinished(60000));
    const QString output = QString::fromLocal8Bit(psql.readAll());
    EXPECT_NE(psql.exitCode(), 0);
    EXPECT_TRUE(output.contains("Permission denied")) << output.toStdString();
}

TEST(TemporaryClusterLifetime, StopsAndStartsAgainOnTheSamePortWithItsData) {
    std::unique_ptr<TemporaryCluster> cluster;
    {
        // Root runs the server programs through runuser, which need not be on root's PATH.
        test::ScopedEnvironment no_path;
        no_path.Set("PATH", "/nonexistent");
        ASSERT_NO_THROW(cluster = std::make_unique<TemporaryCluster>(
                            TemporaryCluster::Durability::Durable, "tessaline-lifetime"));
    }
    const std::string directory = cluster->Directory();
    EXPECT_TRUE(test::OwnersAloneFolder(directory));
    EXPECT_EQ(Scalar(cluster->AdminProfile(), "SHOW fsync"), "on");

    const std::string password = RandomPassword();
    cluster->CreateLoginRole("restarted", password);
    cluster->Execute("postgres", "CREATE TABLE kept (n integer); INSERT INTO kept VALUES (7)");
    const Profile role{cluster->Host(), std::to_string(cluster->Port()), "restarted", password,
                       "postgres"};
    ASSERT_EQ(LoginError(role), "");

    const int port = cluster->Port();
    cluster->StopServer();
    EXPECT_NE(LoginError(role), "");
    EXPECT_NE(LoginError(cluster->AdminProfile()), "");
    EXPECT_TRUE(fs::exists(directory + "/data"));

    cluster->StartServer();
    EXPECT_EQ(cluster->Port(), port);
    EXPECT_EQ(LoginError(role), "");
    EXPECT_EQ(Scalar(cluster->AdminProfile(), "SELECT n FROM kept"), "7");

    cluster.reset();
    EXPECT_FALSE(fs::exists(directory));
    EXPECT_NE(LoginError(role), "");
}

// The folder's name goes into the server's settings file, where quotes and backslashes are
// special; a temporary folder may hold either.
TEST(TemporaryClusterLifetime, StartsInAFolderWhoseNameHoldsAQuoteAndABackslash) {
    TemporaryCluster cluster(TemporaryCluster::Durability::Fast, "tessaline-o'b\\n");
    EXPECT_NE(cluster.Directory().find("o'b\\n"), std::string::npos) << cluster.Directory();
    EXPECT_EQ(Scalar(cluster.AdminProfile(), "SELECT 1"), "1");
    EXPECT_EQ(Scalar(cluster.AdminProfile(), "SHOW unix_socket_directories"),
              '"' + cluster.Directory() + '"');
}

TEST(TemporaryClusterLifetime, AFailedStartNamesTheStepWithTheServersWordsAndLeavesNothing) {
    // A socket path beyond the system's limit of 107 bytes: the server cannot start.
    const std::string prefix = "tessaline-" + std::string(100, 'x');
    try {
        TemporaryCluster cluster(TemporaryCluster::Durability::Fast, prefix);
        FAIL() << "the server started in " << cluster.Directory();
    } catch (const std::runtime_error& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("starting the PostgreSQL server (pg_ctl start) failed"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("is too long"), std::string::npos) << text;
    }
    EXPECT_EQ(FoldersNamed(prefix), 0);
}

// A standby for tests of a failover: it follows its primary, admits the primary's logins for
// reading, and once promoted takes writes, also with its primary stopped.
TEST(TemporaryClusterStandby, FollowsItsPrimaryAndTakesWritesOncePromoted) {
    TemporaryCluster primary(TemporaryCluster::Durability::Fast, "tessaline-primary");
    const std::string password = RandomPassword();
    primary.CreateLoginRole("follower", password);
    primary.CreateDatabase("kept", "follower");
    const Profile on_primary{primary.Host(), std::to_string(primary.Port()), "follower", password,
                             "kept"};
    test::ExecuteWith(on_primary, "CREATE TABLE t (n int); INSERT INTO t VALUES (1)");

    const std::unique_ptr<TemporaryCluster> standby = primary.MakeStandby();
    EXPECT_TRUE(test::OwnersAloneFolder(standby->Directory()));
    EXPECT_NE(standby->Port(), primary.Port());
    EXPECT_EQ(standby->Version(), primary.Version());
    EXPECT_TRUE(standby->InRecovery());
    EXPECT_FALSE(primary.InRecovery());
    const Profile on_standby{standby->Host(), std::to_string(standby->Port()), "follower", password,
                             "kept"};
    test::ExecuteWith(on_primary, "INSERT INTO t VALUES (2)");
    // Streamed: the row arrives without the primary stopping (60 s bound only against a hang).
    QDeadlineTimer deadline(60000);
    while (Scalar(on_standby, "SELECT count(*) FROM t") != "2" && !deadline.hasExpired())
        QThread::msleep(50);
    EXPECT_EQ(Scalar(on_standby, "SELECT string_agg(n::text, ',' ORDER BY n) FROM t"), "1,2");
    EXPECT_THROW(test::ExecuteWith(on_standby, "INSERT INTO t VALUES (3)"), DbError);

    primary.StopServer();
    standby->Promote();
    EXPECT_FALSE(standby->InRecovery());
    test::ExecuteWith(on_standby, "INSERT INTO t VALUES (3)");
    EXPECT_EQ(Scalar(on_standby, "SELECT count(*) FROM t"), "3");
}

}  // namespace
}  // namespace trp
