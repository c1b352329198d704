// vantry-tool commands register themselves here: one file per command, each with a
// `static const vantry::tool::Command kCommand{...}` at namespace scope.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vantry::tool {

using Args = std::vector<std::string>;

struct Command {
  // run() gets the arguments after the command's name and returns the exit code.
  Command(std::string name, std::string usage, std::function<int(const Args&)> run);
};

struct Registered {
  std::string name;
  std::string usage;
  std::function<int(const Args&)> run;
};

std::vector<Registered>& registry();

}  // namespace vantry::tool
