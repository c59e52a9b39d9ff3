#include "delay_proxy.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <iterator>
#include <list>
#include <stdexcept>
#include <vector>

namespace trp::bench {
namespace {

using Clock = std::chrono::steady_clock;

// Read at most this much per wake-up and direction, so both directions and all connections
// take turns.
constexpr size_t kReadSize = 256 * 1024;
// Reading pauses while this much waits in one direction: far more than a 5 ms delay holds at
// loopback speed, so it bounds memory without limiting throughput.
constexpr size_t kMaxQueued = 64u << 20;

struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;
    size_t sent = 0;
};

// One direction of a connection.
struct Stream {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
    size_t queued = 0;
    bool source_ended = false;
    bool shut = false;

    bool WantsRead() const { return !source_ended && queued < kMaxQueued; }
    bool Due(Clock::time_point now) const { return !queue.empty() && queue.front().due <= now; }
};

struct Link {
    int client = -1;
    int server = -1;
    Stream up, down;
    bool broken = false;

    Link(int client_fd, int server_fd) : client(client_fd), server(server_fd) {
        up.from = down.to = client;
        up.to = down.from = server;
    }
    ~Link() {
        close(client);
        close(server);
    }
    bool Finished() const { return broken || (up.shut && down.shut); }
};

void NoDelayNonBlocking(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

int ConnectTo(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    return fd;
}

void ReadInto(Stream& stream, bool& broken, std::chrono::microseconds delay,
              std::vector<char>& buffer) {
    const ssize_t n = read(stream.from, buffer.data(), buffer.size());
    if (n > 0) {
        stream.queued += static_cast<size_t>(n);
        stream.queue.push_back(
            Chunk{Clock::now() + delay, std::vector<char>(buffer.begin(), buffer.begin() + n)});
    } else if (n == 0) {
        stream.source_ended = true;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        broken = true;
    }
}

void WriteDue(Stream& stream, bool& broken) {
    const auto now = Clock::now();
    while (stream.Due(now)) {
        Chunk& chunk = stream.queue.front();
        const ssize_t n = send(stream.to, chunk.bytes.data() + chunk.sent,
                               chunk.bytes.size() - chunk.sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) broken = true;
            return;
        }
        chunk.sent += static_cast<size_t>(n);
        if (chunk.sent < chunk.bytes.size()) return;
        stream.queued -= chunk.bytes.size();
        stream.queue.pop_front();
    }
}

// Passes an end of input on once everything before it has been delivered.
void ShutWhenDrained(Stream& stream) {
    if (stream.source_ended && stream.queue.empty() && !stream.shut) {
        shutdown(stream.to, SHUT_WR);
        stream.shut = true;
    }
}

}  // namespace

DelayProxy::DelayProxy(const std::string& target_host, int target_port,
                       std::chrono::microseconds one_way_delay)
    : target_host_(target_host), target_port_(target_port), delay_(one_way_delay) {
    if (listen(listener_.Descriptor(), 64) != 0 || pipe2(stop_pipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("the delay proxy could not listen");
    fcntl(listener_.Descriptor(), F_SETFL, fcntl(listener_.Descriptor(), F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
}

DelayProxy::~DelayProxy() {
    const char stop = 0;
    if (write(stop_pipe_[1], &stop, 1) != 1) std::perror("delay proxy stop");
    thread_.join();
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
}

void DelayProxy::Run() {
    std::list<Link> links;
    std::vector<pollfd> polled;
    std::vector<char> buffer(kReadSize);
    for (;;) {
        // What each descriptor waits for: input while its queue has room, output only once the
        // oldest queued bytes are due; otherwise the wait ends when they become due.
        const auto now = Clock::now();
        polled.assign({{stop_pipe_[0], POLLIN, 0}, {listener_.Descriptor(), POLLIN, 0}});
        auto wake = Clock::time_point::max();
        for (Link& link : links) {
            for (Stream* s : {&link.up, &link.down}) {
                if (s->WantsRead()) polled.push_back({s->from, POLLIN, 0});
                if (s->Due(now))
                    polled.push_back({s->to, POLLOUT, 0});
                else if (!s->queue.empty())
                    wake = std::min(wake, s->queue.front().due);
            }
        }
        timespec timeout{};
        const bool timed = wake != Clock::time_point::max();
        if (timed) {
            const auto ns =
                std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count();
            timeout.tv_sec = ns > 0 ? ns / 1000000000 : 0;
            timeout.tv_nsec = ns > 0 ? ns % 1000000000 : 0;
        }
        if (ppoll(polled.data(), polled.size(), timed ? &timeout : nullptr, nullptr) < 0 &&
            errno != EINTR)
            return;
        if (polled[0].revents) return;
        if (polled[1].revents & POLLIN) {
            const int client = accept4(listener_.Descriptor(), nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                const int server = ConnectTo(target_host_, target_port_);
                if (server < 0) {
                    close(client);
                } else {
                    NoDelayNonBlocking(client);
                    NoDelayNonBlocking(server);
                    links.emplace_back(client, server);
                }
            }
        }
        // Every link is served on each wake-up: reads and writes that would block simply return.
        for (auto link = links.begin(); link != links.end();) {
            for (Stream* s : {&link->up, &link->down}) {
                if (s->WantsRead()) ReadInto(*s, link->broken, delay_, buffer);
                WriteDue(*s, link->broken);
                ShutWhenDrained(*s);
            }
            link = link->Finished() ? links.erase(link) : std::next(link);
        }
    }
}

}  // namespace trp::bench
