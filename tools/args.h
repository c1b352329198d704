// Argument checks shared by the vantry-tool commands: a number is the whole argument or it
// is refused, and a misuse prints the command's usage and exits with 64.
#pragma once

#include <charconv>
#include <cmath>
#include <iostream>
#include <optional>
#include <string_view>

namespace vantry::tool {

// The whole of `text` as a decimal number ("1.5", "-2", "1e3"). "nan" and "inf" pass only
// with `finite` false, for commands that hand them on to be refused where they are used.
inline std::optional<double> parseNumber(std::string_view text, bool finite = true) {
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || stop != end) return std::nullopt;
  if (finite && !std::isfinite(value)) return std::nullopt;
  return value;
}

// The whole of `text` as a whole number of at most `max`; with `hex`, "0x..." is read as
// hexadecimal (X11 prints window ids that way).
inline std::optional<unsigned long long> parseWhole(std::string_view text,
                                                    unsigned long long max = ~0ULL,
                                                    bool hex = false) {
  int base = 10;
  if (hex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  unsigned long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || ec != std::errc() || stop != end || value > max) return std::nullopt;
  return value;
}

// Prints "usage: vantry-tool USAGE" and gives the exit status of a misuse.
inline int usageError(std::string_view usage) {
  std::cerr << "usage: vantry-tool " << usage << "\n";
  return 64;
}

}  // namespace vantry::tool
