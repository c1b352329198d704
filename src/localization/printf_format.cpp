// printf-style formatting for LF, written out so that neither the process locale (Qt calls
// setlocale) nor a format/argument mismatch can change or break the result.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <system_error>

#include "localization/localization.h"

namespace vantry::Localizer {

namespace {

struct Directive {
  bool left = false;       // '-'
  bool plus = false;       // '+'
  bool space = false;      // ' '
  bool alternate = false;  // '#'
  bool zero = false;       // '0'
  bool group = false;      // '\''
  int width = 0;
  std::optional<int> precision;
  int lengthBits = 0;  // 0: none, 8: hh, 16: h, 64: l, ll, q, j, z, t
  char conversion = 0;
};

// Precision and width above this are treated as a malformed conversion.
constexpr int kMaxField = 4096;

std::size_t codePointCount(std::string_view text) {
  std::size_t count = 0;
  for (char c : text)
    count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::string_view truncateCodePoints(std::string_view text, std::size_t limit) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (count == limit) return text.substr(0, i);
      ++count;
    }
  }
  return text;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Pads `body` (already carrying its sign and prefix) to the field width. Zero padding goes
// between the first `signLength` bytes and the digits.
void appendPadded(std::string& out, const Directive& directive, std::string_view body,
                  std::size_t signLength, bool zeroAllowed) {
  const std::size_t shown = codePointCount(body);
  const std::size_t width = static_cast<std::size_t>(directive.width);
  if (shown >= width) {
    out += body;
    return;
  }
  const std::size_t fill = width - shown;
  if (directive.left) {
    out += body;
    out.append(fill, ' ');
  } else if (directive.zero && zeroAllowed) {
    out += body.substr(0, signLength);
    out.append(fill, '0');
    out += body.substr(signLength);
  } else {
    out.append(fill, ' ');
    out += body;
  }
}

std::string groupThousands(std::string_view digits) {
  std::string out;
  const std::size_t n = digits.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string signFor(bool negative, const Directive& directive) {
  if (negative) return "-";
  if (directive.plus) return "+";
  if (directive.space) return " ";
  return {};
}

void appendSigned(std::string& out, const Directive& directive, std::int64_t value,
                  bool negativeZero) {
  const bool negative = value < 0 || negativeZero;
  const std::uint64_t magnitude =
      value < 0 ? static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(value)
                : static_cast<std::uint64_t>(value);
  std::array<char, 24> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude);
  std::string digits(buffer.data(), result.ptr);
  if (directive.precision) {
    if (*directive.precision == 0 && magnitude == 0) digits.clear();
    if (digits.size() < static_cast<std::size_t>(*directive.precision)) {
      digits.insert(0, static_cast<std::size_t>(*directive.precision) - digits.size(), '0');
    }
  }
  if (directive.group) digits = groupThousands(digits);
  const std::string sign = signFor(negative, directive);
  appendPadded(out, directive, sign + digits, sign.size(), !directive.precision);
}

void appendUnsigned(std::string& out, const Directive& directive, std::uint64_t value) {
  int base = 10;
  if (directive.conversion == 'o') base = 8;
  if (directive.conversion == 'x' || directive.conversion == 'X') base = 16;
  std::array<char, 72> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, base);
  std::string digits(buffer.data(), result.ptr);
  if (directive.conversion == 'X')
    std::transform(digits.begin(), digits.end(), digits.begin(), ::toupper);
  if (directive.precision) {
    if (*directive.precision == 0 && value == 0) digits.clear();
    if (digits.size() < static_cast<std::size_t>(*directive.precision)) {
      digits.insert(0, static_cast<std::size_t>(*directive.precision) - digits.size(), '0');
    }
  }
  std::string prefix;
  if (directive.alternate) {
    if (base == 8 && (digits.empty() || digits.front() != '0')) digits.insert(0, "0");
    if (base == 16 && value != 0) prefix = directive.conversion == 'X' ? "0X" : "0x";
  }
  if (directive.group && base == 10) digits = groupThousands(digits);
  appendPadded(out, directive, prefix + digits, prefix.size(), !directive.precision);
}

