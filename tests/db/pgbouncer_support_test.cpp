// The PgBouncer of the tests, reached with libpq alone: it passes statements on in both pool
// modes, refuses what PgBouncer refuses by default, and lets a test end or restart the server
// behind it.

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <string>

#include "db/pg_handles.h"
#include "support/pg_fixture.h"
#include "support/pgbouncer.h"

namespace trp {
namespace {

using test::PgBouncer;
using test::PoolMode;

// A libpq connection made with these parameters alone (no `options`, which PgBouncer refuses).
PgConnPtr ConnectDirectly(const Profile& profile, const std::string& options = {}) {
    const char* keys[] = {"host", "port", "user", "password", "dbname", "options", nullptr};
    const char* values[] = {profile.server.c_str(),
                            profile.port.c_str(),
                            profile.user.c_str(),
                            profile.password.c_str(),
                            profile.database.c_str(),
                            options.c_str(),
                            nullptr};
    return PgConnPtr(PQconnectdbParams(keys, values, 0));
}

// The first value of a statement's answer, or the error it met.
std::string FirstValue(PGconn* connection, const std::string& sql) {
    const PgResultPtr result(PQexec(connection, sql.c_str()));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        return "error: " + std::string(PQerrorMessage(connection));
    return PQgetvalue(result.get(), 0, 0);
}

class PgBouncerTest : public test::PgTest {
protected:
    void SetUp() override { CreateDatabase("pooled"); }
};

TEST_F(PgBouncerTest, PassesStatementsOnAndPoolsAsItsModeSays) {
    for (const PoolMode mode : {PoolMode::Session, PoolMode::Transaction}) {
        SCOPED_TRACE(mode == PoolMode::Session ? "session pooling" : "transaction pooling");
        PgBouncer bouncer(test::Cluster(), mode);
        const PgConnPtr first = ConnectDirectly(bouncer.ProfileFor("pooled"));
        ASSERT_EQ(PQstatus(first.get()), CONNECTION_OK)
            << PQerrorMessage(first.get()) << bouncer.Log();
        EXPECT_EQ(FirstValue(first.get(), "SELECT current_database() || ' ' || current_user"),
                  "pooled porter");
        const std::string first_backend = FirstValue(first.get(), "SELECT pg_backend_pid()");

        // A second client, while the first stays connected between transactions: in session
        // pooling it gets a server session of its own, in transaction pooling the idle one.
        const PgConnPtr second = ConnectDirectly(bouncer.ProfileFor("pooled"));
        ASSERT_EQ(PQstatus(second.get()), CONNECTION_OK) << PQerrorMessage(second.get());
        const std::string second_backend = FirstValue(second.get(), "SELECT pg_backend_pid()");
        if (mode == PoolMode::Session)
            EXPECT_NE(second_backend, first_backend);
        else
            EXPECT_EQ(second_backend, first_backend);
    }
}

TEST_F(PgBouncerTest, RefusesUnknownStartupParametersAndWrongPasswords) {
    PgBouncer bouncer(test::Cluster(), PoolMode::Transaction);
    const PgConnPtr with_options =
        ConnectDirectly(bouncer.ProfileFor("pooled"), "-c statement_timeout=1000");
    EXPECT_EQ(PQstatus(with_options.get()), CONNECTION_BAD);
    EXPECT_NE(std::string(PQerrorMessage(with_options.get()))
                  .find("unsupported startup parameter: options"),
              std::string::npos)
        << PQerrorMessage(with_options.get());

    Profile wrong = bouncer.ProfileFor("pooled");
    wrong.password += "x";
    const PgConnPtr refused = ConnectDirectly(wrong);
    EXPECT_EQ(PQstatus(refused.get()), CONNECTION_BAD);
}

TEST(PgBouncerServer, SessionsBehindItEndAndTheServerComesBack) {
    TemporaryCluster server(TemporaryCluster::Durability::Durable, "tessaline-pooled");
    server.CreateLoginRole(test::kTestUser, test::TestPassword());
    server.CreateDatabase("pooled", test::kTestUser);
    PgBouncer bouncer(server, PoolMode::Session);
    const PgConnPtr client = ConnectDirectly(bouncer.ProfileFor("pooled"));
    ASSERT_EQ(FirstValue(client.get(), "SELECT 1"), "1") << bouncer.Log();

    // Its server session ends: the client's next statement fails, a new client gets a new one.
    EXPECT_EQ(bouncer.TerminateServerSessions("pooled"), 1);
    EXPECT_NE(FirstValue(client.get(), "SELECT 1"), "1");
    const PgConnPtr next = ConnectDirectly(bouncer.ProfileFor("pooled"));
    EXPECT_EQ(FirstValue(next.get(), "SELECT 1"), "1") << bouncer.Log();

    bouncer.RestartServer();
    EXPECT_NE(FirstValue(next.get(), "SELECT 1"), "1");
    const PgConnPtr after_restart = ConnectDirectly(bouncer.ProfileFor("pooled"));
    EXPECT_EQ(FirstValue(after_restart.get(), "SELECT 1"), "1") << bouncer.Log();
}

}  // namespace
}  // namespace trp
