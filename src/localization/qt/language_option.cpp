#include "localization/qt/language_option.h"

#include <QCoreApplication>
#include <memory>

namespace vantry {

std::optional<AppLanguage> takeLanguageOption(std::vector<std::string>& args, std::string& error) {
  static constexpr std::string_view kOption = "--language";
  if (!args.empty() && args.front().starts_with(kOption)) {
    std::string name;
    std::size_t used = 0;
    if (args.front() == kOption) {
      if (args.size() < 2) {
        error = "--language needs english or chinese";
        return std::nullopt;
      }
      name = args[1];
      used = 2;
    } else if (args.front().size() > kOption.size() && args.front()[kOption.size()] == '=') {
      name = args.front().substr(kOption.size() + 1);
      used = 1;
    }
    if (used > 0) {
      const std::optional<AppLanguage> language = AppLanguage::fromRawValue(name);
      if (!language) {
        error = "unknown language \"" + name + "\" (english or chinese)";
        return std::nullopt;
      }
      args.erase(args.begin(), args.begin() + static_cast<std::ptrdiff_t>(used));
      return language;
    }
  }
  // The stored setting, read the way the application reads it.
  std::unique_ptr<QCoreApplication> app;
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char name[] = "vantry-tool";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QCoreApplication>(argc, argv);
  }
  QCoreApplication::setOrganizationName(QStringLiteral("Vantry"));
  QCoreApplication::setApplicationName(QStringLiteral("Vantry"));
  return AppLanguage::load();
}

}  // namespace vantry