void appendFloating(std::string& out, const Directive& directive, double value) {
  const bool upper = directive.conversion == 'F' || directive.conversion == 'E' ||
                     directive.conversion == 'G' || directive.conversion == 'A';
  const bool negative = std::signbit(value);
  const double magnitude = std::fabs(value);
  std::string body;
  bool finite = std::isfinite(value);
  if (!finite) {
    body = std::isnan(value) ? "nan" : "inf";
  } else {
    const char lower =
        static_cast<char>(std::tolower(static_cast<unsigned char>(directive.conversion)));
    std::chars_format style = std::chars_format::fixed;
    if (lower == 'e') style = std::chars_format::scientific;
    if (lower == 'g') style = std::chars_format::general;
    if (lower == 'a') style = std::chars_format::hex;
    int precision = directive.precision.value_or(6);
    if (lower == 'g' && precision == 0) precision = 1;
    std::string buffer(static_cast<std::size_t>(precision) + 400, '\0');
    std::to_chars_result result{};
    if (lower == 'a' && !directive.precision) {
      result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude, style);
    } else {
      result =
          std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude, style, precision);
    }
    if (result.ec != std::errc()) {
      body = "?";
    } else {
      body.assign(buffer.data(), result.ptr);
    }
    if (lower == 'a') body.insert(0, "0x");
    if (directive.alternate && body.find('.') == std::string::npos && lower != 'g') {
      const std::size_t exponent = body.find_first_of("ep");
      body.insert(exponent == std::string::npos ? body.size() : exponent, ".");
    }
    if (directive.group && (lower == 'f' || lower == 'g') &&
        body.find_first_of("ep") == std::string::npos) {
      const std::size_t point = std::min(body.find('.'), body.size());
      body = groupThousands(body.substr(0, point)) + body.substr(point);
    }
  }
  if (upper) std::transform(body.begin(), body.end(), body.begin(), ::toupper);
  const std::string sign = signFor(negative, directive);
  std::size_t signLength = sign.size();
  if (finite && (directive.conversion == 'a' || directive.conversion == 'A')) signLength += 2;
  appendPadded(out, directive, sign + body, signLength, finite);
}

std::int64_t toSigned(const FormatArgument::Value& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
  if (const auto* u = std::get_if<std::uint64_t>(&value)) return static_cast<std::int64_t>(*u);
  const double d = std::get<double>(value);
  if (std::isnan(d)) return 0;
  if (d >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
  if (d <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);
}

std::uint64_t toUnsigned(const FormatArgument::Value& value, int lengthBits) {
  if (const auto* u = std::get_if<std::uint64_t>(&value)) return *u;
  const std::int64_t s = toSigned(value);
  std::uint64_t bits = static_cast<std::uint64_t>(s);
  // A negative value shows its two's complement in the width its length modifier names,
  // as printf does; without one, as a 32-bit int when it fits.
  int width = lengthBits;
  if (width == 0) width = s >= std::numeric_limits<std::int32_t>::min() ? 32 : 64;
  if (s < 0 && width < 64) bits &= (std::uint64_t{1} << width) - 1;
  return bits;
}

double toDouble(const FormatArgument::Value& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
  if (const auto* u = std::get_if<std::uint64_t>(&value)) return static_cast<double>(*u);
  return std::get<double>(value);
}

std::string describe(const FormatArgument::Value& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  if (const auto* i = std::get_if<std::int64_t>(&value))
    return TextArgument<std::int64_t>::text(*i);
  if (const auto* u = std::get_if<std::uint64_t>(&value))
    return TextArgument<std::uint64_t>::text(*u);
  return detail::describeDouble(std::get<double>(value));
}

// Reads decimal digits at `at`; nullopt when there are none or they exceed kMaxField.
std::optional<int> readNumber(std::string_view text, std::size_t& at) {
  const std::size_t start = at;
  long long value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    if (value <= kMaxField) value = value * 10 + (text[at] - '0');
    ++at;
  }
  if (at == start) return std::nullopt;
  if (value > kMaxField) return -1;
  return static_cast<int>(value);
}

}  // namespace

