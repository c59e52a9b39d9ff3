#include "support/event_loop_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace trp::test {

EventLoopRelay::EventLoopRelay(int server_port) : server_port_(server_port) {
    if (listen(listening_.Descriptor(), 16) != 0)
        throw std::runtime_error("the relay could not listen");
    accepting_ = std::make_unique<QSocketNotifier>(listening_.Descriptor(), QSocketNotifier::Read);
    QObject::connect(accepting_.get(), &QSocketNotifier::activated, [this] { Accept(); });
}

EventLoopRelay::~EventLoopRelay() {
    for (const auto& link : links_) Close(*link);
}

void EventLoopRelay::Accept() {
    auto link = std::make_unique<Link>();
    link->client = accept4(listening_.Descriptor(), nullptr, nullptr, SOCK_CLOEXEC);
    if (link->client < 0) return;
    link->server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(server_port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (link->server < 0 ||
        ::connect(link->server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close(*link);
        return;
    }
    Link* raw = link.get();
    link->from_client = std::make_unique<QSocketNotifier>(link->client, QSocketNotifier::Read);
    link->from_server = std::make_unique<QSocketNotifier>(link->server, QSocketNotifier::Read);
    QObject::connect(link->from_client.get(), &QSocketNotifier::activated,
                     [this, raw] { Pass(*raw, raw->client, raw->server); });
    QObject::connect(link->from_server.get(), &QSocketNotifier::activated,
                     [this, raw] { Pass(*raw, raw->server, raw->client); });
    links_.push_back(std::move(link));
}

void EventLoopRelay::Pass(Link& link, int from, int to) {
    char buffer[65536];
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got <= 0) {
        Close(link);
        return;
    }
    for (ssize_t sent = 0; sent < got;) {
        const ssize_t wrote = write(to, buffer + sent, static_cast<std::size_t>(got - sent));
        if (wrote <= 0) {
            Close(link);
            return;
        }
        sent += wrote;
    }
}

void EventLoopRelay::Close(Link& link) {
    link.from_client.reset();
    link.from_server.reset();
    for (int* fd : {&link.client, &link.server}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

}  // namespace trp::test
