#pragma once

#include <array>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "db/pg_handles.h"
#include "db/record_set.h"

namespace trp {

// Values of the connection properties, with the numbers users of the classic data-access
// objects know.
enum class ConnectMode { Unknown = 0, Read = 1, ReadWrite = 3 };
enum class CursorLocation { Server = 2, Client = 3 };

// Thrown by a SocketWaiter that gives up waiting (the program is ending): whoever waits lets it
// pass, abandoning the connection where it stands.
class WaitAbandoned : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Waits for a socket on behalf of a caller that has to stay alive meanwhile (a screen that keeps
// processing its events). Returns true when the socket may be ready, false when it is not yet
// (at the latest after `limit`; it may also come back earlier, and the caller simply waits again).
// May throw WaitAbandoned.
class SocketWaiter {
public:
    virtual ~SocketWaiter() = default;
    virtual bool Wait(int socket, short events, std::chrono::milliseconds limit) = 0;
    // One short wait for the connection's socket (a caller loops until libpq is done); throws
    // the connection's failure when it has no socket.
    virtual void WaitSocket(PGconn* conn, short events);
};

// The environment variables of libpq's that connections honour, as psql does: how a connection
// is encrypted (TLS, GSSAPI) and whom it trusts. libpq's defaults for these stay too, such as the
// certificates in ~/.postgresql/. Every other PG* variable is hidden from libpq.
inline constexpr std::array<std::string_view, 14> kEncryptionVariables = {"PGSSLMODE",
                                                                          "PGSSLROOTCERT",
                                                                          "PGSSLCERT",
                                                                          "PGSSLKEY",
                                                                          "PGSSLCRL",
                                                                          "PGSSLCRLDIR",
                                                                          "PGSSLSNI",
                                                                          "PGSSLMINPROTOCOLVERSION",
                                                                          "PGSSLMAXPROTOCOLVERSION",
                                                                          "PGGSSENCMODE",
                                                                          "PGKRBSRVNAME",
                                                                          "PGGSSLIB",
                                                                          "PGREQUIREPEER",
                                                                          "PGCHANNELBINDING"};

// One database connection, opened from an ODBC-style connection string and run through libpq.
// Move-only; the PGconn is closed when the object goes away, whatever path that takes.
class Connection {
public:
    static constexpr int kDefaultConnectionTimeout = 15;  // seconds; 0 waits without limit
    static constexpr int kDefaultCommandTimeout = 30;     // seconds; 0 waits without limit
    // How long each host of a list in the Server field may take to answer.
    static constexpr std::chrono::seconds kHostTimeout{15};

    Connection() = default;
    Connection(Connection&&) noexcept = default;
    Connection& operator=(Connection&&) noexcept = default;

    // Properties; they take effect at the next Open.
    void SetMode(ConnectMode mode) { mode_ = mode; }
    void SetCommandTimeout(int seconds) { command_timeout_ = seconds; }
    int CommandTimeout() const { return command_timeout_; }
    void SetConnectionTimeout(int seconds) { connection_timeout_ = seconds; }
    void SetCursorLocation(CursorLocation location) { cursor_location_ = location; }

    // Connects or throws DbError with libpq's message. The connection string's values are used
    // as they stand: an empty one means libpq's built-in default, never a PG* environment
    // variable (those of kEncryptionVariables aside), and no password comes from ~/.pgpass. The
    // whole attempt (name lookup aside) is bounded by the connection time-out, also against a
    // server that never answers. Where the Server field lists several hosts ("db1,db2", with one
    // port for all or one each), they are tried in turn, each for its share of the time left and
    // kHostTimeout at most. With a
    // waiter, the waits for the server go through it. Every TCP
    // connection sends keepalives; a server that stops answering while a statement runs is told
    // from one that waits by the waiter (a server may wait on a lock for minutes).
    void Open(std::string_view connection_string, SocketWaiter* waiter = nullptr);
    bool IsOpen() const { return conn_ != nullptr; }
    void Close() { conn_.reset(); }

    // Runs one SQL text; a statement that fails throws DbError with the server's message and
    // SQLSTATE. Statements without rows give an empty record set. The command time-out and the
    // mode hold for this text alone (SET LOCAL in the implicit transaction it runs in), so that
    // nothing of them stays with the server's session: behind a pooler the next statement may
    // run on another one. A text that cannot run inside a transaction block (CREATE DATABASE)
    // needs a connection without time-out and mode.
    RecordSet Execute(std::string_view sql);

    // The name as an identifier in double quotes, escaped by libpq for this connection's
    // encoding. Throws DbError with libpq's message when the name is not valid text in it.
    std::string QuoteIdentifier(std::string_view name) const;
    // The text as a string literal, escaped by libpq for this connection: right whatever the
    // session's standard_conforming_strings. Throws DbError as QuoteIdentifier does.
    std::string QuoteLiteral(std::string_view text) const;

    // The libpq handle, for the operations this class does not wrap (COPY, pipelines).
    PGconn* Handle() const;

    // The string the connection was last opened with.
    const std::string& ConnectionString() const { return connection_string_; }
    // A string that reaches the very server this connection is on: where the Server field
    // lists several hosts, the one it connected to.
    std::string ServerConnectionString() const;

private:
    PgConnPtr conn_;
    SocketWaiter* waiter_ = nullptr;  // what Open was given: Execute waits through it too
    std::string connection_string_;
    ConnectMode mode_ = ConnectMode::Unknown;
    int command_timeout_ = kDefaultCommandTimeout;
    int connection_timeout_ = kDefaultConnectionTimeout;
    CursorLocation cursor_location_ = CursorLocation::Server;
};

// Appends the value as a string literal: in apostrophes, embedded apostrophes doubled. Exact
// only where standard_conforming_strings is on; SQL sent outside a transaction that ensures it
// quotes with Connection::QuoteLiteral instead.
void AppendLiteral(std::string& sql, std::string_view value);
std::string QuoteLiteral(std::string_view value);

// The bytes of a bytea value in the server's text form ("\x…"), unescaped by libpq.
std::string UnescapeBytea(const std::string& text);
// A bytea literal ('\x…'::bytea) holding the bytes, escaped by libpq for the connection.
std::string ByteaLiteral(PGconn* conn, std::string_view bytes);

// The message of a failed result or connection, without libpq's trailing newline.
std::string ErrorText(const PGresult* result);
std::string ErrorText(const PGconn* conn);
// Throws DbError unless the result is one of the successful statuses; BrokenConnection when the
// connection went down with it.
void CheckResult(const PGresult* result, const PGconn* conn);
// The failure of a libpq call on the connection (sending, flushing, reading): BrokenConnection
// when the connection is down, DbError otherwise; both with libpq's message.
[[noreturn]] void ThrowConnectionFailure(const PGconn* conn);
// Rethrows a failure as BrokenConnection, keeping its message and SQLSTATE: for a server error
// that came just before the connection went down.
[[noreturn]] void RethrowAsBroken(const std::exception_ptr& failure);

}  // namespace trp
