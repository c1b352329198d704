// CPU time spent so far, for benchmarks that report cost per second or per frame.
#pragma once

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace vantry::bench {

// User plus system seconds of this process (RUSAGE_SELF) or its waited-for children.
inline double cpuSeconds(int who = RUSAGE_SELF) {
  rusage u{};
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec) + u.ru_utime.tv_usec * 1e-6 + double(u.ru_stime.tv_sec) +
         u.ru_stime.tv_usec * 1e-6;
}

// Milliseconds of CPU time of the calling thread: what a main-thread step costs, which a
// loaded machine does not inflate.
inline double threadMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

// The same for another running process, such as the X server a benchmark talks to.
inline double processCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 1; i <= 15 && in >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

}  // namespace vantry::bench
