#include "support/server_access.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/temporary_cluster.h"
#include "db/connection.h"
#include "db/connection_string.h"
#include "db/db_error.h"

namespace trp::test {

std::string LoginError(const Profile& profile) {
    Connection connection;
    connection.SetConnectionTimeout(10);
    try {
        connection.Open(BuildConnectionString(profile));
    } catch (const DbError& e) {
        return e.what();
    }
    return {};
}

void ExpectNoSuperuserOverTcp(const std::string& port) {
    // The password the superuser had when it could log in over TCP, none, and a random one.
    for (const std::string& password :
         {std::string("trp admin pw"), std::string(), RandomPassword()}) {
        const std::string error = LoginError(
            Profile{"127.0.0.1", port, TemporaryCluster::kSuperuser, password, "postgres"});
        EXPECT_NE(error.find("no pg_hba.conf entry"), std::string::npos)
            << "password \"" << password << "\": " << error;
    }
}

::testing::AssertionResult OwnersAloneFolder(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return ::testing::AssertionFailure() << path << " missing";
    if (!S_ISDIR(status.st_mode) || (status.st_mode & 07777) != 0700)
        return ::testing::AssertionFailure()
               << path << " has mode " << std::oct << (status.st_mode & 07777);
    uid_t expected_owner = geteuid();
    if (expected_owner == 0) {
        const passwd* account = getpwnam("postgres");
        if (!account) return ::testing::AssertionFailure() << "no postgres account";
        expected_owner = account->pw_uid;
    }
    if (status.st_uid != expected_owner)
        return ::testing::AssertionFailure() << path << " belongs to uid " << status.st_uid;
    return ::testing::AssertionSuccess();
}

}  // namespace trp::test
