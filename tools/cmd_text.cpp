#include <iostream>

#include "command.h"
#include "localization/localization.h"
#include "localization/qt/language_option.h"

namespace {

int run(const vantry::tool::Args& given) {
  vantry::tool::Args args = given;
  std::string error;
  const auto language = vantry::takeLanguageOption(args, error);
  if (!language || args.empty()) {
    std::cerr << (error.empty()
                      ? "usage: vantry-tool text [--language english|chinese] KEY [ARG...]"
                      : error)
              << "\n";
    return 64;
  }
  const std::vector<std::string> arguments(args.begin() + 1, args.end());
  std::cout << vantry::Localizer::text(args.front(), arguments, *language) << "\n";
  return 0;
}

const vantry::tool::Command kCommand{"text", "text [--language english|chinese] KEY [ARG...]", run};

}  // namespace
