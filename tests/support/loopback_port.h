#pragma once

#include <string>

namespace trp::test {

// A TCP port on 127.0.0.1 that no PostgreSQL server answers on.
//  - Silent: accepts connections and never says a word (a hung server).
//  - Refusing: bound but not listening, so every connection is refused at once.
class LoopbackPort {
public:
    enum class Kind { Silent, Refusing };

    explicit LoopbackPort(Kind kind = Kind::Silent);
    ~LoopbackPort();
    LoopbackPort(const LoopbackPort&) = delete;
    LoopbackPort& operator=(const LoopbackPort&) = delete;

    std::string Port() const { return std::to_string(port_); }
    // Whether anyone has tried to connect since the last call (silent ports only).
    bool Contacted() const;

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace trp::test
