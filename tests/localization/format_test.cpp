#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <thread>

#include "language_scope.h"
#include "localization/localization.h"
#include "support/scoped_env.h"

namespace vantry {
namespace {

std::string cFormat(const char* format, double value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string cFormat(const char* format, long long value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string ours(std::string_view format, std::initializer_list<FormatArgument> args) {
  return Localizer::formatPrintf(format,
                                 std::span<const FormatArgument>(args.begin(), args.size()));
}

TEST(Format, UsesTheKeyInChineseAndTheEnglishTextInEnglish) {
  {
    LanguageScope chinese(AppLanguage::chinese);
    EXPECT_EQ(LF("%.1f 秒", 2.5), "2.5 秒");
    EXPECT_EQ(LF("，%.2f 至 %.2f 秒", 1.0, 2.345), "，1.00 至 2.35 秒");
    EXPECT_EQ(LF("画面提前 %.0f ms", 120.4), "画面提前 120 ms");
  }
  {
    LanguageScope english(AppLanguage::english);
    EXPECT_EQ(LF("%.1f 秒", 2.5), "2.5 s");
    EXPECT_EQ(LF("，%.2f 至 %.2f 秒", 1.0, 2.345), ", 1.00–2.35 s");
    EXPECT_EQ(LF("画面延后 %.0f ms", 80.0), "Video lags by 80 ms");
    // A key missing from the catalogue is its own format.
    EXPECT_EQ(LF("%d of %d", 3, 7), "3 of 7");
  }
}

TEST(Format, MatchesPrintfForNumbers) {
  const char* floatFormats[] = {"%f",    "%.0f",  "%.1f",   "%.2f",  "%8.3f", "%-8.2f|",
                                "%+.1f", "% .1f", "%08.2f", "%e",    "%.3E",  "%g",
                                "%.3g",  "%G",    "%10.4g", "%#.0f", "%.0e",  "%-+9.1e|",
                                "%.10f", "%a",    "%.2a",   "%F",    "%#.0e", "%0+10.3f"};
  const double values[] = {
      0.0,      -0.0,       2.5,    0.5,   1.5,
      -1.25,    123456.789, 1e-7,   1e21,  0.000123456,
      999.9999, 1.0 / 3.0,  -2.675, 1e300, std::numeric_limits<double>::denorm_min()};
  for (const char* format : floatFormats) {
    for (double value : values) {
      // Subnormals have more than one hexadecimal spelling; printf picks another one.
      const bool hex = std::string_view(format).find_first_of("aA") != std::string_view::npos;
      if (hex && std::fpclassify(value) == FP_SUBNORMAL) continue;
      EXPECT_EQ(ours(format, {value}), cFormat(format, value)) << format << " " << value;
    }
  }
  const char* intFormats[] = {"%lld",    "%5lld", "%-5lld|", "%05lld", "%+lld", "% lld", "%.3lld",
                              "%8.3lld", "%llx",  "%#llx",   "%llX",   "%#llo", "%llu",  "%.0lld"};
  const long long ints[] = {0,
                            7,
                            -7,
                            42,
                            65535,
                            -123456789,
                            std::numeric_limits<long long>::max(),
                            std::numeric_limits<long long>::min()};
  for (const char* format : intFormats) {
    for (long long value : ints) {
      EXPECT_EQ(ours(format, {static_cast<std::int64_t>(value)}), cFormat(format, value))
          << format << " " << value;
    }
  }
  // printf shows a negative int through %x in the width of an int.
  EXPECT_EQ(ours("%x", {-1}), "ffffffff");
  EXPECT_EQ(ours("%d%%", {50}), "50%");
}

TEST(Format, NonFiniteNumbersAndTexts) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(ours("%.1f|%5.1f|%-5f|%F", {inf, -inf, inf, inf}), "inf| -inf|inf  |INF");
  EXPECT_EQ(ours("%.2f", {std::nan("")}), "nan");
  EXPECT_EQ(ours("%05.1f", {-inf}), " -inf");  // no zero padding for words
  EXPECT_EQ(ours("[%s|%5s|%-5s|%.2s]", {"ab", "ab", "ab", "xyz"}), "[ab|   ab|ab   |xy]");
  // Widths and precisions count characters, not bytes: no half characters.
  EXPECT_EQ(ours("[%.2s|%4s]", {"中文字", "中文"}), "[中文|  中文]");
  EXPECT_EQ(ours("%@ and %@", {"a", 2}), "a and 2");
  EXPECT_EQ(ours("%c%c", {65, 0x4E2D}), "A中");
  EXPECT_EQ(ours("%2$s %1$s", {"world", "hello"}), "hello world");
  EXPECT_EQ(ours("%*d|%-*d|%.*f", {4, 7, 3, 7, 2, 3.14159}), "   7|7  |3.14");
}

TEST(Format, MismatchesNeverCrashOrLoseText) {
  // Too few arguments: the conversion stays as written; too many are ignored.
  EXPECT_EQ(ours("，%.2f 至 %.2f 秒", {1.0}), "，1.00 至 %.2f 秒");
  EXPECT_EQ(ours("%.1f 秒", {}), "%.1f 秒");
  EXPECT_EQ(ours("%d", {1, 2, 3}), "1");
  // Numbers of the other kind are converted; a text shows as itself.
  EXPECT_EQ(ours("%.1f", {3}), "3.0");
  EXPECT_EQ(ours("%d", {2.9}), "2");
  EXPECT_EQ(ours("%d", {-2.9}), "-2");
  EXPECT_EQ(ours("%d", {std::nan("")}), "0");
  EXPECT_EQ(ours("%d", {1e300}), "9223372036854775807");
  EXPECT_EQ(ours("%.2f", {"text"}), "text");
  EXPECT_EQ(ours("%s", {2.5}), "2.5");
  EXPECT_EQ(ours("%n %lls %q", {1}), "%n 1 %q");
  EXPECT_EQ(ours("%0$d", {1}), "%0$d");
  // Unterminated and absurd conversions are shown, not interpreted.
  EXPECT_EQ(ours("100%", {}), "100%");
  EXPECT_EQ(ours("%.", {1}), "%.");
  EXPECT_EQ(ours("%.99999999999f", {1.0}), "%.99999999999f");
  EXPECT_EQ(ours("%*d", {}), "%*d");
  // A user text passed as the key is safe, whatever it holds.
  LanguageScope english(AppLanguage::english);
  EXPECT_EQ(LF("%s%s%s%n%p"), "%s%s%s%n%p");
  EXPECT_EQ(LF("%.2f%%", 12.345), "12.35%");
}

// Puts the process's locale back however the test ends: the programs that later tests
// start inherit none of it.
class LocaleRestored {
 public:
  LocaleRestored() : saved_(std::setlocale(LC_ALL, nullptr)) {}
  ~LocaleRestored() { std::setlocale(LC_ALL, saved_.c_str()); }
  LocaleRestored(const LocaleRestored&) = delete;
  LocaleRestored& operator=(const LocaleRestored&) = delete;

 private:
  std::string saved_;
};

// Builds a German locale (decimal comma) in a private folder, which `locpath` names while
// it lives; empty when impossible.
std::string commaLocale(QTemporaryDir& folder, test::ScopedEnv& locpath) {
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) return "de_DE.UTF-8";
  if (!folder.isValid()) return {};
  const QString target = folder.filePath(QStringLiteral("de_DE.UTF-8"));
  if (QProcess::execute(QStringLiteral("localedef"),
                        {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                         QStringLiteral("UTF-8"), target}) != 0) {
    return {};
  }
  locpath.set(folder.path().toLocal8Bit().constData());
  return "de_DE.UTF-8";
}

TEST(Format, IgnoresTheProcessLocale) {
  const LocaleRestored locale;
  QTemporaryDir folder;
  test::ScopedEnv locpath("LOCPATH");
  const std::string name = commaLocale(folder, locpath);
  if (name.empty() || !std::setlocale(LC_ALL, name.c_str())) {
    GTEST_SKIP() << "no locale with a decimal comma could be made";
  }
  ASSERT_EQ(cFormat("%.1f", 2.5), "2,5");  // the locale really is in force
  LanguageScope english(AppLanguage::english);
  EXPECT_EQ(LF("%.1f 秒", 2.5), "2.5 s");
  EXPECT_EQ(LF("，%.2f 至 %.2f 秒", 1234.5, 0.25), ", 1234.50–0.25 s");
  EXPECT_EQ(L("{0}", 2.5), "2.5");
}

TEST(Format, ConcurrentCallsAgree) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 2000; ++i) {
        const auto language = (i + t) % 2 ? AppLanguage::chinese : AppLanguage::english;
        const FormatArgument args[] = {2.5};
        const std::string got = Localizer::format("%.1f 秒", args, language);
        if (got != (language == AppLanguage::chinese ? "2.5 秒" : "2.5 s")) ++wrong;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace vantry
