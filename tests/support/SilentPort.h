// A camera that never answers, on this machine: a loopback port whose
// connections the kernel completes and nobody reads, so a client waits on
// the network as it would for a dead camera, without a packet leaving the host.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace testing_support {

class SilentPort {
  public:
    SilentPort() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        // Never accepted: the backlog holds the connections, their requests unread.
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(fd_, SOMAXCONN) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
    }
    ~SilentPort() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;

    // scheme://127.0.0.1:port/path; port 0 (refused at once) if the socket could not be made.
    std::string uri(const std::string& scheme, const std::string& path) const {
        return scheme + "://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace testing_support
