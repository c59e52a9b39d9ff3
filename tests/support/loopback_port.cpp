#include "support/loopback_port.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace trp::test {

LoopbackPort::LoopbackPort(Kind kind) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (kind == Kind::Silent && listen(fd_, 8) != 0) ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("could not open a loopback port");
    port_ = ntohs(address.sin_port);
    fcntl(fd_, F_SETFL, O_NONBLOCK);
}

LoopbackPort::~LoopbackPort() { close(fd_); }

bool LoopbackPort::Contacted() const {
    const int peer = accept(fd_, nullptr, nullptr);
    if (peer >= 0) close(peer);
    return peer >= 0;
}

}  // namespace trp::test
