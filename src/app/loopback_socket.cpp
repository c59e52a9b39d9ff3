#include "app/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace trp {

LoopbackSocket::LoopbackSocket() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd_ >= 0) close(fd_);
        throw std::runtime_error("could not bind a port of 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
}

LoopbackSocket::~LoopbackSocket() {
    close(fd_);
}

int FreeLoopbackPort() {
    return LoopbackSocket().Port();
}

}  // namespace trp
