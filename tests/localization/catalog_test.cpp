#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "localization/localization.h"

namespace vantry {
namespace {

using Localizer::catalog;
using Localizer::rows;

bool validUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    if (lead >= 0x80) {
      if ((lead >> 5) == 0x6)
        extra = 1;
      else if ((lead >> 4) == 0xE)
        extra = 2;
      else if ((lead >> 3) == 0x1E)
        extra = 3;
      else
        return false;
    }
    if (i + extra >= text.size() && extra > 0) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

std::vector<std::string> matches(std::string_view text, const std::regex& pattern) {
  std::vector<std::string> found;
  const std::string s(text);
  for (auto it = std::sregex_iterator(s.begin(), s.end(), pattern); it != std::sregex_iterator();
       ++it) {
    found.push_back(it->str());
  }
  return found;
}

TEST(Catalog, HoldsEveryKeyOnceWithTextInBothColumns) {
  ASSERT_EQ(rows().size(), 299u);
  std::vector<Localizer::CatalogRow> all(rows().begin(), rows().end());
  all.insert(all.end(), Localizer::platformRows().begin(), Localizer::platformRows().end());
  std::set<std::string_view> keys;
  for (const auto& row : all) {
    EXPECT_FALSE(row.chinese.empty());
    EXPECT_FALSE(row.english.empty()) << row.chinese;
    EXPECT_TRUE(keys.insert(row.chinese).second) << "repeated key " << row.chinese;
    EXPECT_TRUE(validUtf8(row.chinese)) << row.chinese;
    EXPECT_TRUE(validUtf8(row.english)) << row.english;
    // An escape slip in the table would show a backslash on screen.
    EXPECT_EQ(row.english.find('\\'), std::string_view::npos) << row.english;
  }
  EXPECT_EQ(catalog().size(), all.size());
  EXPECT_EQ(rows().front().chinese, "正在准备导出…");
  EXPECT_EQ(rows().back().chinese, "独立设置");
}

TEST(Catalog, EnglishCarriesTheSamePlaceholdersAndConversions) {
  const std::regex placeholder(R"(\{\d+\})");
  const std::regex conversion(R"(%[-+ #0]*\d*(\.\d+)?(ll|l|h)?[dfgs%@])");
  std::vector<Localizer::CatalogRow> all(rows().begin(), rows().end());
  all.insert(all.end(), Localizer::platformRows().begin(), Localizer::platformRows().end());
  for (const auto& row : all) {
    auto keyPlaceholders = matches(row.chinese, placeholder);
    auto englishPlaceholders = matches(row.english, placeholder);
    std::sort(keyPlaceholders.begin(), keyPlaceholders.end());
    std::sort(englishPlaceholders.begin(), englishPlaceholders.end());
    EXPECT_EQ(keyPlaceholders, englishPlaceholders) << row.chinese;
    // LF formats one argument list with either text: same conversions, same order.
    EXPECT_EQ(matches(row.chinese, conversion), matches(row.english, conversion)) << row.chinese;
  }
}

TEST(Catalog, TellingRowsHaveTheirExactEnglish) {
  const std::vector<std::pair<std::string_view, std::string_view>> expected = {
      {"片段 {0}", "Clip {0}"},
      {"片段 {0}，{1} 秒", "Clip {0}, {1} seconds"},
      {"显示器 {0}，{1}", "Display {0}, {1}"},
      {"按 {0} 时长与目标码率估算，实际大小取决于画面内容和音频。",
       "Estimated from {0} duration and target bitrate. Actual size depends on video content and "
       "audio."},
      {"缩放片段，{0} 至 {1} 秒", "Zoom, {0} to {1} s"},
      {"画面提前 %.0f ms", "Video leads by %.0f ms"},
      {"画面延后 %.0f ms", "Video lags by %.0f ms"},
      {"%.1f 秒", "%.1f s"},
      {"，%.2f 至 %.2f 秒", ", %.2f–%.2f s"},
      {"音轨读取失败：", "Could not load audio: "},
      {"编辑未能保存：", "Could not save edits: "},
      {"播放失败：", "Playback failed: "},
      {"项目无法打开：", "Could not open project: "},
      {"屏幕预览失败：", "Screen preview failed: "},
      {"录制未能删除：", "Couldn't delete the recording: "},
      {"录制和剪辑都保存在：", "The recording and your edits are saved in:"},
      {"正在录制：", "Recording: "},
      {" · 本窗口不会被录入 · 画面为实时预览", " · This window is excluded · Showing live preview"},
      {"导出完成 · ", "Export complete · "},
      {"正在录制 · ", "Recording · "},
      {"录屏 · ", "Recording · "},
      {"人物画中画", "Camera Overlay"},
      {"人物小窗", "Camera Overlay"},
      {"屏幕", "Display"},
      {"显示器", "Display"},
      {"约 ", "About "},
      {"文件大小 ", "File Size "},
      {"用时 ", "Time Taken "},
      {"知道了", "OK"},
      {"已开启", "On"},
      {"已关闭", "Off"},
      // Gathered from where the texts are used.
      {"设置", "Settings"},
      {"语言", "Language"},
      {"选择界面语言。更改立即生效，并在下次打开时保留。",
       "Choose the interface language. Changes apply immediately and are remembered next time."},
      {"所选窗口已关闭，请重新选择。", "The selected window has closed. Select another window."},
      {"没有捕获到画面。请检查屏幕录制权限，然后重试。",
       "No video frames captured. Check screen recording permissions and try again."},
      {"。请检查屏幕录制权限。", ". Check screen recording permissions."},
      {"全屏试看", "Full Screen Preview"},
  };
  for (const auto& [key, english] : expected) {
    auto found = catalog().find(key);
    ASSERT_NE(found, catalog().end()) << key;
    EXPECT_EQ(found->second, english) << key;
  }
  // Line breaks inside keys are real line breaks, in both columns.
  const auto permission = std::find_if(rows().begin(), rows().end(), [](const auto& row) {
    return row.chinese.starts_with("读取显示器失败。");
  });
  ASSERT_NE(permission, rows().end());
  EXPECT_TRUE(permission->chinese.ends_with("\n\n"));
  EXPECT_TRUE(permission->english.ends_with("\n\n"));
}

std::u32string codePoints(std::string_view text) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra && i + k < text.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    out += c;
    i += extra + 1;
  }
  return out;
}

