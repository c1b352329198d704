// The "--language english|chinese" option of the command-line tools.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "localization/app_language.h"

namespace vantry {

// Removes a leading "--language NAME" (or "--language=NAME") from `args` and returns that
// language; without the option, the stored setting decides. An unknown name or a missing
// value gives nullopt and a message in `error`.
std::optional<AppLanguage> takeLanguageOption(std::vector<std::string>& args, std::string& error);

}  // namespace vantry
