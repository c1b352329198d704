// Starts a private Xvfb that picks a free display number itself (tests running side by side
// never share a server) and stops it when this goes away.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string geometry = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::fflush(nullptr);  // or the child repeats what is still buffered
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      // Keep the test's pipes free: the server may outlive a crashed test.
      if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
        _exit(127);
      if (memoryLimit > 0) {
        const rlimit limit{memoryLimit, memoryLimit};
        setrlimit(RLIMIT_AS, &limit);
      }
      std::vector<std::string> args{
          "Xvfb",       "-displayfd", std::to_string(fds[1]), "-screen",   "0",         geometry,
          "+extension", "RANDR",      "+extension",           "Composite", "-nolisten", "tcp",
          "-noreset"};
      args.insert(args.end(), extraArgs.begin(), extraArgs.end());
      std::vector<char*> argv;
      for (auto& arg : args)
        argv.push_back(arg.data());
      argv.push_back(nullptr);
      execvp("Xvfb", argv.data());
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c = 0;
    while (pid > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
      number += c;
    close(fds[0]);
    if (pid <= 0) return;
    pid_ = pid;
    if (!number.empty()) display_ = ":" + number;
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

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace vantry::test
