#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <exception>
#include <stdexcept>
#include <string>

#include "connection/connection.h"
#include "connection/pg_handles.h"

namespace trp {

class OperationHost;

// Thrown when the program is ending and a server has not finished what was in flight within the
// grace period: the work is abandoned where it stands.
class StopRequested : public std::runtime_error {
public:
    StopRequested() : std::runtime_error("the append was stopped") {}
};

// Keeps the screen responsive during a run on the one user-interface thread: pending events are
// processed every few milliseconds, also while waiting for a server, which is never waited for
// in a blocking call. It also notices when the program is ending (a screen closed, a termination
// signal): the work then finishes what is in flight and ends, showing nothing more.
class EventPacer : public SocketWaiter {
public:
    static constexpr std::chrono::milliseconds kInterval{20};
    // How long a server may take, once the program is ending, to finish what is in flight.
    static constexpr std::chrono::milliseconds kEndingGrace{3000};

    explicit EventPacer(OperationHost& host);

    // Processes pending events at the first row, and later when the interval has passed since
    // the last time (so a short run, too, repaints its bar and sees a click on the close box).
    void Tick() {
        if (calls_++ == 0) {
            ProcessNow();
        } else if (calls_ % 32 == 0 || force_check_) {
            Check();
        }
    }
    // Processes pending events now.
    void ProcessNow();

    // True once the program is ending.
    bool Ending() const { return ending_; }

    // Waits until the connection's socket is ready for `events` (POLLIN/POLLOUT) or the interval
    // has passed, processing pending events meanwhile. Throws StopRequested once the program has
    // been ending for longer than the grace period.
    void WaitSocket(PGconn* conn, short events);
    bool Wait(int socket, short events, std::chrono::milliseconds limit) override;
    // Lets `duration` pass while processing pending events.
    void Pause(std::chrono::milliseconds duration);

private:
    void Check();

    OperationHost& host_;
    std::chrono::steady_clock::time_point last_;
    std::chrono::steady_clock::time_point grace_end_;
    unsigned calls_ = 0;
    bool force_check_ = false;
    bool ending_ = false;
};

// Sends what libpq holds for the server without blocking on a full socket.
void FlushOutput(PGconn* conn, EventPacer& pacer);
// The next result of the command in progress (nullptr when it has no more), waiting without
// blocking the screen.
PgResultPtr AwaitResult(PGconn* conn, EventPacer& pacer);
// The results of the command in progress, one at a time, waited for without blocking the
// screen. It keeps the first failed result. A connection lost after the server said why (a FATAL
// error, sent before it closes the session) is thrown as BrokenConnection with the server's
// words rather than libpq's "server closed the connection unexpectedly".
class ResultStream {
public:
    ResultStream(PGconn* conn, EventPacer& pacer) : conn_(conn), pacer_(pacer) {}
    // The next result, or nullptr at the end of the command's results.
    PgResultPtr Next();
    // The first failure among the results so far (a DbError), if any.
    const std::exception_ptr& Failure() const { return failure_; }

private:
    PGconn* conn_;
    EventPacer& pacer_;
    std::exception_ptr failure_;
    std::exception_ptr farewell_;  // the server's FATAL error, if it sent one
};

// Runs one SQL text with the simple query protocol and waits for all its results. Throws DbError
// with the server's message when it fails; returns the last result.
PgResultPtr ExecuteAwaited(PGconn* conn, const std::string& sql, EventPacer& pacer);

}  // namespace trp
