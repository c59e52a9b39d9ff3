#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/temporary_cluster.h"
#include "db/profile.h"

namespace trp::test {

// The one throwaway server of this test program, started on first use and stopped at exit.
TemporaryCluster& Cluster();

// The throwaway server of one PostgreSQL major version (10 to 18) in this test program, with the
// test role, started on first use and stopped at exit; for the installed version, Cluster().
TemporaryCluster& ClusterOf(int version);
// Why ClusterOf(version) cannot start here ("" when it can): its server programs are missing.
std::string MissingServer(int version);
// Whether missing server programs fail a test rather than skip it: where TRP_POSTGRES_RELEASES
// is set, as scripts/test.sh sets it once it has put every version in place.
bool EveryVersionExpected();

// A login role with password authentication, created once per test program.
inline constexpr const char* kTestUser = "porter";
// Its password, drawn at random when the server starts. It always holds ';', a blank and '}',
// which the connection string has to carry unharmed.
const std::string& TestPassword();

using Rows = std::vector<std::vector<std::optional<std::string>>>;

// The rows of a query run with a profile; NULL values are nullopt.
Rows QueryRows(const Profile& profile, const std::string& sql);
// Runs SQL with a profile, without the server's notices.
void ExecuteWith(const Profile& profile, const std::string& sql);
// The test role's profile for a database of one of the test program's servers.
Profile UserProfileOn(const TemporaryCluster& server, const std::string& database);

// Base for tests that need databases. Each test gets fresh databases on request.
class PgTest : public ::testing::Test {
protected:
    // The server the test's databases are on: the installed version's, unless a test names
    // another.
    virtual TemporaryCluster& Server() const { return Cluster(); }
    // Creates (or re-creates) a database owned by the test role.
    std::string CreateDatabase(const std::string& name);
    // The test role's profile for a database of the cluster.
    Profile UserProfile(const std::string& database) const;
    // Runs SQL as superuser.
    void Admin(const std::string& database, const std::string& sql) const;
    // Runs SQL as the test role.
    void Exec(const std::string& database, const std::string& sql) const;
    // The rows of a query as the test role; NULL values are nullopt.
    Rows Query(const std::string& database, const std::string& sql) const;
    // The first column of the first row of a query (as the test role).
    std::string Scalar(const std::string& database, const std::string& sql) const;
};

}  // namespace trp::test
