#include "catalogue/event_pacer.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "base/operation_host.h"
#include "db/awaiting.h"
#include "db/connection.h"
#include "db/db_error.h"

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
    const auto left = kInterval - (Clock::now() - last_);
    const auto wait = std::clamp(std::chrono::ceil<std::chrono::milliseconds>(left),
                                 std::chrono::milliseconds(0), limit);
    std::vector<pollfd> sockets{{socket, events, 0}};
    for (SideWork* work : side_work_) {
        work->Step();
        work->Sockets(sockets);
    }
    const auto polled = Clock::now();
    const int ready = poll(sockets.data(), sockets.size(), static_cast<int>(wait.count()));
    waited_ += Clock::now() - polled;
    if (ready < 0 && errno != EINTR) throw DbError("could not wait for the server's answer");
    for (SideWork* work : side_work_) work->Step();
    force_check_ = true;
    Check();
    return ready > 0 && sockets.front().revents != 0;
}

void EventPacer::WaitSocket(PGconn* conn, short events) {
    const int socket = PQsocket(conn);
    if (socket < 0) ThrowConnectionFailure(conn);
    const bool ready = Wait(socket, events, kInterval);
    const auto watched = watched_.find(conn);
    if (watched == watched_.end()) return;
    Watched& watch = watched->second;
    const auto now = Clock::now();
    // Quiet counts from the start of an unbroken wait, or from the last sign of the server.
    if (ready || now - watch.last_wait > std::chrono::seconds(1)) watch.quiet_since = now;
    watch.last_wait = now;
    if (now - watch.quiet_since < kQuietLimit) return;
    AskAfter(conn, events, watch);
    watch.quiet_since = watch.last_wait = Clock::now();
}

void EventPacer::Watch(PGconn* conn, std::string connection_string) {
    Watched& watch = watched_[conn];
    watch.connection_string = std::move(connection_string);
    watch.pid = 0;
    watch.quiet_since = watch.last_wait = Clock::now();
}

void EventPacer::Unwatch(PGconn* conn) {
    watched_.erase(conn);
}

void EventPacer::ServerProcess(PGconn* conn, int pid) {
    const auto watched = watched_.find(conn);
    if (watched != watched_.end()) watched->second.pid = pid;
}

void EventPacer::AskAfter(PGconn* conn, short events, const Watched& watched) {
    std::string lost;
    try {
        Connection asking;
        asking.SetConnectionTimeout(static_cast<int>(kAskingLimit.count()));
        const auto deadline = Clock::now() + kAskingLimit;
        asking.Open(watched.connection_string, this);
        // The process is known once a transaction of ours has begun; before that, that the
        // server answers at all is what can be told.
        const PgResultPtr state = ExecuteAwaited(
            asking.Handle(),
            "SELECT state, coalesce(wait_event, '') FROM pg_stat_activity WHERE pid = " +
                std::to_string(watched.pid) + " UNION ALL SELECT 'known', '' WHERE " +
                (watched.pid == 0 ? "true" : "false"),
            *this, deadline);
        if (PQntuples(state.get()) == 0) {
            lost = "its server process has ended";
        } else {
            const std::string_view doing = PQgetvalue(state.get(), 0, 0);
            const std::string_view waiting_for = PQgetvalue(state.get(), 0, 1);
            // It waits for us while we wait for it: nothing of this connection gets through.
            if (doing.starts_with("idle") || waiting_for == "ClientRead" ||
                waiting_for == "ClientWrite")
                lost = "nothing sent on this connection reaches the server";
        }
    } catch (const WaitAbandoned&) {
        throw;
    } catch (const std::exception& failure) {
        lost = "no new session got an answer within " + std::to_string(kAskingLimit.count()) +
               " seconds (" + failure.what() + ")";
    }
    if (lost.empty()) return;
    // The answer may have come meanwhile.
    pollfd fd{PQsocket(conn), events, 0};
    if (poll(&fd, 1, 0) > 0) return;
    // Nothing more is waited for on this connection: whatever comes next (a rollback, the
    // reading of what is left) fails at once instead of waiting through another quiet spell,
    // and a server that can still be reached sees its client go.
    ::shutdown(PQsocket(conn), SHUT_RDWR);
    throw BrokenConnection("The server stopped answering: " + lost + ".");
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

}  // namespace trp
