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

// A login role with password authentication, created once per test program.
inline constexpr const char* kTestUser = "porter";
// Its password, drawn at random when the server starts. It always holds ';', a blank and '}',
// which the connection string has to carry unharmed.
const std::string& TestPassword();

using Rows = std::vector<std::vector<std::optional<std::string>>>;

// The rows of a query run with a profile; NULL values are nullopt.
Rows QueryRows(const Profile& profile, const std::string& sql);

// Base for tests that need databases. Each test gets fresh databases on request.
class PgTest : public ::testing::Test {
protected:
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
