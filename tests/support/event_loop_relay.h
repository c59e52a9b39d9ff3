#pragma once

#include <QSocketNotifier>
#include <memory>
#include <string>
#include <vector>

#include "app/loopback_socket.h"

namespace trp::test {

// A TCP relay on 127.0.0.1 to a server's port that passes bytes on only while the program
// processes its events: whatever talks to the server through it cannot finish a round trip
// without the event loop running meanwhile, however fast the server answers.
class EventLoopRelay {
public:
    explicit EventLoopRelay(int server_port);
    ~EventLoopRelay();
    EventLoopRelay(const EventLoopRelay&) = delete;
    EventLoopRelay& operator=(const EventLoopRelay&) = delete;

    std::string Port() const { return std::to_string(listening_.Port()); }

private:
    struct Link {
        int client = -1;
        int server = -1;
        std::unique_ptr<QSocketNotifier> from_client;
        std::unique_ptr<QSocketNotifier> from_server;
    };
    void Accept();
    void Pass(Link& link, int from, int to);
    static void Close(Link& link);

    int server_port_;
    LoopbackSocket listening_;
    std::unique_ptr<QSocketNotifier> accepting_;
    std::vector<std::unique_ptr<Link>> links_;
};

}  // namespace trp::test
