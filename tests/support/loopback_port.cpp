#include "support/loopback_port.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace trp::test {

LoopbackPort::LoopbackPort(Kind kind) {
    // Bound but not listening, a port refuses every connection at once.
    if (kind == Kind::Silent && listen(socket_.Descriptor(), 8) != 0)
        throw std::runtime_error("could not listen on a loopback port");
    fcntl(socket_.Descriptor(), F_SETFL, O_NONBLOCK);
}

bool LoopbackPort::Contacted() const {
    const int peer = accept(socket_.Descriptor(), nullptr, nullptr);
    if (peer >= 0) close(peer);
    return peer >= 0;
}

}  // namespace trp::test
