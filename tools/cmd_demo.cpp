// vantry-tool demo [--language english|chinese]: prints the demonstration project's
// document. The title follows the stored interface language unless one is given.
#include <iostream>

#include "command.h"
#include "localization/app_language.h"
#include "localization/qt/language_option.h"
#include "model/demo_project.h"
#include "model/document_json.h"

namespace {

int run(const vantry::tool::Args& given) {
  vantry::tool::Args args = given;
  std::string error;
  const auto language = vantry::takeLanguageOption(args, error);
  if (!language || !args.empty()) {
    std::cerr << (error.empty() ? "usage: vantry-tool demo [--language english|chinese]" : error)
              << "\n";
    return 64;
  }
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
