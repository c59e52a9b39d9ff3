#include "support/pg_fixture.h"

#include <cstdlib>
#include <map>
#include <memory>

#include "db/connection.h"
#include "db/connection_string.h"

namespace trp::test {

const std::string& TestPassword() {
    static const std::string password = RandomPassword(16) + " pa;ss}";
    return password;
}

TemporaryCluster& Cluster() {
    static std::unique_ptr<TemporaryCluster> cluster = [] {
        auto started = std::make_unique<TemporaryCluster>();
        started->CreateLoginRole(kTestUser, TestPassword(), "CREATEDB");
        return started;
    }();
    return *cluster;
}

TemporaryCluster& ClusterOf(int version) {
    if (PostgresBinDirectory(version) == PostgresBinDirectory()) return Cluster();
    static std::map<int, std::unique_ptr<TemporaryCluster>> servers;
    std::unique_ptr<TemporaryCluster>& server = servers[version];
    if (!server) {
        auto started = std::make_unique<TemporaryCluster>(TemporaryCluster::Durability::Fast,
                                                          "tessaline-pg" + std::to_string(version),
                                                          ServerNetwork{}, version);
        started->CreateLoginRole(kTestUser, TestPassword(), "CREATEDB");
        server = std::move(started);
    }
    return *server;
}

std::string MissingServer(int version) {
    if (!PostgresBinDirectory(version).empty()) return "";
    return "PostgreSQL " + std::to_string(version) + "'s server programs are neither installed " +
           "nor in " + PostgresReleaseCache() + " (scripts/test.sh downloads them there)";
}

bool EveryVersionExpected() {
    const char* releases = std::getenv("TRP_POSTGRES_RELEASES");
    return releases && *releases;
}

Profile UserProfileOn(const TemporaryCluster& server, const std::string& database) {
    return Profile{server.Host(), std::to_string(server.Port()), kTestUser, TestPassword(),
                   database};
}

void ExecuteWith(const Profile& profile, const std::string& sql) {
    Connection connection;
    connection.SetCommandTimeout(0);
    connection.Open(BuildConnectionString(profile));
    // Set-up such as DROP TABLE IF EXISTS would otherwise leave notices in the tests' output.
    connection.Execute("SET client_min_messages = warning");
    connection.Execute(sql);
}

std::string PgTest::CreateDatabase(const std::string& name) {
    Server().CreateDatabase(name, kTestUser);
    return name;
}

Profile PgTest::UserProfile(const std::string& database) const {
    return UserProfileOn(Server(), database);
}

void PgTest::Admin(const std::string& database, const std::string& sql) const {
    Server().Execute(database, sql);
}

void PgTest::Exec(const std::string& database, const std::string& sql) const {
    ExecuteWith(UserProfile(database), sql);
}

Rows QueryRows(const Profile& profile, const std::string& sql) {
    Connection connection;
    connection.SetCommandTimeout(0);
    connection.Open(BuildConnectionString(profile));
    RecordSet rows = connection.Execute(sql);
    Rows out;
    for (; !rows.Eof(); rows.MoveNext()) {
        auto& row = out.emplace_back();
        for (int i = 0; i < rows.FieldCount(); ++i) row.push_back(rows.Value(i));
    }
    return out;
}

Rows PgTest::Query(const std::string& database, const std::string& sql) const {
    return QueryRows(UserProfile(database), sql);
}

std::string PgTest::Scalar(const std::string& database, const std::string& sql) const {
    const auto rows = Query(database, sql);
    if (rows.empty() || rows.front().empty() || !rows.front().front()) return {};
    return *rows.front().front();
}

}  // namespace trp::test
