#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <deque>
#include <exception>
#include <optional>
#include <string>

#include "db/connection.h"
#include "db/pg_handles.h"

namespace trp {

// libpq's non-blocking way of talking to a server, every wait going through a SocketWaiter so
// that whoever waits (a screen) stays alive meanwhile.

// A moment after which a wait for a server is given up (none: no limit of its own).
using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// Sends what libpq holds for the server without blocking on a full socket.
void FlushOutput(PGconn* conn, SocketWaiter& waiter, Deadline deadline = {});

// Queues one statement without parameters (the extended protocol, so also in a pipeline);
// throws the connection's failure when it cannot.
void SendStatement(PGconn* conn, const std::string& sql);
// The next result of the command in progress (nullptr when it has no more). Throws DbError once
// the deadline has passed.
PgResultPtr AwaitResult(PGconn* conn, SocketWaiter& waiter, Deadline deadline = {});

// The results of the command in progress, one at a time. It keeps the first failed result. A
// connection lost after the server said why (a FATAL error, sent before it closes the session)
// is thrown as BrokenConnection with the server's words rather than libpq's "server closed the
// connection unexpectedly".
class ResultStream {
public:
    ResultStream(PGconn* conn, SocketWaiter& waiter, Deadline deadline = {})
        : conn_(conn), waiter_(waiter), deadline_(deadline) {}
    // The same, beginning with results taken from the connection earlier (`taken`), which are
    // all of the command's when `taken_all`.
    ResultStream(PGconn* conn, SocketWaiter& waiter, std::deque<PgResultPtr> taken, bool taken_all)
        : conn_(conn), waiter_(waiter), taken_(std::move(taken)), taken_all_(taken_all) {}
    // The next result, or nullptr at the end of the command's results.
    PgResultPtr Next();
    // The first failure among the results so far (a DbError), if any.
    const std::exception_ptr& Failure() const { return failure_; }

private:
    PGconn* conn_;
    SocketWaiter& waiter_;
    Deadline deadline_;
    std::exception_ptr failure_;
    std::exception_ptr farewell_;  // the server's FATAL error, if it sent one
    std::deque<PgResultPtr> taken_;
    bool taken_all_ = false;
};

// Runs one SQL text with the simple query protocol and waits for all its results. Throws DbError
// with the server's message when it fails, or when no answer came before the deadline; returns
// the last result.
PgResultPtr ExecuteAwaited(PGconn* conn, const std::string& sql, SocketWaiter& waiter,
                           Deadline deadline = {});

}  // namespace trp
