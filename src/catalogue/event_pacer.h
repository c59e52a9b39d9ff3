#pragma once

#include <libpq-fe.h>
#include <poll.h>

#include <chrono>
#include <exception>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/awaiting.h"
#include "db/connection.h"
#include "db/pg_handles.h"

namespace trp {

class OperationHost;

// Thrown when the program is ending and a server has not finished what was in flight within the
// grace period: the work is abandoned where it stands.
class StopRequested : public WaitAbandoned {
public:
    StopRequested() : WaitAbandoned("the work was stopped") {}
};

// Work that moves on while the program waits for a server: other connections with data of
// their own to send or results to take in (several writers, each with its own session).
class SideWork {
public:
    virtual ~SideWork() = default;
    // Adds the sockets it would move on with, and what for (POLLOUT, POLLIN).
    virtual void Sockets(std::vector<pollfd>& sockets) = 0;
    // Moves on as far as it can without waiting. Never throws: a connection that fails is left
    // for its owner to find.
    virtual void Step() = 0;
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
    // been ending for longer than the grace period. On a watched connection, a server that has
    // given no sign for a while is asked after (see Watch); throws BrokenConnection when it is
    // found lost.
    void WaitSocket(PGconn* conn, short events) override;

    // How long a watched connection may wait without any sign from its server before a second,
    // short-lived session asks after it, and how long that session may take.
    static constexpr std::chrono::seconds kQuietLimit{30};
    static constexpr std::chrono::seconds kAskingLimit{15};
    // Watches the connection's waits from now on. The kernel alone cannot tell a server that
    // waits (for a lock, a standby) from one that is gone: a waiting server reads nothing, so
    // what we sent stays unacknowledged much as with a vanished host, and a frozen server's
    // kernel still answers keepalives. So when the connection has been quiet for kQuietLimit,
    // a new session on `connection_string` asks whether the connection's server process is
    // still there and what it does: alive and working or waiting keeps the wait going; no new
    // session within kAskingLimit, a process that has ended, or one that waits for this very
    // connection (nothing we send reaches it) means the connection is lost.
    void Watch(PGconn* conn, std::string connection_string);
    void Unwatch(PGconn* conn);
    // The server process that serves the watched connection now (behind a pooler it may change
    // with every transaction).
    void ServerProcess(PGconn* conn, int pid);
    bool Wait(int socket, short events, std::chrono::milliseconds limit) override;
    // Lets `duration` pass while processing pending events.
    void Pause(std::chrono::milliseconds duration);
    // How long the program has waited for its servers' sockets so far.
    std::chrono::steady_clock::duration Waited() const { return waited_; }
    // Every wait from now on also moves `work` on, until it is taken off.
    void AddSideWork(SideWork* work) { side_work_.push_back(work); }
    void RemoveSideWork(SideWork* work) { std::erase(side_work_, work); }

private:
    struct Watched {
        std::string connection_string;
        int pid = 0;
        std::chrono::steady_clock::time_point quiet_since;
        std::chrono::steady_clock::time_point last_wait;
    };
    void Check();
    // Throws BrokenConnection when the server or the connection's server process is lost.
    void AskAfter(PGconn* conn, short events, const Watched& watched);

    std::map<const PGconn*, Watched> watched_;
    OperationHost& host_;
    std::chrono::steady_clock::time_point last_;
    std::chrono::steady_clock::time_point grace_end_;
    unsigned calls_ = 0;
    bool force_check_ = false;
    bool ending_ = false;
    std::vector<SideWork*> side_work_;
    std::chrono::steady_clock::duration waited_{};
};

}  // namespace trp