bool chinese(char32_t c) {
  return (c >= 0x3000 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFFEF);
}

TEST(Catalog, EveryRowHasFinishedEnglish) {
  // A row copied untranslated, a Chinese comma left in, a dropped product name or a lost
  // blank at a join shows on screen in the English interface; none of it shows in Chinese.
  std::vector<Localizer::CatalogRow> all(rows().begin(), rows().end());
  all.insert(all.end(), Localizer::platformRows().begin(), Localizer::platformRows().end());
  const std::regex latin(R"([A-Za-z0-9$][A-Za-z0-9.+_$/%-]*[A-Za-z0-9]|[A-Za-z0-9])");
  auto count = [](const std::u32string& text, std::u32string_view of) {
    return std::count_if(text.begin(), text.end(),
                         [&](char32_t c) { return of.find(c) != std::u32string_view::npos; });
  };
  for (const auto& row : all) {
    const std::u32string key = codePoints(row.chinese);
    const std::u32string english = codePoints(row.english);
    SCOPED_TRACE(std::string(row.chinese));
    ASSERT_FALSE(key.empty());
    ASSERT_FALSE(english.empty());
    // An icon glyph that opens the key may open the English too.
    const std::size_t from = english.front() == key.front() ? 1 : 0;
    EXPECT_EQ(std::find_if(english.begin() + from, english.end(), chinese), english.end())
        << row.english;
    if (std::any_of(key.begin(), key.end(), chinese)) EXPECT_NE(row.english, row.chinese);
    // Names, commands, numbers and formats are kept.
    for (const std::string& word : matches(row.chinese, latin))
      EXPECT_NE(row.english.find(word), std::string_view::npos) << word << " / " << row.english;
    for (std::u32string_view marks : {U"\n", U"→", U"·", U"“", U"”", U"…"})
      EXPECT_EQ(count(key, marks), count(english, marks)) << row.english;
    EXPECT_EQ(count(key, U"(（"), count(english, U"(")) << row.english;
    EXPECT_EQ(count(key, U")）"), count(english, U")")) << row.english;
    // Joins: what callers put before or after the text still reads.
    EXPECT_EQ(key.front() == U' ', english.front() == U' ') << row.english;
    if (key.front() == U'，') EXPECT_EQ(english.front(), U',') << row.english;
    if (key.front() == U'。') EXPECT_EQ(english.front(), U'.') << row.english;
    if (key.back() == U'：') {
      EXPECT_TRUE(row.english.ends_with(":") || row.english.ends_with(": ")) << row.english;
    } else {
      EXPECT_EQ(key.back() == U' ', english.back() == U' ') << row.english;
    }
    if (key.back() == U'。') EXPECT_EQ(english.back(), U'.') << row.english;
    if (key.back() == U'？') EXPECT_EQ(english.back(), U'?') << row.english;
    // Spacing: wide gaps only where the layout of the key has them, none before punctuation.
    if (row.chinese.find("  ") == std::string_view::npos)
      EXPECT_EQ(row.english.find("  "), std::string_view::npos) << row.english;
    EXPECT_FALSE(std::regex_search(std::string(row.english), std::regex(R"( [,.:;?!)])")))
        << row.english;
    // Sentence case, unless the key opens with the same lower-case name ("macOS").
    if (std::islower(static_cast<unsigned char>(row.english.front()))) {
      const auto word = row.english.substr(0, row.english.find(' '));
      EXPECT_TRUE(row.chinese.starts_with(word)) << row.english;
    }
  }
}

