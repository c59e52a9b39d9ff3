#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <optional>

#include "db/connection.h"
#include "db/connection_string.h"
#include "db/db_error.h"
#include "support/loopback_port.h"
#include "support/network_namespace.h"
#include "support/pg_fixture.h"
#include "support/scoped_environment.h"

namespace trp {
namespace {

using test::PgTest;
using test::ScopedEnvironment;

// A password file that gives `password` for every server, database and user.
void WritePasswordFile(const QString& path, const std::string& password) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    file.write(QByteArray::fromStdString("*:*:*:*:" + password + "\n"));
}

class DataAccessTest : public PgTest {
protected:
    void SetUp() override { CreateDatabase("access"); }

    Connection OpenAs(const Profile& profile) {
        Connection connection;
        connection.Open(BuildConnectionString(profile));
        return connection;
    }
};

TEST_F(DataAccessTest, EveryConnectionSendsKeepalivesAndToleratesAServerThatWaits) {
    Connection connection = OpenAs(UserProfile("access"));
    std::map<std::string, std::string> in_use;
    PQconninfoOption* options = PQconninfo(connection.Handle());
    for (PQconninfoOption* option = options; option && option->keyword; ++option)
        if (option->val) in_use[option->keyword] = option->val;
    PQconninfoFree(options);
    EXPECT_EQ(in_use["keepalives"], "1");
    EXPECT_EQ(in_use["keepalives_idle"], "10");
    EXPECT_EQ(in_use["keepalives_interval"], "5");
    EXPECT_EQ(in_use["keepalives_count"], "3");
    // Unacknowledged data ends nothing: a server waiting for a lock reads nothing either.
    EXPECT_EQ(in_use["tcp_user_timeout"], "");
    // And the kernel was told so.
    int idle = 0;
    socklen_t length = sizeof idle;
    ASSERT_EQ(getsockopt(PQsocket(connection.Handle()), IPPROTO_TCP, TCP_KEEPIDLE, &idle, &length),
              0);
    EXPECT_EQ(idle, 10);
}

TEST_F(DataAccessTest, ProfilesAreUsedAsTypedWhateverPgVariablesAndPasswordFilesSay) {
    const Profile right = UserProfile("access");
    // Everywhere libpq looks for what a profile leaves empty leads to the test database.
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    WritePasswordFile(home.filePath(".pgpass"), right.password);
    WritePasswordFile(home.filePath("passwords"), right.password);
    ScopedEnvironment environment;
    environment.Set("HOME", home.path().toStdString());
    environment.Set("PGPASSFILE", home.filePath("passwords").toStdString());
    environment.Set("PGHOST", right.server);
    environment.Set("PGPORT", right.port);
    environment.Set("PGUSER", right.user);
    environment.Set("PGPASSWORD", right.password);
    environment.Set("PGDATABASE", right.database);
    // libpq on its own does fill the gaps from there.
    const PgConnPtr filled_in(PQconnectdb(""));
    ASSERT_EQ(PQstatus(filled_in.get()), CONNECTION_OK) << PQerrorMessage(filled_in.get());

    const auto refusal = [&](const Profile& profile) -> std::string {
        try {
            OpenAs(profile);
        } catch (const DbError& e) {
            return e.what();
        }
        return "connected";
    };
    // No password but the one typed: none, neither the variable's nor a password file's.
    Profile no_password = right;
    no_password.password.clear();
    EXPECT_NE(refusal(no_password).find("no password supplied"), std::string::npos)
        << refusal(no_password);
    // An empty user is the system account's name, an empty database the user's name.
    Profile no_user = right;
    no_user.user.clear();
    const std::string account = getpwuid(geteuid())->pw_name;
    EXPECT_NE(refusal(no_user).find("user \"" + account + "\""), std::string::npos)
        << refusal(no_user);
    Profile no_database = right;
    no_database.database.clear();
    EXPECT_NE(refusal(no_database).find("database \"" + right.user + "\""), std::string::npos)
        << refusal(no_database);
    // An empty server and port are the local socket of the default port, whatever answers there.
    const Profile empty;
    const std::string socket = "/var/run/postgresql/.s.PGSQL.5432";
    const std::string answer = refusal(empty);
    if (answer == "connected") {
        Connection local = OpenAs(empty);
        EXPECT_STREQ(PQport(local.Handle()), "5432");
        EXPECT_STREQ(PQhost(local.Handle()), "/var/run/postgresql");
    } else {
        EXPECT_NE(answer.find(socket), std::string::npos) << answer;
    }
}

TEST_F(DataAccessTest, OfThePgVariablesOnlyThoseOfEncryptionReachLibpq) {
    const Profile profile = UserProfile("access");
    const auto refusal = [&]() -> std::string {
        try {
            OpenAs(profile);
        } catch (const DbError& e) {
            return e.what();
        }
        return "connected";
    };
    ScopedEnvironment environment;
    // Each of these would break the connection or change its session if libpq saw it.
    environment.Set("PGOPTIONS", "-c no_such.setting=1 -c search_path=nowhere");
    environment.Set("PGSERVICE", "no_such_service");
    environment.Set("PGCONNECT_TIMEOUT", "soon");
    environment.Set("PGCLIENTENCODING", "no_such_encoding");
    environment.Set("PGDATESTYLE", "no such style");
    environment.Set("PGTZ", "No/Such_Zone");
    environment.Set("PGTARGETSESSIONATTRS", "standby");
    environment.Set("PGAPPNAME", "from the environment");
    environment.Set("PGSSLMODE", "disable");
    environment.Set("PGGSSENCMODE", "disable");
    ASSERT_EQ(refusal(), "connected");
    Connection connection = OpenAs(profile);
    EXPECT_EQ(*connection.Execute("SHOW search_path").Value(0), "\"$user\", public");
    EXPECT_EQ(*connection.Execute("SHOW application_name").Value(0), "Tessaline Row Porter");

    // The server speaks neither TLS nor GSSAPI, so asking for either is refused.
    environment.Set("PGSSLMODE", "require");
    EXPECT_NE(refusal().find("server does not support SSL, but SSL was required"),
              std::string::npos)
        << refusal();
    environment.Set("PGSSLMODE", "disable");
    environment.Set("PGGSSENCMODE", "require");
    EXPECT_NE(refusal().find("GSSAPI encryption required"), std::string::npos) << refusal();
    environment.Set("PGGSSENCMODE", "disable");
    environment.Set("PGCHANNELBINDING", "require");
    EXPECT_NE(refusal().find("channel binding required"), std::string::npos) << refusal();
}

TEST_F(DataAccessTest, ReadsRowsValuesAndNulls) {
    Connection connection;
    connection.SetCursorLocation(CursorLocation::Client);
    connection.Open(BuildConnectionString(UserProfile("access")));
    RecordSet rows = connection.Execute(
        "SELECT * FROM (VALUES (1, 'O''Brien'), (2, NULL), (3, '')) AS t(id, name) ORDER BY id");
    EXPECT_EQ(rows.FieldCount(), 2);
    EXPECT_EQ(rows.RecordCount(), 3);
    EXPECT_EQ(rows.FieldName(1), "name");
    std::vector<std::optional<std::string>> names;
    for (; !rows.Eof(); rows.MoveNext()) names.push_back(rows.Value(1));
    EXPECT_EQ(names, (std::vector<std::optional<std::string>>{"O'Brien", std::nullopt, ""}));
    EXPECT_THROW(rows.Value(0), DbError);
    EXPECT_THROW(rows.MoveNext(), DbError);
    rows.Close();
    EXPECT_THROW(rows.Eof(), DbError);
    EXPECT_THROW(RecordSet().FieldCount(), DbError);
}

TEST_F(DataAccessTest, StatementFailuresCarryTheServersMessageAndState) {
    Connection connection = OpenAs(UserProfile("access"));
    try {
        connection.Execute("SELECT * FROM no_such_table");
        FAIL() << "the statement should fail";
    } catch (const DbError& e) {
        EXPECT_NE(std::string(e.what()).find("relation \"no_such_table\" does not exist"),
                  std::string::npos);
        EXPECT_EQ(e.sqlstate(), "42P01");
    }
    connection.Close();
    EXPECT_THROW(connection.Execute("SELECT 1"), DbError);
}

TEST_F(DataAccessTest, LoginFailuresCarryLibpqsMessage) {
    Profile wrong = UserProfile("access");
    wrong.password = "wrong";
    try {
        OpenAs(wrong);
        FAIL() << "a wrong password should not connect";
    } catch (const DbError& e) {
        EXPECT_NE(std::string(e.what()).find("password authentication failed"), std::string::npos);
    }
    Profile missing = UserProfile("no_such_database");
    EXPECT_THROW(OpenAs(missing), DbError);
    Profile bad_port = UserProfile("access");
    for (const char* port : {"abc", "99999", "", "1"}) {
        bad_port.port = port;
        if (bad_port.port.empty()) continue;  // an empty port means the default 5432
        EXPECT_THROW(OpenAs(bad_port), DbError) << port;
    }
}

TEST_F(DataAccessTest, OnlyTheKnownDriverConnects) {
    std::string text = BuildConnectionString(UserProfile("access"));
    text.replace(text.find("PostgreSQL Unicode"), 18, "PostgreSQL ANSI");
    Connection connection;
    EXPECT_THROW(connection.Open(text), DbError);
    EXPECT_FALSE(connection.IsOpen());
}

TEST_F(DataAccessTest, PasswordsWithSeparatorsConnect) {
    // The test role's password holds ';', a blank and '}'.
    EXPECT_TRUE(OpenAs(UserProfile("access")).IsOpen());
}

TEST_F(DataAccessTest, ASilentServerIsGivenUpAfterTheConnectionTimeout) {
    test::LoopbackPort listener;
    Profile silent = UserProfile("access");
    silent.port = listener.Port();
    Connection connection;
    connection.SetConnectionTimeout(2);
    try {
        connection.Open(BuildConnectionString(silent));
        FAIL() << "a server that never answers should not connect";
    } catch (const DbError& e) {
        EXPECT_STREQ(e.what(), "timeout expired while connecting to the server");
    }
    EXPECT_TRUE(listener.Contacted());
    EXPECT_FALSE(connection.IsOpen());
}

// A host whose packets vanish (a pulled cable) rather than one that refuses or is unreachable:
// only the connection time-out ends the wait.
TEST_F(DataAccessTest, AHostWhosePacketsVanishIsGivenUpAfterTheConnectionTimeout) {
    const test::SilentHost host;
    if (!host.Ready())
        GTEST_SKIP() << "this machine allows no network namespaces: "
                     << host.Complaint().toStdString();
    Profile silent = UserProfile("access");
    silent.server = host.Address();
    silent.port = host.Port();
    Connection connection;
    connection.SetConnectionTimeout(2);
    try {
        connection.Open(BuildConnectionString(silent));
        FAIL() << "a host that never answers should not connect";
    } catch (const DbError& e) {
        EXPECT_STREQ(e.what(), "timeout expired while connecting to the server");
    }
}

TEST_F(DataAccessTest, CommandTimeoutAndModeReachTheServer) {
    Connection connection;
    connection.SetCommandTimeout(1);
    connection.SetMode(ConnectMode::Read);
    connection.Open(BuildConnectionString(UserProfile("access")));
    EXPECT_EQ(*connection.Execute("SHOW statement_timeout").Value(0), "1s");
    EXPECT_THROW(connection.Execute("CREATE TABLE t (x int)"), DbError);
    try {
        connection.Execute("SELECT pg_sleep(3)");
        FAIL() << "the statement should have been cancelled";
    } catch (const DbError& e) {
        EXPECT_EQ(e.sqlstate(), "57014");
    }

    Connection defaults = OpenAs(UserProfile("access"));
    EXPECT_EQ(*defaults.Execute("SHOW statement_timeout").Value(0), "30s");
    EXPECT_EQ(*defaults.Execute("SHOW standard_conforming_strings").Value(0), "on");
}

TEST_F(DataAccessTest, IdentifiersAreQuotedForTheConnectionAndBrokenTextIsRefused) {
    Connection connection = OpenAs(UserProfile("access"));
    EXPECT_EQ(connection.QuoteIdentifier("people"), "\"people\"");
    EXPECT_EQ(connection.QuoteIdentifier("a\"b"), "\"a\"\"b\"");
    EXPECT_EQ(connection.QuoteIdentifier("x\"; DROP TABLE y; --"), "\"x\"\"; DROP TABLE y; --\"");
    EXPECT_EQ(connection.QuoteIdentifier("Größe"), "\"Größe\"");
    // A name cut in the middle of a character is no name: refused with libpq's reason.
    try {
        connection.QuoteIdentifier("Gr\xc3");
        FAIL() << "a broken character should be refused";
    } catch (const DbError& e) {
        EXPECT_NE(std::string(e.what()).find("multibyte"), std::string::npos) << e.what();
    }
    connection.Close();
    EXPECT_THROW(connection.QuoteIdentifier("people"), DbError);

    EXPECT_EQ(QuoteLiteral("O'Brien"), "'O''Brien'");
    EXPECT_EQ(QuoteLiteral("a\\b"), "'a\\b'");
}

}  // namespace
}  // namespace trp