std::string formatPrintf(std::string_view format, std::span<const FormatArgument> arguments) {
  std::string out;
  out.reserve(format.size() + 16);
  std::size_t nextArgument = 0;
  std::size_t i = 0;
  while (i < format.size()) {
    const char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    const std::size_t start = i;
    ++i;
    if (i >= format.size()) {  // a lone '%' at the end stays
      out += '%';
      break;
    }
    Directive directive;
    bool malformed = false;
    // Positional "%2$d": digits followed by '$'.
    std::optional<std::size_t> position;
    {
      std::size_t probe = i;
      std::optional<int> n = readNumber(format, probe);
      if (n && probe < format.size() && format[probe] == '$') {
        if (*n <= 0)
          malformed = true;
        else
          position = static_cast<std::size_t>(*n - 1);
        i = probe + 1;
      }
    }
    for (; i < format.size(); ++i) {
      const char f = format[i];
      if (f == '-')
        directive.left = true;
      else if (f == '+')
        directive.plus = true;
      else if (f == ' ')
        directive.space = true;
      else if (f == '#')
        directive.alternate = true;
      else if (f == '0')
        directive.zero = true;
      else if (f == '\'')
        directive.group = true;
      else
        break;
    }
    auto takeArgument = [&](std::optional<std::size_t> at) -> const FormatArgument* {
      const std::size_t index = at ? *at : nextArgument++;
      return index < arguments.size() ? &arguments[index] : nullptr;
    };
    bool missing = false;
    if (i < format.size() && format[i] == '*') {
      ++i;
      const FormatArgument* w = takeArgument(std::nullopt);
      if (!w) {
        missing = true;
      } else {
        std::int64_t width = toSigned(w->value());
        if (width < 0) {
          directive.left = true;
          width = width == std::numeric_limits<std::int64_t>::min() ? kMaxField + 1 : -width;
        }
        if (width > kMaxField)
          malformed = true;
        else
          directive.width = static_cast<int>(width);
      }
    } else if (std::optional<int> w = readNumber(format, i)) {
      if (*w < 0)
        malformed = true;
      else
        directive.width = *w;
    }
    if (i < format.size() && format[i] == '.') {
      ++i;
      if (i < format.size() && format[i] == '*') {
        ++i;
        const FormatArgument* p = takeArgument(std::nullopt);
        if (!p) {
          missing = true;
        } else {
          const std::int64_t precision = toSigned(p->value());
          if (precision > kMaxField)
            malformed = true;
          else if (precision >= 0)
            directive.precision = static_cast<int>(precision);
        }
      } else {
        std::optional<int> p = readNumber(format, i);
        if (p && *p < 0)
          malformed = true;
        else
          directive.precision = p.value_or(0);
      }
    }
    // Length modifiers only matter for how negative values show in unsigned conversions.
    if (i < format.size()) {
      const char m = format[i];
      if (m == 'h') {
        directive.lengthBits = 16;
        ++i;
        if (i < format.size() && format[i] == 'h') {
          directive.lengthBits = 8;
          ++i;
        }
      } else if (m == 'l' || m == 'q' || m == 'j' || m == 'z' || m == 't' || m == 'L') {
        directive.lengthBits = 64;
        ++i;
        if (m == 'l' && i < format.size() && format[i] == 'l') ++i;
      }
    }
    if (i >= format.size())
      malformed = true;
    else
      directive.conversion = format[i++];
    if (directive.left) directive.zero = false;
    if (directive.plus) directive.space = false;

    if (!malformed && directive.conversion == '%') {
      out += '%';
      continue;
    }
    static constexpr std::string_view kConversions = "diouxXfFeEgGaAcsS@C";
    if (malformed || kConversions.find(directive.conversion) == std::string_view::npos) {
      out.append(format.substr(start, i - start));  // not a conversion: shown as written
      continue;
    }
    const FormatArgument* argument = missing ? nullptr : takeArgument(position);
    if (!argument) {
      out.append(format.substr(start, i - start));  // no argument: shown as written
      continue;
    }
    const FormatArgument::Value& value = argument->value();
    const char conversion = directive.conversion;
    if (conversion == 's' || conversion == 'S' || conversion == '@' ||
        std::holds_alternative<std::string>(value)) {
      // A text given for a number shows as the text itself.
      std::string text = describe(value);
      std::string_view shown = text;
      if (directive.precision && (conversion == 's' || conversion == 'S')) {
        shown = truncateCodePoints(shown, static_cast<std::size_t>(*directive.precision));
      }
      appendPadded(out, directive, shown, 0, false);
    } else if (conversion == 'c' || conversion == 'C') {
      std::string one;
      appendUtf8(one, static_cast<std::uint32_t>(toUnsigned(value, 64) & 0xFFFFFFFFu));
      appendPadded(out, directive, one, 0, false);
    } else if (conversion == 'd' || conversion == 'i') {
      if (const auto* u = std::get_if<std::uint64_t>(&value);
          u && *u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        Directive asUnsigned = directive;
        asUnsigned.conversion = 'u';
        appendUnsigned(out, asUnsigned, *u);
      } else {
        appendSigned(out, directive, toSigned(value), false);
      }
    } else if (conversion == 'o' || conversion == 'u' || conversion == 'x' || conversion == 'X') {
      appendUnsigned(out, directive, toUnsigned(value, directive.lengthBits));
    } else {
      appendFloating(out, directive, toDouble(value));
    }
  }
  return out;
}

}  // namespace vantry::Localizer
