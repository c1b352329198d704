// The interface language: a value type, plus the process-wide current choice that every
// lookup reads. The current choice is an atomic so that capture and export threads can
// translate while the main thread changes it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

class QSettings;

namespace vantry {

class AppLanguage {
 public:
  enum Value : std::uint8_t { english, chinese };

  constexpr AppLanguage() = default;
  constexpr AppLanguage(Value value) : value_(value) {}  // NOLINT: implicit like an enum
  constexpr operator Value() const { return value_; }    // NOLINT

  static constexpr std::string_view preferenceKey = "interfaceLanguage";
  static constexpr std::array<Value, 2> allCases{english, chinese};

  // "english" / "chinese"; what is stored under preferenceKey.
  constexpr std::string_view rawValue() const {
    return value_ == chinese ? std::string_view("chinese") : std::string_view("english");
  }
  // Any other text gives no value.
  static constexpr std::optional<AppLanguage> fromRawValue(std::string_view raw) {
    if (raw == "english") return AppLanguage(english);
    if (raw == "chinese") return AppLanguage(chinese);
    return std::nullopt;
  }
  // Shown as written in both interface languages, never looked up.
  constexpr std::string_view label() const {
    return value_ == chinese ? std::string_view("中文") : std::string_view("English");
  }
  constexpr std::string_view localeIdentifier() const {
    return value_ == chinese ? std::string_view("zh_Hans") : std::string_view("en");
  }

  // The rule for a stored value: exactly "chinese" is Chinese, everything else (nothing
  // stored, another text, a value that is not text) is English.
  static constexpr AppLanguage fromStored(std::optional<std::string_view> stored) {
    return stored && *stored == "chinese" ? AppLanguage(chinese) : AppLanguage(english);
  }

  // QSettings glue; defined in vantry_localization_qt. Without an argument the
  // application's own settings (organisation and application "Vantry") are used.
  static AppLanguage load(const QSettings& settings);
  static AppLanguage load();
  void save(QSettings& settings) const;

 private:
  Value value_ = english;
};

// The language every L / LF / LM call uses. Safe to call from any thread.
AppLanguage currentLanguage() noexcept;
// Only LanguageSettings (and tests) set it; the stored setting is loaded at start-up.
void setCurrentLanguage(AppLanguage language) noexcept;

}  // namespace vantry
