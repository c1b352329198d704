#include <algorithm>
#include <cstdio>
#include <iostream>

#include "command.h"
#include "localization/localization.h"
#include "localization/qt/language_settings.h"
#include "platform/memory_release.h"
#include "studio/studio.h"

namespace vantry::tool {

std::vector<Registered>& registry() {
  static std::vector<Registered> commands;
  return commands;
}

Command::Command(std::string name, std::string usage, std::function<int(const Args&)> run) {
  registry().push_back({std::move(name), std::move(usage), std::move(run)});
}

}  // namespace vantry::tool

int main(int argc, char** argv) {
  using namespace vantry::tool;
  vantry::platform::configureAllocator();
  auto& commands = registry();
  std::sort(commands.begin(), commands.end(),
            [](const Registered& a, const Registered& b) { return a.name < b.name; });
  if (argc < 2) {
    std::cerr << "usage: vantry-tool COMMAND [ARGS...]\n";
    for (const auto& c : commands)
      std::cerr << "  vantry-tool " << c.usage << "\n";
    return 64;
  }
  // Messages follow the stored interface language; --language options override it.
  vantry::setCurrentLanguage(vantry::AppLanguage::load());
  const std::string name = argv[1];
  for (const auto& c : commands) {
    if (c.name == name) return vantry::Studio::exitStatus(c.run(Args(argv + 2, argv + argc)));
  }
  std::cerr << "vantry-tool: unknown command \"" << name << "\"\n";
  return 64;
}
