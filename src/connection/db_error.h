#pragma once

#include <stdexcept>
#include <string>

namespace trp {

// A failure reported by libpq or by the server. The message is theirs, unchanged, so that the
// error report can show it; the SQLSTATE is kept for callers that need to tell failures apart.
class DbError : public std::runtime_error {
public:
    explicit DbError(const std::string& message, std::string sqlstate = {})
        : std::runtime_error(message), sqlstate_(std::move(sqlstate)) {}

    const std::string& sqlstate() const { return sqlstate_; }

private:
    std::string sqlstate_;
};

// The connection is gone or unusable: nothing more can be sent on it. Whatever was not
// committed before is lost; a commit that was under way may or may not have happened.
class BrokenConnection : public DbError {
public:
    using DbError::DbError;
};

}  // namespace trp
