#include "append/event_pacer.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "app/operation_host.h"
#include "connection/connection.h"
#include "connection/db_error.h"

namespace trp {

using Clock = std::chrono::steady_clock;

EventPacer::EventPacer(OperationHost& host) : host_(host), last_(Clock::now()) {}

void EventPacer::Check() {
    force_check_ = false;
    if (Clock::now() - last_ >= kInterval) ProcessNow();
}

void EventPacer::ProcessNow() {
    host_.ProcessPendingEvents();
    last_ = Clock::now();
    if (!ending_ && host_.StopRequested()) {
        ending_ = true;
        grace_end_ = last_ + kEndingGrace;
    }
}

bool EventPacer::Wait(int socket, short events, std::chrono::milliseconds limit) {
    if (ending_ && Clock::now() >= grace_end_) throw StopRequested();
    pollfd fd{socket, events, 0};
    const auto left = kInterval - (Clock::now() - last_);
    const auto wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(left),
                                 std::chrono::milliseconds(0), limit);
    const int ready = poll(&fd, 1, static_cast<int>(wait.count()));
    if (ready < 0 && errno != EINTR) throw DbError("could not wait for the server's answer");
    force_check_ = true;
    Check();
    return ready > 0;
}

void EventPacer::WaitSocket(PGconn* conn, short events) {
    const int socket = PQsocket(conn);
    if (socket < 0) ThrowConnectionFailure(conn);
    Wait(socket, events, kInterval);
}

void EventPacer::Pause(std::chrono::milliseconds duration) {
    const auto end = Clock::now() + duration;
    while (Clock::now() < end) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        pollfd none{-1, 0, 0};
        poll(&none, 1, static_cast<int>(std::min(left, kInterval).count()));
        ProcessNow();
    }
}

void FlushOutput(PGconn* conn, EventPacer& pacer) {
    while (true) {
        const int pending = PQflush(conn);
        if (pending == 0) return;
        if (pending < 0) ThrowConnectionFailure(conn);
        // Read while waiting to write: a server blocked on its own output would never read ours.
        pacer.WaitSocket(conn, POLLOUT | POLLIN);
        if (!PQconsumeInput(conn)) ThrowConnectionFailure(conn);
    }
}

PgResultPtr AwaitResult(PGconn* conn, EventPacer& pacer) {
    FlushOutput(conn, pacer);
    while (PQisBusy(conn)) {
        pacer.WaitSocket(conn, POLLIN);
        if (!PQconsumeInput(conn)) ThrowConnectionFailure(conn);
    }
    return PgResultPtr(PQgetResult(conn));
}

PgResultPtr ResultStream::Next() {
    PgResultPtr result;
    try {
        result = AwaitResult(conn_, pacer_);
    } catch (const BrokenConnection&) {
        if (farewell_) RethrowAsBroken(farewell_);
        throw;
    }
    if (!result) return result;
    try {
        CheckResult(result.get(), conn_);
    } catch (const DbError&) {
        if (!failure_) failure_ = std::current_exception();
        const char* severity = PQresultErrorField(result.get(), PG_DIAG_SEVERITY_NONLOCALIZED);
        const std::string_view level = severity ? severity : "";
        if (!farewell_ && (level == "FATAL" || level == "PANIC"))
            farewell_ = std::current_exception();
    }
    return result;
}

PgResultPtr ExecuteAwaited(PGconn* conn, const std::string& sql, EventPacer& pacer) {
    if (!PQsendQuery(conn, sql.c_str())) ThrowConnectionFailure(conn);
    ResultStream results(conn, pacer);
    PgResultPtr last;
    while (PgResultPtr result = results.Next()) {
        const auto status = PQresultStatus(result.get());
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT) return result;
        last = std::move(result);
    }
    if (results.Failure()) std::rethrow_exception(results.Failure());
    return last;
}

}  // namespace trp
