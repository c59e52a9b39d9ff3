#pragma once

namespace trp {

// A TCP socket bound to a port of 127.0.0.1 that the system picked from its free ones; closed by
// the destructor. Not listening until someone calls listen() on its descriptor.
class LoopbackSocket {
public:
    // Throws std::runtime_error when no socket can be bound.
    LoopbackSocket();
    ~LoopbackSocket();
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    int Descriptor() const { return fd_; }
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port of 127.0.0.1 that was free a moment ago: bound and released again. Another program may
// take it before the caller binds it, so callers retry with a fresh one.
int FreeLoopbackPort();

}  // namespace trp
