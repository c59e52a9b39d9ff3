#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <map>

#include "connection/connection.h"
#include "connection/connection_string.h"
#include "connection/db_error.h"
#include "support/loopback_port.h"
#include "support/pg_fixture.h"

namespace trp {
namespace {

using test::PgTest;

class DataAccessTest : public PgTest {
protected:
    void SetUp() override { CreateDatabase("access"); }

    Connection OpenAs(const Profile& profile) {
        Connection connection;
        connection.Open(BuildConnectionString(profile));
        return connection;
    }
};

TEST_F(DataAccessTest, EveryConnectionNoticesAServerThatStopsAnsweringWithinAMinute) {
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
    EXPECT_EQ(in_use["tcp_user_timeout"], "60000");
    // And the kernel was told so.
    int idle = 0;
    socklen_t length = sizeof idle;
    ASSERT_EQ(getsockopt(PQsocket(connection.Handle()), IPPROTO_TCP, TCP_KEEPIDLE, &idle, &length),
              0);
    EXPECT_EQ(idle, 10);
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

TEST_F(DataAccessTest, ServerSideCursorDoesNotKnowItsCount) {
    Connection connection = OpenAs(UserProfile("access"));
    EXPECT_EQ(connection.Execute("SELECT 1").RecordCount(), -1);
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
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(connection.Open(BuildConnectionString(silent)), DbError);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::milliseconds(4000));
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

TEST(QuoteIdentifier, DoublesEmbeddedQuotes) {
    EXPECT_EQ(QuoteIdentifier("people"), "\"people\"");
    EXPECT_EQ(QuoteIdentifier("a\"b"), "\"a\"\"b\"");
    EXPECT_EQ(QuoteIdentifier("x\"; DROP TABLE y; --"), "\"x\"\"; DROP TABLE y; --\"");
    EXPECT_EQ(QuoteLiteral("O'Brien"), "'O''Brien'");
    EXPECT_EQ(QuoteLiteral("a\\b"), "'a\\b'");
}

}  // namespace
}  // namespace trp
