// vantry-tool demo [--language english|chinese]: prints the demonstration project's
// document. The title follows the stored interface language unless one is given.
#include <iostream>
#include <optional>

#include "command.h"
#include "localization/app_language.h"
#include "model/demo_project.h"
#include "model/document_json.h"

namespace {

int run(const vantry::tool::Args& args) {
  std::optional<vantry::AppLanguage> language;
  if (args.size() == 2 && args[0] == "--language") {
    language = vantry::AppLanguage::fromRawValue(args[1]);
    if (!language) {
      std::cerr << "vantry-tool demo: language must be english or chinese\n";
      return 64;
    }
  } else if (!args.empty()) {
    std::cerr << "usage: vantry-tool demo [--language english|chinese]\n";
    return 64;
  }
  if (!language) language = vantry::AppLanguage::load();
  vantry::setCurrentLanguage(*language);
  try {
    std::cout << vantry::encodeClip(vantry::makeDemoClip()) << "\n";
  } catch (const vantry::DocumentError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}

const vantry::tool::Command kCommand{"demo", "demo [--language english|chinese]", run};

}  // namespace
