// A display that passes every connection on to a real X server and, once it has passed on a
// given number of answers (the connection setup's, replies and errors, counted over all
// connections), hangs up on every client and takes no more: the server lost at an exact
// step of whatever its clients were doing. It runs in a process of its own, so that the
// test may start other programs meanwhile (a child forked beside a busy thread could
// inherit a lock that thread held).
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantry::test {

class CuttingXProxy {
 public:
  // `upstream` is the real server's display (":N"); a negative `cutAfter` never cuts.
  CuttingXProxy(const std::string& upstream, long cutAfter)
      : upstream_(upstream), cutAfter_(cutAfter) {
    // An abstract socket, where Xlib looks first for a local display: nothing on disk.
    for (int n = 5000 + getpid() % 2000, tries = 0; tries < 500 && listener_ < 0; ++n, ++tries) {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::memcpy(addr.sun_path + 1, name.data(), name.size());
      const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
      if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
          listen(fd, 16) == 0) {
        listener_ = fd;
        display_ = ":" + std::to_string(n);
      } else if (fd >= 0) {
        close(fd);
      }
    }
    void* shared =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (listener_ < 0 || shared == MAP_FAILED)
      throw std::runtime_error("could not make the proxy's display");
    shared_ = new (shared) Shared;
    std::fflush(nullptr);  // or the child repeats what is still buffered
    const pid_t test = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      // Gone with the test, however it ends.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != test) _exit(0);
      run();
      _exit(0);
    }
    close(listener_);
    listener_ = -1;
    if (pid_ < 0) throw std::runtime_error("could not start the proxy");
  }
  ~CuttingXProxy() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    munmap(shared_, sizeof(Shared));
  }
  CuttingXProxy(const CuttingXProxy&) = delete;
  CuttingXProxy& operator=(const CuttingXProxy&) = delete;

  const std::string& display() const { return display_; }
  long answers() const { return shared_->answers.load(); }
  bool cut() const { return shared_->cut.load(); }

 private:
  struct Shared {
    std::atomic<long> answers{0};
    std::atomic<bool> cut{false};
  };
  struct Link {
    int client = -1, server = -1;
    bool bigEndian = false, orderKnown = false, setupDone = false;
    std::vector<std::uint8_t> fromServer;  // not passed on yet: an incomplete message
  };

  int connectUpstream() const {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = "/tmp/.X11-unix/X" + upstream_.substr(1);
    std::memcpy(addr.sun_path, path.data(), path.size());
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
  }

  static std::uint32_t number(const Link& l, const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
      v |= std::uint32_t(p[l.bigEndian ? bytes - 1 - i : i]) << (8 * i);
    return v;
  }

  // The length of the whole message at the front of `l.fromServer`, or 0 while incomplete;
  // `answer` tells whether it answers a request.
  static std::size_t nextMessage(const Link& l, bool& answer) {
    const auto& b = l.fromServer;
    if (!l.setupDone) {
      answer = true;
      return b.size() < 8 ? 0 : 8 + 4 * std::size_t(number(l, &b[6], 2));
    }
    if (b.size() < 32) return 0;
    const std::uint8_t type = b[0] & 0x7f;
    answer = type == 0 || type == 1;
    // Replies and generic events carry their extra length.
    return type == 1 || type == 35 ? 32 + 4 * std::size_t(number(l, &b[4], 4)) : 32;
  }

  static bool sendAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
      if (w <= 0) return false;
      p += w;
      n -= std::size_t(w);
    }
    return true;
  }

  // Passes on every whole message it may; false once the cut has come.
  bool passOn(Link& l) {
    for (;;) {
      bool answer = false;
      const std::size_t size = nextMessage(l, answer);
      if (size == 0 || l.fromServer.size() < size) return true;
      if (answer && cutAfter_ >= 0 && shared_->answers.load() >= cutAfter_) return false;
      if (!sendAll(l.client, l.fromServer.data(), size)) return true;
      l.fromServer.erase(l.fromServer.begin(), l.fromServer.begin() + std::ptrdiff_t(size));
      l.setupDone = true;
      if (answer) ++shared_->answers;
    }
  }

  // The server is gone: every client hung up on, and no one else let in.
  void hangUp() {
    shared_->cut = true;
    for (Link& l : links_) {
      close(l.client);
      close(l.server);
    }
    links_.clear();
    close(listener_);
    listener_ = -1;
  }

  void run() {
    std::uint8_t buffer[65536];
    while (listener_ >= 0) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (const Link& l : links_) {
        fds.push_back({l.client, POLLIN, 0});
        fds.push_back({l.server, POLLIN, 0});
      }
      if (poll(fds.data(), nfds_t(fds.size()), -1) < 0) continue;
      // Back to front, so that a dropped link leaves the places of those before it.
      for (std::size_t k = links_.size(); k-- > 0 && listener_ >= 0;) {
        Link& l = links_[k];
        bool gone = false;
        if (fds[1 + 2 * k].revents) {
          const ssize_t n = recv(l.client, buffer, sizeof buffer, 0);
          if (n > 0 && !l.orderKnown) {
            l.bigEndian = buffer[0] == 'B';
            l.orderKnown = true;
          }
          gone = n <= 0 || !sendAll(l.server, buffer, std::size_t(n));
        }
        if (!gone && fds[2 + 2 * k].revents) {
          const ssize_t n = recv(l.server, buffer, sizeof buffer, 0);
          gone = n <= 0;
          if (n > 0) {
            l.fromServer.insert(l.fromServer.end(), buffer, buffer + n);
            if (!passOn(l)) hangUp();
          }
        }
        if (gone) {
          close(l.client);
          close(l.server);
          links_.erase(links_.begin() + std::ptrdiff_t(k));
        }
      }
      if (listener_ >= 0 && fds[0].revents & POLLIN) {
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = client >= 0 ? connectUpstream() : -1;
        if (server >= 0) {
          Link l;
          l.client = client;
          l.server = server;
          links_.push_back(std::move(l));
        } else if (client >= 0) {
          close(client);
        }
      }
    }
    // Cut: nothing more to do until the test is done with it.
    for (;;)
      pause();
  }

  std::string upstream_;
  long cutAfter_;
  int listener_ = -1;
  std::string display_;
  Shared* shared_ = nullptr;
  pid_t pid_ = -1;
  std::vector<Link> links_;
};

}  // namespace vantry::test
