#pragma once

#include <string>

#include "app/loopback_socket.h"

namespace trp::test {

// A TCP port on 127.0.0.1 that no PostgreSQL server answers on.
//  - Silent: accepts connections and never says a word (a hung server).
//  - Refusing: bound but not listening, so every connection is refused at once.
class LoopbackPort {
public:
    enum class Kind { Silent, Refusing };

    explicit LoopbackPort(Kind kind = Kind::Silent);

    std::string Port() const { return std::to_string(socket_.Port()); }
    // Whether anyone has tried to connect since the last call (silent ports only).
    bool Contacted() const;

private:
    LoopbackSocket socket_;
};

}  // namespace trp::test
