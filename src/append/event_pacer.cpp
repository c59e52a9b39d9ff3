#include "append/event_pacer.h"

#include <poll.h>

#include <cerrno>

#include "app/operation_host.h"
#include "connection/connection.h"
#include "connection/db_error.h"

namespace trp {

EventPacer::EventPacer(OperationHost& host)
    : host_(host), last_(std::chrono::steady_clock::now()) {}

void EventPacer::Check() {
    force_check_ = false;
    if (std::chrono::steady_clock::now() - last_ >= kInterval) ProcessNow();
}

void EventPacer::ProcessNow() {
    host_.ProcessPendingEvents();
    last_ = std::chrono::steady_clock::now();
    if (host_.StopRequested()) throw StopRequested();
}

void EventPacer::WaitSocket(PGconn* conn, short events) {
    pollfd fd{PQsocket(conn), events, 0};
    if (fd.fd < 0) throw DbError(ErrorText(conn));
    const auto left = kInterval - (std::chrono::steady_clock::now() - last_);
    const int wait_ms =
        std::max(0, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    if (poll(&fd, 1, wait_ms) < 0 && errno != EINTR)
        throw DbError("could not wait for the server's answer");
    force_check_ = true;
    Check();
}

void FlushOutput(PGconn* conn, EventPacer& pacer) {
    while (true) {
        const int pending = PQflush(conn);
        if (pending == 0) return;
        if (pending < 0) throw DbError(ErrorText(conn));
        // Read while waiting to write: a server blocked on its own output would never read ours.
        pacer.WaitSocket(conn, POLLOUT | POLLIN);
        if (!PQconsumeInput(conn)) throw DbError(ErrorText(conn));
    }
}

PgResultPtr AwaitResult(PGconn* conn, EventPacer& pacer) {
    FlushOutput(conn, pacer);
    while (PQisBusy(conn)) {
        pacer.WaitSocket(conn, POLLIN);
        if (!PQconsumeInput(conn)) throw DbError(ErrorText(conn));
    }
    return PgResultPtr(PQgetResult(conn));
}

PgResultPtr ExecuteAwaited(PGconn* conn, const std::string& sql, EventPacer& pacer) {
    if (!PQsendQuery(conn, sql.c_str())) throw DbError(ErrorText(conn));
    PgResultPtr last;
    std::exception_ptr failure;
    while (PgResultPtr result = AwaitResult(conn, pacer)) {
        if (!failure) {
            try {
                CheckResult(result.get(), conn);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        const auto status = PQresultStatus(result.get());
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT) return result;
        last = std::move(result);
    }
    if (failure) std::rethrow_exception(failure);
    return last;
}

}  // namespace trp
