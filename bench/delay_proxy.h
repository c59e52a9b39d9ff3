#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "app/loopback_socket.h"

namespace trp::bench {

// A TCP forwarder on a port of 127.0.0.1 that holds every byte for a fixed time in each
// direction, as a network link with that latency would, without limiting throughput: bytes are
// queued with the time they are due and sent on then, while reading goes on. (The kernel here
// has no netem to do this.) Each accepted connection gets its own connection to the target.
class DelayProxy {
public:
    // Starts forwarding at once, on a thread of its own. Throws when the port cannot be opened.
    DelayProxy(const std::string& target_host, int target_port,
               std::chrono::microseconds one_way_delay);
    // Stops the thread and closes every connection.
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    int Port() const { return listener_.Port(); }

private:
    void Run();

    std::string target_host_;
    int target_port_;
    std::chrono::microseconds delay_;
    LoopbackSocket listener_;
    int stop_pipe_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace trp::bench
