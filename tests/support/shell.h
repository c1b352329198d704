// Runs a shell command line and collects what it prints, for tests of vantry-tool.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace vantry::test {

struct CommandRun {
  int status = -1;  // the exit status; -1 when it did not exit by itself (a crash, a signal)
  std::string out;  // standard output
};

inline CommandRun runShell(const std::string& command) {
  CommandRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
    run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace vantry::test
