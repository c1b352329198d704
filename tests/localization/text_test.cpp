#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "language_scope.h"
#include "localization/localization.h"

namespace vantry {
namespace {

TEST(Text, FillsPlaceholdersInEitherLanguage) {
  {
    LanguageScope english(AppLanguage::english);
    EXPECT_EQ(L("片段 {0}", 3), "Clip 3");
    EXPECT_EQ(L("缩放片段，{0} 至 {1} 秒", "1.5", "3.0"), "Zoom, 1.5 to 3.0 s");
    EXPECT_EQ(L("知道了"), "OK");
  }
  {
    LanguageScope chinese(AppLanguage::chinese);
    EXPECT_EQ(L("片段 {0}", 3), "片段 3");
    EXPECT_EQ(L("显示器 {0}，{1}", 2, "2560 × 1440"), "显示器 2，2560 × 1440");
    EXPECT_EQ(L("知道了"), "知道了");
  }
}

TEST(Text, PlaceholdersWithoutArgumentsStayAsWritten) {
  LanguageScope english(AppLanguage::english);
  // One argument for two placeholders: {1} stays.
  EXPECT_EQ(L("片段 {0}，{1} 秒", 3), "Clip 3, {1} seconds");
  // No arguments at all: nothing is rendered.
  EXPECT_EQ(L("片段 {0}"), "Clip {0}");
  // Out of range, far out of range, and more digits than 64 bits hold.
  const std::string tooLong = "{99999999999999999999999}";
  EXPECT_EQ(L("a {5} b {9223372036854775807} c " + tooLong, "x"),
            "a {5} b {9223372036854775807} c " + tooLong);
  // Not placeholders: empty braces, signs, blanks, an unclosed brace.
  EXPECT_EQ(L("{} {-0} { 0} {0 {0}", "x"), "{} {-0} { 0} {0 x");
  // Leading zeros still name the argument.
  EXPECT_EQ(L("{00}/{01}", "a", "b"), "a/b");
}

TEST(Text, MissingKeysShowAsWrittenWithTheirPlaceholdersFilled) {
  for (AppLanguage language : {AppLanguage::english, AppLanguage::chinese}) {
    LanguageScope scope(language);
    EXPECT_EQ(L("不在目录中 {1}-{0}", "a", "b"), "不在目录中 b-a");
    EXPECT_EQ(L(""), "");
    EXPECT_EQ(L("Plain English"), "Plain English");
  }
}

TEST(Text, ReplacementsAreNeverSearchedAgain) {
  LanguageScope english(AppLanguage::english);
  EXPECT_EQ(L("片段 {0}", "{0}"), "Clip {0}");
  EXPECT_EQ(L("{0}{1}", "{1}", "{0}"), "{1}{0}");
  EXPECT_EQ(L("{1} then {0}", "first{1}", "second{0}"), "second{0} then first{1}");
  // Nested braces: the inner match is the placeholder.
  EXPECT_EQ(L("{{0}}", "x"), "{x}");
}

TEST(Text, ArgumentsTurnIntoTheirPlainText) {
  LanguageScope chinese(AppLanguage::chinese);
  EXPECT_EQ(L("{0}", -42), "-42");
  EXPECT_EQ(L("{0}", std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(L("{0}", std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
  EXPECT_EQ(L("{0}", std::string("文本")), "文本");
  EXPECT_EQ(L("{0}", std::string_view("view")), "view");
  const char* none = nullptr;
  EXPECT_EQ(L("[{0}]", none), "[]");
  EXPECT_EQ(L("{0} {1}", true, 'c'), "true c");
  EXPECT_EQ(L("{0} {1}", 2.5, 3.0), "2.5 3.0");
  EXPECT_EQ(L("{0}", std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Text, TheLocalizerTakesTheLanguageAsGiven) {
  LanguageScope chinese(AppLanguage::chinese);
  const std::string args[] = {"7"};
  EXPECT_EQ(Localizer::text("片段 {0}", args, AppLanguage::english), "Clip 7");
  EXPECT_EQ(Localizer::text("片段 {0}", args, AppLanguage::chinese), "片段 7");
}

}  // namespace
}  // namespace vantry
