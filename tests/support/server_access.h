#pragma once

#include <gtest/gtest.h>

#include <string>

#include "db/profile.h"

namespace trp::test {

// libpq's message when a login with the profile is refused, or "" when it gets in.
std::string LoginError(const Profile& profile);

// Checks that the superuser of the throwaway server on 127.0.0.1:`port` cannot log in over TCP,
// whatever password it offers: the server's own access rules turn it away.
void ExpectNoSuperuserOverTcp(const std::string& port);

// Whether only the folder's owner may enter, and that owner is the account throwaway servers run
// as: "postgres" when running as root, else whoever runs the tests.
::testing::AssertionResult OwnersAloneFolder(const std::string& path);

}  // namespace trp::test
