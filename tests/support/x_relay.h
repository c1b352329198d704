// A relay between X clients and a server, on a display number of its own. While held, what
// the server sends is kept back and then handed on in one piece: a client reads a reply
// together with events the server sent after it, as a client that lost the processor
// between the two does on a busy machine.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace vantry::test {

class XRelay {
 public:
  // `server` is the display (":N") of a server listening on its local socket. display() is
  // empty when no display number was free.
  explicit XRelay(const std::string& server) : server_("/tmp/.X11-unix/X" + server.substr(1)) {
    // An abstract socket, which clients try first: nothing is left on disk, and a number a
    // server already uses cannot be bound.
    for (int n = 700; n < 800 && listener_ < 0; ++n) {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::memcpy(address.sun_path + 1, name.data(), name.size());
      const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
      if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
          ::listen(fd, 8) == 0) {
        listener_ = fd;
        display_ = ":" + std::to_string(n);
      } else if (fd >= 0) {
        ::close(fd);
      }
    }
    if (listener_ >= 0) thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
  }
  ~XRelay() {
    thread_ = {};  // stops and joins
    for (const Pair& p : pairs_) {
      ::close(p.client);
      ::close(p.server);
    }
    if (listener_ >= 0) ::close(listener_);
  }
  XRelay(const XRelay&) = delete;
  XRelay& operator=(const XRelay&) = delete;

  const std::string& display() const { return display_; }

  // While held, the server's bytes are kept; once let go, they are handed on.
  void hold(bool held) { held_ = held; }
  // Waits until more than `bytes` of the server's are kept back (false after 10 s).
  bool waitForKept(std::size_t bytes) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (kept_.load() <= bytes) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  struct Pair {
    int client = -1;
    int server = -1;
    std::vector<char> kept;  // from the server, not yet handed on
    bool ended = false;
  };

  int connectToServer() const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, server_.c_str(), sizeof address.sun_path - 1);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
      return fd;
    if (fd >= 0) ::close(fd);
    return -1;
  }

  static bool writeAll(int fd, const char* data, std::size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(fd, data, n);
      if (w <= 0) return false;
      data += w;
      n -= std::size_t(w);
    }
    return true;
  }

  void run(std::stop_token stop) {
    char buffer[65536];
    while (!stop.stop_requested()) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (const Pair& p : pairs_) {
        fds.push_back({p.client, POLLIN, 0});
        fds.push_back({p.server, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), 2) < 0) continue;
      if (fds[0].revents & POLLIN) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = client >= 0 ? connectToServer() : -1;
        if (server >= 0) {
          pairs_.push_back({client, server, {}});
        } else if (client >= 0) {
          ::close(client);
        }
        continue;  // the descriptors above no longer match the pairs
      }
      std::size_t kept = 0;
      for (std::size_t i = 0; i < pairs_.size(); ++i) {
        Pair& p = pairs_[i];
        if (fds[1 + 2 * i].revents & (POLLIN | POLLHUP)) {
          const ssize_t n = ::read(p.client, buffer, sizeof buffer);
          if (n > 0) writeAll(p.server, buffer, std::size_t(n));
          if (n <= 0) p.ended = true;
        }
        if (fds[2 + 2 * i].revents & (POLLIN | POLLHUP)) {
          const ssize_t n = ::read(p.server, buffer, sizeof buffer);
          if (n > 0) p.kept.insert(p.kept.end(), buffer, buffer + n);
          if (n <= 0) p.ended = true;
        }
        if (!held_ && !p.kept.empty()) {
          writeAll(p.client, p.kept.data(), p.kept.size());
          p.kept.clear();
        }
        kept += p.kept.size();
      }
      kept_ = kept;
      // A side that hung up ends its pair: the other side sees the connection close.
      std::erase_if(pairs_, [](const Pair& p) {
        if (!p.ended) return false;
        ::close(p.client);
        ::close(p.server);
        return true;
      });
    }
  }

  std::string server_;
  std::string display_;
  int listener_ = -1;
  std::vector<Pair> pairs_;  // the relay thread's
  std::atomic<bool> held_{false};
  std::atomic<std::size_t> kept_{0};
  std::jthread thread_;
};

}  // namespace vantry::test
