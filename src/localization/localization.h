// localization/: every text a person reads, in Chinese and English: the catalogue, L, LF
// and LM, the language in use, and the one form of a message that names a file
// (user_message.h). Plain C++; qt/ holds the Qt side.
//
// Every user-facing text is written in Chinese where it is used; that text is its key in
// the built-in catalogue. L fills numbered placeholders ("{0}", "{1}"), LF fills printf-style
// number formats, LM translates a message composed at run time from known pieces.
// All three read currentLanguage() and may be called from any thread.
#pragma once

#include <array>
#include <charconv>
#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <variant>
#include <vector>

#include "localization/app_language.h"

namespace vantry {

namespace detail {
template <typename T>
inline constexpr bool kAlwaysFalse = false;
std::string describeDouble(double value);
}  // namespace detail

// How an argument of L becomes text: texts unchanged, integers as decimal digits.
// Other layers add their own types by defining TextArgument for them (the Qt glue does
// for QString).
template <typename T>
struct TextArgument {
  static std::string text(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
      return value ? "true" : "false";
    } else if constexpr (std::is_same_v<T, char>) {
      return std::string(1, value);
    } else if constexpr (std::is_integral_v<T>) {
      std::array<char, 24> buffer{};
      auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
      return std::string(buffer.data(), result.ptr);
    } else if constexpr (std::is_floating_point_v<T>) {
      return detail::describeDouble(static_cast<double>(value));
    } else if constexpr (std::is_enum_v<T>) {
      return TextArgument<std::underlying_type_t<T>>::text(
          static_cast<std::underlying_type_t<T>>(value));
    } else if constexpr (std::is_pointer_v<T> && std::is_convertible_v<T, std::string_view>) {
      return value ? std::string(value) : std::string();
    } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
      return std::string(std::string_view(value));
    } else {
      static_assert(detail::kAlwaysFalse<T>, "L: no text form for this argument type");
    }
  }
};

// One argument of LF. Numbers keep their kind so that each conversion can use them
// sensibly even when the format and the argument disagree.
class FormatArgument {
 public:
  using Value = std::variant<std::int64_t, std::uint64_t, double, std::string>;

  template <std::integral T>
  FormatArgument(T value) {  // NOLINT: implicit on purpose
    if constexpr (std::is_signed_v<T> || std::is_same_v<T, bool>) {
      value_ = static_cast<std::int64_t>(value);
    } else {
      value_ = static_cast<std::uint64_t>(value);
    }
  }
  template <std::floating_point T>
  FormatArgument(T value) : value_(static_cast<double>(value)) {}              // NOLINT
  FormatArgument(std::string_view text) : value_(std::string(text)) {}         // NOLINT
  FormatArgument(const std::string& text) : value_(text) {}                    // NOLINT
  FormatArgument(const char* text) : value_(std::string(text ? text : "")) {}  // NOLINT

  const Value& value() const { return value_; }

 private:
  Value value_;
};

namespace Localizer {

struct CatalogRow {
  std::string_view chinese;
  std::string_view english;
};

// The constant table in its own order.
std::span<const CatalogRow> rows();
// Further rows for texts of this platform (display server, sound server, devices) that the
// table above has no key for. Looked up exactly like the others.
std::span<const CatalogRow> platformRows();

// Chinese key -> English text. Built once; never changed afterwards.
using Catalog = std::unordered_map<std::string_view, std::string_view>;
const Catalog& catalog();

struct MessageVariant {
  std::string_view fragment;  // a key or its English text
  std::string_view key;
  std::size_t length = 0;  // in grapheme clusters
};
// Longest fragment first; equal lengths in code-point order. Built once, on first use.
const std::vector<MessageVariant>& messageVariants();

std::string text(std::string_view key, std::span<const std::string> arguments,
                 AppLanguage language);
std::string format(std::string_view key, std::span<const FormatArgument> arguments,
                   AppLanguage language);
std::string message(std::string_view message, AppLanguage language);

// The building blocks, exposed for the tools and tests.
std::string renderPlaceholders(std::string_view templateText,
                               std::span<const std::string> arguments);
std::string formatPrintf(std::string_view format, std::span<const FormatArgument> arguments);

}  // namespace Localizer

template <typename... Args>
std::string L(std::string_view key, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return Localizer::text(key, {}, currentLanguage());
  } else {
    const std::array<std::string, sizeof...(Args)> texts{
        TextArgument<std::decay_t<const Args>>::text(args)...};
    return Localizer::text(key, texts, currentLanguage());
  }
}

template <typename... Args>
std::string LF(std::string_view key, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return Localizer::format(key, {}, currentLanguage());
  } else {
    const std::array<FormatArgument, sizeof...(Args)> values{FormatArgument(args)...};
    return Localizer::format(key, values, currentLanguage());
  }
}

inline std::string LM(std::string_view message) {
  return Localizer::message(message, currentLanguage());
}

}  // namespace vantry
