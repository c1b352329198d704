// Starts a private Xvfb that picks a free display number itself (tests running side by side
// never share a server) and stops it when this goes away.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace vantry::test {

class XvfbProcess {
 public:
  // One screen of the given size with RANDR and Composite; `extraArgs` go to Xvfb as they
  // are (for instance "-extension", "MIT-SHM"); `memoryLimit`, when not 0, is the bytes of
  // address space the server may use. display() is empty when it did not start.
  XvfbProcess(int width, int height, const std::vector<std::string>& extraArgs = {},
              std::size_t memoryLimit = 0) {
    // A server that lost a race with another for its display number is started again.
    for (int attempt = 0; attempt < 3 && display_.empty(); ++attempt)
      start(width, height, extraArgs, memoryLimit);
  }
  ~XvfbProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  XvfbProcess(const XvfbProcess&) = delete;
  XvfbProcess& operator=(const XvfbProcess&) = delete;

  pid_t pid() const { return pid_; }
  const std::string& display() const { return display_; }  // ":N"
  // What the server said before it gave up, when display() is empty.
  const std::string& failure() const { return failure_; }

 private:
  void start(int width, int height, const std::vector<std::string>& extraArgs,
             std::size_t memoryLimit) {
    int fds[2];
    if (pipe(fds) != 0) return;
    char log[] = "/tmp/vantry-xvfb-XXXXXX";
    const int logFd = mkstemp(log);
    if (logFd >= 0) unlink(log);
    const std::string geometry = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::fflush(nullptr);  // or the child repeats what is still buffered
    // Everything the child needs is made before the fork: past the address-space limit, a
    // sanitized child could not allocate.
    std::vector<std::string> args{
        "Xvfb",       "-displayfd", std::to_string(fds[1]), "-screen",   "0",         geometry,
        "+extension", "RANDR",      "+extension",           "Composite", "-nolisten", "tcp",
        "-noreset"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (auto& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      // Keep the test's pipes free: the server may outlive a crashed test.
      const int null = open("/dev/null", O_WRONLY);
      if (null < 0 || dup2(null, 1) < 0 || dup2(logFd >= 0 ? logFd : null, 2) < 0) _exit(127);
      if (memoryLimit > 0) {
        const rlimit limit{memoryLimit, memoryLimit};
        setrlimit(RLIMIT_AS, &limit);
      }
      execvp("Xvfb", argv.data());
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c = 0;
    ssize_t got = 0;
    while (pid > 0 && ((got = read(fds[0], &c, 1)) == 1 || (got < 0 && errno == EINTR))) {
      if (got != 1) continue;
      if (c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (pid > 0 && !number.empty()) {
      pid_ = pid;
      display_ = ":" + number;
    } else if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      failure_.clear();
      char buffer[4096];
      ssize_t n = 0;
      while (logFd >= 0 && (n = pread(logFd, buffer, sizeof buffer, off_t(failure_.size()))) > 0)
        failure_.append(buffer, std::size_t(n));
    }
    if (logFd >= 0) close(logFd);
  }

  pid_t pid_ = -1;
  std::string display_;
  std::string failure_;
};

}  // namespace vantry::test
