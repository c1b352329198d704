// A local server that must never be contacted: addresses for a test to hand out, and
// whether anything connected.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace vantry::test {

class LocalListener {
 public:
  LocalListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
        ::listen(fd_, 4) != 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
      throw std::runtime_error("could not listen on the loopback interface");
    port_ = ntohs(a.sin_port);
  }
  ~LocalListener() { ::close(fd_); }
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;

  std::string url(const std::string& file) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + file + "?leak=opened";
  }
  // Whether a connection came (or comes within a tenth of a second).
  bool contacted() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 100) > 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace vantry::test
