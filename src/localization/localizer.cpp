#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "localization/localization.h"

namespace vantry {

namespace detail {

// Shortest round-trip digits, and "2.0" rather than "2" so that a fraction reads as one.
std::string describeDouble(double value) {
  std::array<char, 64> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  std::string text(buffer.data(), result.ptr);
  if (std::isfinite(value) && text.find_first_not_of("-0123456789") == std::string::npos) {
    text += ".0";
  }
  return text;
}

}  // namespace detail

namespace Localizer {

const Catalog& catalog() {
  static const Catalog map = [] {
    Catalog built;
    built.reserve(rows().size() + platformRows().size());
    for (const auto table : {rows(), platformRows()}) {
      for (const CatalogRow& row : table) {
        if (row.chinese.empty() || row.english.empty() ||
            !built.emplace(row.chinese, row.english).second) {
          // A broken table is a programming fault; carrying on would show wrong texts.
          std::fprintf(stderr, "vantry: catalogue row \"%.*s\" is empty or repeated\n",
                       static_cast<int>(row.chinese.size()), row.chinese.data());
          std::abort();
        }
      }
    }
    return built;
  }();
  return map;
}

namespace {

std::string_view translationOf(std::string_view key) {
  const Catalog& map = catalog();
  auto found = map.find(key);
  return found == map.end() ? key : found->second;
}

bool isAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isAsciiAlnum(char c) {
  return isAsciiDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A grapheme-cluster iterator per thread: ICU iterators are not shareable between threads.
icu::BreakIterator* characterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> made(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) made.reset();
    return made;
  }();
  return iterator.get();
}

// Byte offsets of every grapheme-cluster boundary of a UTF-8 text, 0 and size included.
std::vector<std::size_t> characterBoundaries(std::string_view text) {
  std::vector<std::size_t> bounds;
  bounds.reserve(text.size() + 1);
  icu::BreakIterator* iterator = characterIterator();
  UErrorCode status = U_ZERO_ERROR;
  UText* utext =
      iterator ? utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status)
               : nullptr;
  if (iterator && utext && U_SUCCESS(status)) {
    iterator->setText(utext, status);
    if (U_SUCCESS(status)) {
      for (int32_t at = iterator->first(); at != icu::BreakIterator::DONE; at = iterator->next()) {
        bounds.push_back(static_cast<std::size_t>(at));
      }
    }
  }
  if (utext) utext_close(utext);
  if (bounds.empty() || bounds.back() != text.size()) {
    // Without ICU fall back to code points (lead bytes of UTF-8).
    bounds.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
      if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) bounds.push_back(i);
    }
    bounds.push_back(text.size());
  }
  return bounds;
}

}  // namespace

std::string renderPlaceholders(std::string_view templateText,
                               std::span<const std::string> arguments) {
  // Built left to right from the template alone, which gives the same result as filling
  // the matches last to first: no replacement text is ever searched again.
  std::string out;
  out.reserve(templateText.size() + 16);
  std::size_t i = 0;
  while (i < templateText.size()) {
    if (templateText[i] == '{') {
      std::size_t j = i + 1;
      while (j < templateText.size() && isAsciiDigit(templateText[j]))
        ++j;
      if (j > i + 1 && j < templateText.size() && templateText[j] == '}') {
        std::int64_t index = 0;
        const char* first = templateText.data() + i + 1;
        const char* last = templateText.data() + j;
        auto parsed = std::from_chars(first, last, index);
        // Too many digits for 64 bits: left as written, like an index out of range.
        if (parsed.ec == std::errc() && parsed.ptr == last && index >= 0 &&
            static_cast<std::uint64_t>(index) < arguments.size()) {
          out += arguments[static_cast<std::size_t>(index)];
        } else {
          out.append(templateText.substr(i, j + 1 - i));
        }
        i = j + 1;
        continue;
      }
    }
    out += templateText[i];
    ++i;
  }
  return out;
}