// The first string literal argument of every L, LF, QL and QLF call in a source text
// (adjacent literals joined, escapes resolved).
std::vector<std::string> literalKeys(const std::string& source) {
  std::vector<std::string> keys;
  static const std::regex call(R"((^|[^A-Za-z0-9_])Q?LF?\(\s*")");
  for (auto it = std::sregex_iterator(source.begin(), source.end(), call);
       it != std::sregex_iterator(); ++it) {
    std::size_t at = static_cast<std::size_t>(it->position() + it->length()) - 1;  // the quote
    std::string key;
    while (at < source.size() && source[at] == '"') {
      ++at;
      while (at < source.size() && source[at] != '"') {
        if (source[at] == '\\' && at + 1 < source.size()) {
          const char escaped = source[++at];
          key += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
        } else {
          key += source[at];
        }
        ++at;
      }
      ++at;  // closing quote
      while (at < source.size() && std::isspace(static_cast<unsigned char>(source[at])))
        ++at;
    }
    keys.push_back(key);
  }
  return keys;
}

TEST(Catalog, EveryTextTheProgramTranslatesIsInIt) {
  // A key missing from the catalogue shows in Chinese in the English interface.
  // Lexically: tests/data need not exist.
  const std::filesystem::path root =
      std::filesystem::path(VANTRY_TEST_DATA).parent_path().parent_path();
  std::size_t checked = 0;
  for (const char* folder : {"src", "tools"}) {
    ASSERT_TRUE(std::filesystem::is_directory(root / folder)) << (root / folder).string();
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
      const auto extension = entry.path().extension();
      if (extension != ".cpp" && extension != ".h") continue;
      if (entry.path().string().find("/localization/") != std::string::npos) continue;
      std::ifstream file(entry.path());
      const std::string source((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
      for (const std::string& key : literalKeys(source)) {
        ++checked;
        EXPECT_TRUE(catalog().contains(key)) << entry.path().string() << ": \"" << key << "\"";
      }
    }
  }
  EXPECT_EQ(literalKeys("L(\"设置\") + QLF(\"a\"\n  \"b\\n\", 1) + URL(\"x\")"),
            (std::vector<std::string>{"设置", "ab\n"}));
  EXPECT_GT(checked, 10u);
}

TEST(Catalog, MessageVariantsAreLongestFirstWithCodePointTies) {
  const auto& variants = Localizer::messageVariants();
  ASSERT_FALSE(variants.empty());
  std::set<std::string_view> fragments;
  for (std::size_t i = 0; i < variants.size(); ++i) {
    const auto& v = variants[i];
    EXPECT_TRUE(fragments.insert(v.fragment).second) << "fragment twice: " << v.fragment;
    EXPECT_EQ(v.key.find("{0}"), std::string_view::npos);
    EXPECT_EQ(v.key.find('%'), std::string_view::npos);
    EXPECT_TRUE(v.fragment == v.key || v.fragment == catalog().at(v.key)) << v.fragment;
    if (i > 0) {
      const auto& before = variants[i - 1];
      EXPECT_TRUE(before.length > v.length ||
                  (before.length == v.length && before.fragment < v.fragment))
          << before.fragment << " / " << v.fragment;
    }
  }
  auto keyOf = [&](std::string_view fragment) -> std::string_view {
    for (const auto& v : variants) {
      if (v.fragment == fragment) return v.key;
    }
    return {};
  };
  // Shared English: the key that sorts later wins.
  EXPECT_EQ(keyOf("Recording · "), "正在录制 · ");
  EXPECT_EQ(keyOf("Camera Overlay"), "人物画中画");
  EXPECT_EQ(keyOf("Display"), "显示器");
  // Lengths count user-perceived characters, not bytes.
  for (const auto& v : variants) {
    if (v.fragment == "显示器") {
      EXPECT_EQ(v.length, 3u);
    }
    if (v.fragment == "Recording · ") {
      EXPECT_EQ(v.length, 12u);
    }
  }
  // "片段 {0}" and the printf formats never take part.
  EXPECT_EQ(keyOf("Clip {0}"), "");
  EXPECT_EQ(keyOf("%.1f s"), "");
}

}  // namespace
}  // namespace vantry
