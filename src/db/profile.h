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

// Where the two profiles are read at the moment an operation needs them (the connection
// screen's fields, which the user may have changed since the last operation).
class ProfileSource {
public:
    virtual ~ProfileSource() = default;
    virtual Profile Profile1() const = 0;
    virtual Profile Profile2() const = 0;
};

}  // namespace trp