std::string text(std::string_view key, std::span<const std::string> arguments,
                 AppLanguage language) {
  const std::string_view shown = language == AppLanguage::chinese ? key : translationOf(key);
  if (arguments.empty()) return std::string(shown);
  return renderPlaceholders(shown, arguments);
}

std::string format(std::string_view key, std::span<const FormatArgument> arguments,
                   AppLanguage language) {
  // "en" and "zh_Hans" share the decimal point and grouping separator, so one
  // locale-independent formatter serves both.
  const std::string_view shown = language == AppLanguage::chinese ? key : translationOf(key);
  return formatPrintf(shown, arguments);
}

const std::vector<MessageVariant>& messageVariants() {
  static const std::vector<MessageVariant> variants = [] {
    std::vector<std::string_view> keys;
    keys.reserve(catalog().size());
    for (const auto& entry : catalog())
      keys.push_back(entry.first);
    // Byte order of UTF-8 is code-point order.
    std::sort(keys.begin(), keys.end());
    std::map<std::string_view, std::string_view> byFragment;
    for (std::string_view key : keys) {
      if (key.find("{0}") != std::string_view::npos || key.find('%') != std::string_view::npos) {
        continue;
      }
      byFragment[key] = key;
      byFragment[translationOf(key)] = key;  // a later key wins on a shared English text
    }
    std::vector<MessageVariant> built;
    built.reserve(byFragment.size());
    for (const auto& [fragment, key] : byFragment) {
      built.push_back({fragment, key, characterBoundaries(fragment).size() - 1});
    }
    std::stable_sort(built.begin(), built.end(),
                     [](const MessageVariant& a, const MessageVariant& b) {
                       if (a.length != b.length) return a.length > b.length;
                       return a.fragment < b.fragment;
                     });
    return built;
  }();
  return variants;
}

namespace {

// Variants grouped by their first byte, each group keeping the global order: only
// fragments starting with the byte at hand can match there.
const std::array<std::vector<const MessageVariant*>, 256>& variantsByFirstByte() {
  static const auto table = [] {
    std::array<std::vector<const MessageVariant*>, 256> built;
    for (const MessageVariant& variant : messageVariants()) {
      built[static_cast<unsigned char>(variant.fragment.front())].push_back(&variant);
    }
    return built;
  }();
  return table;
}

}  // namespace

std::string message(std::string_view message, AppLanguage language) {
  if (catalog().contains(message)) return text(message, {}, language);
  if (message.empty()) return {};

  const std::vector<std::size_t> bounds = characterBoundaries(message);
  std::vector<bool> isBoundary(message.size() + 1, false);
  for (std::size_t at : bounds)
    isBoundary[at] = true;
  const auto& groups = variantsByFirstByte();

  std::string out;
  out.reserve(message.size() + message.size() / 2);
  std::size_t b = 0;  // index into bounds
  while (b + 1 < bounds.size()) {
    const std::size_t at = bounds[b];
    const std::string_view rest = message.substr(at);
    const MessageVariant* matched = nullptr;
    for (const MessageVariant* variant : groups[static_cast<unsigned char>(rest.front())]) {
      const std::string_view fragment = variant->fragment;
      if (!rest.starts_with(fragment) || !isBoundary[at + fragment.size()]) continue;
      // A fragment never cuts into a run of ASCII letters or digits: "Only" is a word of
      // its own, not "On" followed by "ly".
      if (isAsciiAlnum(fragment.front()) && at > 0 && isAsciiAlnum(message[at - 1])) continue;
      const std::size_t end = at + fragment.size();
      if (isAsciiAlnum(fragment.back()) && end < message.size() && isAsciiAlnum(message[end])) {
        continue;
      }
      matched = variant;
      break;
    }
    if (matched) {
      out += text(matched->key, {}, language);
      const std::size_t end = at + matched->fragment.size();
      while (b + 1 < bounds.size() && bounds[b] < end)
        ++b;
    } else {
      out.append(message.substr(at, bounds[b + 1] - at));
      ++b;
    }
  }
  return out;
}

}  // namespace Localizer

}  // namespace vantry
