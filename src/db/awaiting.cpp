#include "db/awaiting.h"

#include <poll.h>

#include <string_view>

#include "db/db_error.h"

namespace trp {

using Clock = std::chrono::steady_clock;

namespace {

void CheckDeadline(const Deadline& deadline) {
    if (deadline && Clock::now() >= *deadline)
        throw DbError("the server did not answer within the time allowed");
}

}  // namespace

void SendStatement(PGconn* conn, const std::string& sql) {
    if (!PQsendQueryParams(conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0))
        ThrowConnectionFailure(conn);
}

void FlushOutput(PGconn* conn, SocketWaiter& waiter, Deadline deadline) {
    while (true) {
        const int pending = PQflush(conn);
        if (pending == 0) return;
        if (pending < 0) ThrowConnectionFailure(conn);
        CheckDeadline(deadline);
        // Read while waiting to write: a server blocked on its own output would never read ours.
        waiter.WaitSocket(conn, POLLOUT | POLLIN);
        if (!PQconsumeInput(conn)) ThrowConnectionFailure(conn);
    }
}

PgResultPtr AwaitResult(PGconn* conn, SocketWaiter& waiter, Deadline deadline) {
    FlushOutput(conn, waiter, deadline);
    while (PQisBusy(conn)) {
        CheckDeadline(deadline);
        waiter.WaitSocket(conn, POLLIN);
        if (!PQconsumeInput(conn)) ThrowConnectionFailure(conn);
    }
    return PgResultPtr(PQgetResult(conn));
}

PgResultPtr ResultStream::Next() {
    PgResultPtr result;
    try {
        if (!taken_.empty()) {
            result = std::move(taken_.front());
            taken_.pop_front();
        } else if (!taken_all_) {
            result = AwaitResult(conn_, waiter_, deadline_);
        }
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

PgResultPtr ExecuteAwaited(PGconn* conn, const std::string& sql, SocketWaiter& waiter,
                           Deadline deadline) {
    if (!PQsendQuery(conn, sql.c_str())) ThrowConnectionFailure(conn);
    ResultStream results(conn, waiter, deadline);
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
