#include "support/pg_fixture.h"

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

std::string PgTest::CreateDatabase(const std::string& name) {
    Cluster().CreateDatabase(name, kTestUser);
    return name;
}

Profile PgTest::UserProfile(const std::string& database) const {
    return Profile{Cluster().Host(), std::to_string(Cluster().Port()), kTestUser, TestPassword(),
                   database};
}

void PgTest::Admin(const std::string& database, const std::string& sql) const {
    Cluster().Execute(database, sql);
}

void PgTest::Exec(const std::string& database, const std::string& sql) const {
    Connection connection;
    connection.SetCommandTimeout(0);
    connection.Open(BuildConnectionString(UserProfile(database)));
    // Set-up such as DROP TABLE IF EXISTS would otherwise leave notices in the tests' output.
    connection.Execute("SET client_min_messages = warning");
    connection.Execute(sql);
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
