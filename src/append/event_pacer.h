#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "connection/pg_handles.h"

namespace trp {

class OperationHost;

// Thrown when the host asks the work to stop (the program is ending). Whatever was committed
// stays; the batch in flight is dropped with its connection.
class StopRequested : public std::runtime_error {
public:
    StopRequested() : std::runtime_error("the append was stopped") {}
};

// Keeps the screen responsive during a run on the one user-interface thread: pending events are
// processed every few milliseconds, also while waiting for a server, which is never waited for
// in a blocking call.
class EventPacer {
public:
    static constexpr std::chrono::milliseconds kInterval{20};

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

    // Waits until the connection's socket is ready for `events` (POLLIN/POLLOUT) or the interval
    // has passed, processing pending events meanwhile.
    void WaitSocket(PGconn* conn, short events);

private:
    void Check();

    OperationHost& host_;
    std::chrono::steady_clock::time_point last_;
    unsigned calls_ = 0;
    bool force_check_ = false;
};

// Sends what libpq holds for the server without blocking on a full socket.
void FlushOutput(PGconn* conn, EventPacer& pacer);
// The next result of the command in progress (nullptr when it has no more), waiting without
// blocking the screen.
PgResultPtr AwaitResult(PGconn* conn, EventPacer& pacer);
// Runs one SQL text with the simple query protocol and waits for all its results. Throws DbError
// with the server's message when it fails; returns the last result.
PgResultPtr ExecuteAwaited(PGconn* conn, const std::string& sql, EventPacer& pacer);

}  // namespace trp
