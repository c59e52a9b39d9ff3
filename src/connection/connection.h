#pragma once

#include <string>
#include <string_view>

#include "connection/pg_handles.h"
#include "connection/record_set.h"

namespace trp {

// Values of the connection properties, with the numbers users of the classic data-access
// objects know.
enum class ConnectMode { Unknown = 0, Read = 1, Write = 2, ReadWrite = 3 };
enum class CursorLocation { Server = 2, Client = 3 };

// One database connection, opened from an ODBC-style connection string and run through libpq.
// Move-only; the PGconn is closed when the object goes away, whatever path that takes.
class Connection {
public:
    static constexpr int kDefaultConnectionTimeout = 15;  // seconds; 0 waits without limit
    static constexpr int kDefaultCommandTimeout = 30;     // seconds; 0 waits without limit

    Connection() = default;
    Connection(Connection&&) noexcept = default;
    Connection& operator=(Connection&&) noexcept = default;

    // Properties; they take effect at the next Open.
    void SetMode(ConnectMode mode) { mode_ = mode; }
    void SetCommandTimeout(int seconds) { command_timeout_ = seconds; }
    void SetConnectionTimeout(int seconds) { connection_timeout_ = seconds; }
    void SetCursorLocation(CursorLocation location) { cursor_location_ = location; }

    // Connects or throws DbError with libpq's message. The whole attempt (name lookup aside)
    // is bounded by the connection time-out, also against a server that never answers.
    void Open(std::string_view connection_string);
    bool IsOpen() const { return conn_ != nullptr; }
    void Close() { conn_.reset(); }

    // Runs one SQL text; a statement that fails throws DbError with the server's message and
    // SQLSTATE. Statements without rows give an empty record set.
    RecordSet Execute(std::string_view sql);

    // The libpq handle, for the operations this class does not wrap (COPY, pipelines).
    PGconn* Handle() const;

private:
    PgConnPtr conn_;
    ConnectMode mode_ = ConnectMode::Unknown;
    int command_timeout_ = kDefaultCommandTimeout;
    int connection_timeout_ = kDefaultConnectionTimeout;
    CursorLocation cursor_location_ = CursorLocation::Server;
};

// A PostgreSQL identifier in double quotes, embedded double quotes doubled.
std::string QuoteIdentifier(std::string_view name);
// A string literal in apostrophes, embedded apostrophes doubled. Exact only where
// standard_conforming_strings is on, which every connection of this program ensures.
std::string QuoteLiteral(std::string_view value);

// The message of a failed result or connection, without libpq's trailing newline.
std::string ErrorText(const PGresult* result);
std::string ErrorText(const PGconn* conn);
// Throws DbError unless the result is one of the successful statuses.
void CheckResult(const PGresult* result, const PGconn* conn);

}  // namespace trp
