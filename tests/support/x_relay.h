// A display that relays every connection to a real X server, handing on what the server sends
// in whole messages. It can
// - hang up on every client, and take no more, once it has handed on a given number of
//   answers (the connection setup's, replies and errors, counted over all connections): the
//   server lost at an exact step of whatever its clients were doing;
// - hold back what the server sends and then hand it on in one piece: a client reads a reply
//   together with events the server sent after it, as a client that lost the processor
//   between the two does on a busy machine.
// It runs in a process of its own, so that the test may fork other programs meanwhile: a
// child forked beside a busy relay thread could inherit a lock that thread held.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vantry::test {

class XRelay {
 public:
  // `server` is the real server's display (":N"); a negative `cutAfter` never cuts.
  explicit XRelay(const std::string& server, long cutAfter = -1)
      : server_("/tmp/.X11-unix/X" + server.substr(1)), cutAfter_(cutAfter) {
    // An abstract socket, which Xlib tries first for a local display: nothing is left on
    // disk, and a number a server already uses cannot be bound.
    for (int n = 5000 + getpid() % 2000, tries = 0; tries < 500 && listener_ < 0; ++n, ++tries) {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::memcpy(address.sun_path + 1, name.data(), name.size());
      const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
      if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
          listen(fd, 16) == 0) {
        listener_ = fd;
        display_ = ":" + std::to_string(n);
      } else if (fd >= 0) {
        close(fd);
      }
    }
    void* shared =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared != MAP_FAILED) shared_ = new (shared) Shared;
    if (listener_ < 0 || !shared_ || pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
      release();
      throw std::runtime_error("could not make the relay's display");
    }
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
    if (pid_ < 0) {
      release();
      throw std::runtime_error("could not start the relay");
    }
  }
  ~XRelay() { release(); }
  XRelay(const XRelay&) = delete;
  XRelay& operator=(const XRelay&) = delete;

  const std::string& display() const { return display_; }
  // Answers handed on so far, over all connections.
  long answers() const { return shared_->answers.load(); }

  // While held, the server's bytes are kept; once let go, they are handed on together.
  void hold(bool held) {
    shared_->held = held;
    const char wake = 0;
    (void)!write(wake_[1], &wake, 1);
  }
  // Waits until more than `bytes` of the server's are kept back (false after 10 s).
  bool waitForKept(std::size_t bytes) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (shared_->kept.load() <= bytes) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

 private:
  // Shared by the test's process and the relay's.
  struct Shared {
    std::atomic<long> answers{0};
    std::atomic<bool> held{false};
    std::atomic<std::size_t> kept{0};
  };
  struct Link {
    int client = -1, server = -1;
    bool bigEndian = false, orderKnown = false, setupDone = false;
    std::vector<std::uint8_t> fromServer;  // not handed on yet
  };

  void release() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    for (int* fd : {&listener_, &wake_[0], &wake_[1]}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
    if (shared_) munmap(shared_, sizeof(Shared));
    shared_ = nullptr;
  }

  int connectToServer() const {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, server_.c_str(), sizeof address.sun_path - 1);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
      return fd;
    if (fd >= 0) close(fd);
    return -1;
  }

  static std::uint32_t number(const Link& l, const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
      v |= std::uint32_t(p[l.bigEndian ? bytes - 1 - i : i]) << (8 * i);
    return v;
  }

  // The length of the whole message at `at` in `l.fromServer`, or 0 while incomplete;
  // `answer` tells whether it answers a request. `setup` tells whether it is the first.
  static std::size_t messageAt(const Link& l, std::size_t at, bool setup, bool& answer) {
    const std::size_t have = l.fromServer.size() - at;
    const std::uint8_t* b = l.fromServer.data() + at;
    std::size_t size = 0;
    if (setup) {
      answer = true;
      size = have < 8 ? 0 : 8 + 4 * std::size_t(number(l, b + 6, 2));
    } else if (have >= 32) {
      const std::uint8_t type = b[0] & 0x7f;
      answer = type == 0 || type == 1;
      // Replies and generic events carry their extra length.
      size = type == 1 || type == 35 ? 32 + 4 * std::size_t(number(l, b + 4, 4)) : 32;
    }
    return size <= have ? size : 0;
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

  // Hands on, in one piece, the whole messages the server sent up to the cut, unless held;
  // false once the cut has come.
  bool passOn(Link& l) {
    if (shared_->held.load()) return true;
    std::size_t size = 0;
    long given = shared_->answers.load();
    bool setup = !l.setupDone, cut = false;
    for (;;) {
      bool answer = false;
      const std::size_t next = messageAt(l, size, setup, answer);
      if (next == 0) break;
      cut = answer && cutAfter_ >= 0 && given >= cutAfter_;
      if (cut) break;
      size += next;
      setup = false;
      if (answer) ++given;
    }
    if (size > 0) {
      if (sendAll(l.client, l.fromServer.data(), size)) shared_->answers = given;
      l.fromServer.erase(l.fromServer.begin(), l.fromServer.begin() + std::ptrdiff_t(size));
      l.setupDone = true;
    }
    return !cut;
  }

  static void drop(Link& l) {
    close(l.client);
    close(l.server);
  }

  void run() {
    close(wake_[1]);
    std::vector<Link> links;
    std::uint8_t buffer[65536];
    while (listener_ >= 0) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      for (const Link& l : links) {
        fds.push_back({l.client, POLLIN, 0});
        fds.push_back({l.server, POLLIN, 0});
      }
      if (poll(fds.data(), nfds_t(fds.size()), -1) < 0) continue;
      if (fds[1].revents)
        while (read(wake_[0], buffer, sizeof buffer) > 0) {
        }
      std::size_t kept = 0;
      // Back to front, so that a dropped link leaves the places of those before it.
      for (std::size_t k = links.size(); k-- > 0;) {
        Link& l = links[k];
        bool gone = false;
        if (fds[2 + 2 * k].revents) {
          const ssize_t n = recv(l.client, buffer, sizeof buffer, 0);
          if (n > 0 && !l.orderKnown) {
            l.bigEndian = buffer[0] == 'B';
            l.orderKnown = true;
          }
          gone = n <= 0 || !sendAll(l.server, buffer, std::size_t(n));
        }
        if (!gone && fds[3 + 2 * k].revents) {
          const ssize_t n = recv(l.server, buffer, sizeof buffer, 0);
          gone = n <= 0;
          if (n > 0) l.fromServer.insert(l.fromServer.end(), buffer, buffer + n);
        }
        if (!gone && !passOn(l)) {
          // The server is gone: every client hung up on, and no one else let in.
          for (Link& each : links)
            drop(each);
          links.clear();
          close(listener_);
          listener_ = -1;
          break;
        }
        if (gone) {
          drop(l);
          links.erase(links.begin() + std::ptrdiff_t(k));
        } else {
          kept += l.fromServer.size();
        }
      }
      shared_->kept = kept;
      if (listener_ >= 0 && fds[0].revents & POLLIN) {
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = client >= 0 ? connectToServer() : -1;
        if (server >= 0) {
          Link l;
          l.client = client;
          l.server = server;
          links.push_back(std::move(l));
        } else if (client >= 0) {
          close(client);
        }
      }
    }
    // Cut: nothing more to do until the test is done with it.
    for (;;)
      pause();
  }

  std::string server_;
  long cutAfter_;
  std::string display_;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  Shared* shared_ = nullptr;
  pid_t pid_ = -1;
};

}  // namespace vantry::test
