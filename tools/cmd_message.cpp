#include <iostream>

#include "command.h"
#include "localization/localization.h"
#include "localization/qt/language_option.h"

namespace {

int run(const vantry::tool::Args& given) {
  vantry::tool::Args args = given;
  std::string error;
  const auto language = vantry::takeLanguageOption(args, error);
  if (!language || args.size() != 1) {
    std::cerr << (error.empty() ? "usage: vantry-tool message [--language english|chinese] TEXT"
                                : error)
              << "\n";
    return 64;
  }
  std::cout << vantry::Localizer::message(args.front(), *language) << "\n";
  return 0;
}

const vantry::tool::Command kCommand{"message", "message [--language english|chinese] TEXT", run};

}  // namespace
