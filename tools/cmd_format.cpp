#include <charconv>
#include <iostream>

#include "command.h"
#include "localization/localization.h"
#include "localization/qt/language_option.h"

namespace {

constexpr const char* kUsage = "format [--language english|chinese] KEY NUMBER...";

int run(const vantry::tool::Args& given) {
  vantry::tool::Args args = given;
  std::string error;
  const auto language = vantry::takeLanguageOption(args, error);
  if (!language || args.empty()) {
    std::cerr << (error.empty() ? std::string("usage: vantry-tool ") + kUsage : error) << "\n";
    return 64;
  }
  std::vector<vantry::FormatArgument> numbers;
  for (auto it = args.begin() + 1; it != args.end(); ++it) {
    // from_chars ignores the process locale: "2.5" is always two and a half.
    double value = 0;
    const char* first = it->data();
    const char* last = first + it->size();
    if (!it->empty() && *first == '+') ++first;
    const auto parsed = std::from_chars(first, last, value);
    if (parsed.ec != std::errc() || parsed.ptr != last) {
      std::cerr << "not a number: \"" << *it << "\"\n";
      return 64;
    }
    numbers.emplace_back(value);
  }
  std::cout << vantry::Localizer::format(args.front(), numbers, *language) << "\n";
  return 0;
}

const vantry::tool::Command kCommand{"format", kUsage, run};

}  // namespace
