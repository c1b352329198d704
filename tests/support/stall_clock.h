// A clock for "does not block" limits that hold on a loaded machine.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace vantry::test {

// Runs while the thread that made it works or waits (on a lock, a future, a read), either of
// which stalls that thread, and stands while a loaded machine keeps the thread queued for a
// processor: the wall clock less the scheduler's queueing delay
// (/proc/thread-self/schedstat: nanoseconds on a processor, then queued).
class StallClock {
 public:
  StallClock() : fd_(::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)) {}
  ~StallClock() {
    if (fd_ >= 0) ::close(fd_);
  }
  StallClock(const StallClock&) = delete;
  StallClock& operator=(const StallClock&) = delete;

  bool available() const { return queued() >= 0; }
  double milliseconds() const {
    // Read again when the thread was queued between the two readings of the delay.
    for (;;) {
      const double before = queued();
      const double wall = std::chrono::duration<double, std::milli>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
      const double after = queued();
      if (before == after) return wall - after;
    }
  }

 private:
  // Milliseconds the thread has waited for a processor; -1 when the kernel does not say.
  double queued() const {
    char text[128] = {};
    unsigned long long cpu = 0, queued = 0;
    const ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
    if (n <= 0 || std::sscanf(text, "%llu %llu", &cpu, &queued) != 2) return -1;
    return double(queued) / 1e6;
  }
  int fd_;
};

}  // namespace vantry::test
