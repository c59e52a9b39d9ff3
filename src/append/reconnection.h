#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <memory>

namespace trp {

class Connection;
class EventPacer;

// How a failure of the destination's connection stands to the run.
enum class Loss {
    None,  // no loss: a row's failure, or the run's for another reason (rights, disk, ...)
    // The connection is lost or the server is going away (class 08, a server shutting down or
    // restarting, a session writable earlier told it is now read-only after a failover): the
    // run may reconnect and go on.
    Lost,
    // "Terminating connection due to administrator command": a server shutting down, which a
    // reconnection rides out, unless the server kept running (the same start after
    // reconnecting): then someone ended this very session, and the run ends.
    Terminated,
};
// `wrote`: the session was writable earlier in this run.
Loss LossOf(const std::exception_ptr& failure, bool wrote);

// Opens `destination` again with its own connection string and properties, with growing pauses
// between the attempts (1, 2, 4, then 8 s), until `deadline`. `tell` is called about once a
// second with the time since `lost_at`. False when the deadline passed or the program is ending
// first.
bool Reconnect(Connection& destination, EventPacer& pacer,
               std::chrono::steady_clock::time_point lost_at,
               std::chrono::steady_clock::time_point deadline,
               const std::function<void(std::chrono::seconds)>& tell);

// Another session to the server `like` is connected to (its connection string, its mode and
// command time-out), for a writer of its own; nullptr when the server does not grant it within
// `timeout` seconds (its or the role's connection limit, a pooler's pool size). Results are
// awaited through the pacer, never by blocking on the socket.
std::unique_ptr<Connection> OpenSessionLike(const Connection& like, EventPacer& pacer, int timeout);

}  // namespace trp
