#include "db/connection.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "db/awaiting.h"
#include "db/connection_string.h"
#include "db/db_error.h"

namespace trp {
namespace {

std::string TrimNewlines(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

// libpq takes every parameter it is not given (an empty value counts as not given) from the PG*
// variables of the environment when a connection starts (PGHOST, PGUSER, PGPASSWORD, PGSERVICE,
// ...), and a few session settings when it greets the server (PGTZ, PGDATESTYLE). A profile is
// used exactly as typed, an empty field meaning libpq's own default, so while libpq starts and
// polls a connection it sees the environment without them: the process's own is swapped for a
// copy without the PG* variables, never changed, and back when the call returns. Only how the
// connection is encrypted and whom it trusts (kEncryptionVariables) stays, as psql honours it:
// without them nobody could require or verify encryption.
class WithoutPgVariables {
public:
    WithoutPgVariables() : own_(environ) {
        for (char** entry = environ; entry && *entry; ++entry)
            if (std::strncmp(*entry, "PG", 2) != 0 || IsEncryptionVariable(*entry))
                kept_.push_back(*entry);
        kept_.push_back(nullptr);
        environ = kept_.data();
    }
    ~WithoutPgVariables() { environ = own_; }
    WithoutPgVariables(const WithoutPgVariables&) = delete;
    WithoutPgVariables& operator=(const WithoutPgVariables&) = delete;

private:
    static bool IsEncryptionVariable(std::string_view entry) {
        const std::string_view name = entry.substr(0, entry.find('='));
        return std::find(kEncryptionVariables.begin(), kEncryptionVariables.end(), name) !=
               kEncryptionVariables.end();
    }

    char** own_;
    std::vector<char*> kept_;
};

// For an empty password libpq looks in ~/.pgpass; this path cannot exist (/dev/null is no
// folder), so no password comes from any file.
constexpr const char* kNoPasswordFile = "/dev/null/no-password-file";

// What the connection's properties ask of every statement text it runs, as statements of the
// same implicit transaction.
std::string StatementSettings(ConnectMode mode, int command_timeout) {
    std::string settings;
    if (command_timeout > 0)
        settings =
            "SET LOCAL statement_timeout = " + std::to_string(command_timeout * 1000LL) + "; ";
    if (mode == ConnectMode::Read) settings += "SET LOCAL transaction_read_only = on; ";
    return settings;
}

}  // namespace

namespace {

using Clock = std::chrono::steady_clock;
using Parameters = std::map<std::string, std::string>;

// One attempt to connect with these parameters, given up at the deadline (none: no limit).
PgConnPtr ConnectWithin(const Parameters& params, SocketWaiter* waiter,
                        std::optional<Clock::time_point> deadline) {
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [key, value] : params) {
        keys.push_back(key.c_str());
        values.push_back(value.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);

    PgConnPtr conn([&] {
        const WithoutPgVariables clean;
        return PQconnectStartParams(keys.data(), values.data(), 0);
    }());
    if (!conn) throw DbError("out of memory allocating a connection");
    if (PQstatus(conn.get()) == CONNECTION_BAD) throw DbError(ErrorText(conn.get()));
    // libpq would print the server's notices and warnings on standard error, in the middle of
    // the command's reports (a server shutting down warns every session). The program reports
    // what concerns the user itself.
    PQsetNoticeProcessor(
        conn.get(), [](void*, const char*) {}, nullptr);

    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (true) {
        if (state == PGRES_POLLING_OK) return conn;
        if (state == PGRES_POLLING_FAILED) throw DbError(ErrorText(conn.get()));
        pollfd fd{PQsocket(conn.get()),
                  static_cast<short>(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        int wait_ms = -1;
        if (deadline) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
            if (left.count() <= 0) throw DbError("timeout expired while connecting to the server");
            wait_ms = static_cast<int>(left.count());
        }
        int ready = 0;
        if (waiter) {
            // The waiter may come back early; the deadline above is checked on every pass.
            const auto limit = std::chrono::milliseconds(wait_ms < 0 ? 1000 : wait_ms);
            if (!waiter->Wait(fd.fd, fd.events, limit)) continue;
            ready = 1;
        } else {
            ready = poll(&fd, 1, wait_ms);
        }
        if (ready == 0) throw DbError("timeout expired while connecting to the server");
        if (ready < 0 && errno != EINTR) throw DbError("could not wait for the server's answer");
        if (ready > 0) {
            const WithoutPgVariables clean;
            state = PQconnectPoll(conn.get());
        }
    }
}

std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> items;
    std::size_t from = 0;
    while (true) {
        const std::size_t comma = list.find(',', from);
        items.push_back(list.substr(from, comma - from));
        if (comma == std::string::npos) return items;
        from = comma + 1;
    }
}

}  // namespace

void Connection::Open(std::string_view connection_string, SocketWaiter* waiter) {
    conn_.reset();
    Parameters params = LibpqParameters(connection_string);
    // Only startup parameters that connection poolers pass on: the session's settings are set
    // by each transaction for itself.
    // A host that stops answering while the connection is idle is found within about half a
    // minute: keepalives after 10 s of silence, every 5 s, three unanswered. Data left
    // unacknowledged ends nothing by itself: a server that waits for a lock reads nothing
    // either, and the waits of a run ask after a quiet server instead.
    static constexpr std::pair<std::string_view, std::string_view> kFixedParameters[] = {
        {"application_name", "Tessaline Row Porter"},
        {"client_encoding", "UTF8"},
        {"keepalives", "1"},
        {"keepalives_idle", "10"},
        {"keepalives_interval", "5"},
        {"keepalives_count", "3"},
        {"passfile", kNoPasswordFile},
    };
    // Built as whole strings: GCC 12 at -O3 warns falsely about assigning short literals.
    for (const auto& [key, value] : kFixedParameters)
        params.insert_or_assign(std::string(key), std::string(value));

    std::optional<Clock::time_point> deadline;
    if (connection_timeout_ > 0)
        deadline = Clock::now() + std::chrono::seconds(connection_timeout_);

    // libpq tries a list of hosts itself, but without blocking it has no time-out of its own: a
    // host that drops every packet would cost the kernel's whole wait for an answer to the
    // first (about two minutes) before the next is tried. So each host of a list is tried on
    // its own, for kHostTimeout at most.
    const std::vector<std::string> hosts = SplitList(params["host"]);
    const std::vector<std::string> ports = SplitList(params["port"]);
    if (hosts.size() == 1 || (ports.size() > 1 && ports.size() != hosts.size())) {
        // One host, or lists libpq itself has to refuse.
        conn_ = ConnectWithin(params, waiter, deadline);
    } else {
        std::string failures;
        for (std::size_t i = 0; i < hosts.size() && !conn_; ++i) {
            Parameters one = params;
            one["host"] = hosts[i];
            one["port"] = ports.size() == hosts.size() ? ports[i] : ports.front();
            // A host's share of the whole attempt, so that a silent first host leaves time for
            // the others, and at most kHostTimeout.
            auto host_deadline = Clock::now() + kHostTimeout;
            if (deadline) {
                const auto share = (*deadline - Clock::now()) / static_cast<long>(hosts.size() - i);
                host_deadline = std::min(host_deadline, Clock::now() + share);
            }
            try {
                conn_ = ConnectWithin(one, waiter, host_deadline);
            } catch (const DbError& failure) {
                if (!failures.empty()) failures += '\n';
                failures += "host \"" + hosts[i] + "\": " + failure.what();
                if (deadline && Clock::now() >= *deadline) break;
            }
        }
        if (!conn_) throw DbError(failures);
    }
    waiter_ = waiter;
    connection_string_ = std::string(connection_string);
}

void SocketWaiter::WaitSocket(PGconn* conn, short events) {
    const int socket = PQsocket(conn);
    if (socket < 0) ThrowConnectionFailure(conn);
    Wait(socket, events, std::chrono::milliseconds(20));
}

std::string Connection::ServerConnectionString() const {
    const Parameters params = LibpqParameters(connection_string_);
    const auto host = params.find("host");
    if (host == params.end() || host->second.find(',') == std::string::npos)
        return connection_string_;
    const auto value = [&](const char* key) {
        const auto found = params.find(key);
        return found == params.end() ? std::string() : found->second;
    };
    PGconn* conn = Handle();
    return BuildConnectionString(
        Profile{PQhost(conn), PQport(conn), value("user"), value("password"), value("dbname")});
}

PGconn* Connection::Handle() const {
    if (!conn_) throw DbError("Operation is not allowed when the connection is closed.");
    return conn_.get();
}

RecordSet Connection::Execute(std::string_view sql) {
    PGconn* conn = Handle();
    const std::string text = StatementSettings(mode_, command_timeout_) + std::string(sql);
    PgResultPtr result;
    if (!waiter_) {
        result.reset(PQexec(conn, text.c_str()));
        CheckResult(result.get(), conn);
    } else {
        // The server's own time-out ends a statement; this one ends waiting for a server that
        // no longer answers at all.
        Deadline deadline;
        if (command_timeout_ > 0)
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(command_timeout_) +
                       std::chrono::seconds(10);
        result = ExecuteAwaited(conn, text, *waiter_, deadline);
    }
    return RecordSet(std::move(result), cursor_location_ == CursorLocation::Client);
}

std::string Connection::QuoteIdentifier(std::string_view name) const {
    PGconn* conn = Handle();
    const PgMemoryPtr<char> quoted(PQescapeIdentifier(conn, name.data(), name.size()));
    if (!quoted) throw DbError(ErrorText(conn));
    return quoted.get();
}

std::string Connection::QuoteLiteral(std::string_view text) const {
    PGconn* conn = Handle();
    const PgMemoryPtr<char> quoted(PQescapeLiteral(conn, text.data(), text.size()));
    if (!quoted) throw DbError(ErrorText(conn));
    return quoted.get();
}

void AppendLiteral(std::string& sql, std::string_view value) {
    sql += '\'';
    for (const char c : value) {
        sql += c;
        if (c == '\'') sql += '\'';
    }
    sql += '\'';
}

std::string QuoteLiteral(std::string_view value) {
    std::string quoted;
    quoted.reserve(value.size() + 2);
    AppendLiteral(quoted, value);
    return quoted;
}

std::string UnescapeBytea(const std::string& text) {
    std::size_t length = 0;
    const PgMemoryPtr<unsigned char> bytes(
        PQunescapeBytea(reinterpret_cast<const unsigned char*>(text.c_str()), &length));
    if (!bytes) throw std::bad_alloc();
    return std::string(reinterpret_cast<const char*>(bytes.get()), length);
}

std::string ByteaLiteral(PGconn* conn, std::string_view bytes) {
    std::size_t length = 0;
    const PgMemoryPtr<unsigned char> escaped(PQescapeByteaConn(
        conn, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &length));
    if (!escaped) ThrowConnectionFailure(conn);
    return std::string("'") + reinterpret_cast<const char*>(escaped.get()) + "'::bytea";
}

std::string ErrorText(const PGresult* result) {
    return TrimNewlines(result ? PQresultErrorMessage(result) : "");
}

std::string ErrorText(const PGconn* conn) {
    return TrimNewlines(PQerrorMessage(conn));
}

void CheckResult(const PGresult* result, const PGconn* conn) {
    if (!result) ThrowConnectionFailure(conn);
    switch (PQresultStatus(result)) {
        case PGRES_COMMAND_OK:
        case PGRES_TUPLES_OK:
        case PGRES_EMPTY_QUERY:
        case PGRES_COPY_IN:
        case PGRES_COPY_OUT:
        case PGRES_PIPELINE_SYNC:
            return;
        default: {
            const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
            std::string text = ErrorText(result);
            if (text.empty()) text = ErrorText(conn);
            if (PQstatus(conn) == CONNECTION_BAD) throw BrokenConnection(text, state ? state : "");
            throw DbError(text, state ? state : "");
        }
    }
}

void RethrowAsBroken(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const BrokenConnection&) {
        throw;
    } catch (const DbError& error) {
        throw BrokenConnection(error.what(), error.sqlstate());
    }
}

void ThrowConnectionFailure(const PGconn* conn) {
    if (PQstatus(conn) == CONNECTION_BAD) throw BrokenConnection(ErrorText(conn));
    throw DbError(ErrorText(conn));
}

}  // namespace trp
