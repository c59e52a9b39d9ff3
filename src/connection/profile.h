#pragma once

#include <string>

namespace trp {

// One connection profile: the five texts of a profile frame, exactly as typed (never trimmed).
struct Profile {
    std::string server;
    std::string port;
    std::string user;
    std::string password;
    std::string database;

    // Exact, case-sensitive comparison of all five fields: the "same database" test.
    bool operator==(const Profile&) const = default;
};

}  // namespace trp
