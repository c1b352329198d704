#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "language_scope.h"
#include "localization/localization.h"

namespace vantry {
namespace {

TEST(Message, AWholeKeyTranslatesLikeL) {
  for (AppLanguage language : {AppLanguage::english, AppLanguage::chinese}) {
    LanguageScope scope(language);
    for (const auto& row : Localizer::rows()) {
      ASSERT_EQ(LM(row.chinese), L(row.chinese)) << row.chinese;
    }
  }
  LanguageScope english(AppLanguage::english);
  EXPECT_EQ(LM("片段 {0}"), "Clip {0}");
  EXPECT_EQ(LM(""), "");
}

TEST(Message, KnownPiecesAroundForeignTextInEnglish) {
  LanguageScope english(AppLanguage::english);
  EXPECT_EQ(LM("编辑未能保存：No space left on device"),
            "Could not save edits: No space left on device");
  // Known pieces inside the appended error are rendered too.
  EXPECT_EQ(LM("屏幕预览失败：显示器已断开。请检查屏幕录制权限。"),
            "Screen preview failed: Display已断开. Check screen recording permissions.");
  EXPECT_EQ(LM("正在录制：显示器 2 · 本窗口不会被录入 · 画面为实时预览"),
            "Recording: Display 2 · This window is excluded · Showing live preview");
  // Longest first: "导出完成 · " is one piece, not "导出完成" and a blank dot.
  EXPECT_EQ(LM("导出完成 · demo.mp4"), "Export complete · demo.mp4");
  // English pieces stay English.
  EXPECT_EQ(LM("Playback failed: 播放失败："), "Playback failed: Playback failed: ");
}

TEST(Message, EnglishPiecesTurnBackIntoChinese) {
  LanguageScope chinese(AppLanguage::chinese);
  EXPECT_EQ(LM("Recording · demo"), "正在录制 · demo");
  EXPECT_EQ(LM("Could not save edits: disk full"), "编辑未能保存：disk full");
  EXPECT_EQ(LM("Camera Overlay"), "人物画中画");
  EXPECT_EQ(LM("Display 1, 1920 × 1080"), "显示器 1, 1920 × 1080");
  EXPECT_EQ(LM("Microphone Off · On · OK"), "麦克风关闭 · 已开启 · 知道了");
}

TEST(Message, PiecesNeverCutIntoWordsOrNumbers) {
  LanguageScope chinese(AppLanguage::chinese);
  // "On" inside "Only" is part of a word of its own.
  EXPECT_EQ(LM("Only"), "Only");
  EXPECT_EQ(LM("Only On"), "Only 已开启");
  EXPECT_EQ(LM("DisplayPort"), "DisplayPort");
  EXPECT_EQ(LM("eDisplay"), "eDisplay");
  EXPECT_EQ(LM("Display2"), "Display2");
  EXPECT_EQ(LM("On/Off"), "已开启/已关闭");
  EXPECT_EQ(LM("(OK)"), "(知道了)");
  // A piece that begins or ends with a blank meets a word without cutting into it.
  EXPECT_EQ(LM("Recording: abc"), "正在录制：abc");
  EXPECT_EQ(LM("abc · This window is excluded · Showing live preview"),
            "abc · 本窗口不会被录入 · 画面为实时预览");
  // Chinese pieces beside letters cut into nothing.
  LanguageScope english(AppLanguage::english);
  EXPECT_EQ(LM("USB摄像头"), "USBCamera");
}

TEST(Message, MatchesWholeCharactersOnly) {
  LanguageScope english(AppLanguage::english);
  // A combining mark after "关闭" makes its last character another one: no match there.
  const std::string marked = "关闭\u0301";
  EXPECT_EQ(LM(marked), marked);
  // An emoji sequence passes through whole.
  const std::string family = "👩‍👩‍👧 关闭";
  EXPECT_EQ(LM(family), "👩‍👩‍👧 Close");
  // Invalid UTF-8 neither crashes nor disappears.
  const std::string broken = std::string("关闭") + "\xFF\xFE" + "关闭";
  EXPECT_EQ(LM(broken),
            "Close\xFF\xFE"
            "Close");
}

TEST(Message, TheNextCallSeesALanguageChange) {
  setCurrentLanguage(AppLanguage::chinese);
  EXPECT_EQ(LM("Recording · "), "正在录制 · ");
  setCurrentLanguage(AppLanguage::english);
  EXPECT_EQ(LM("正在录制 · "), "Recording · ");
}

TEST(Message, ManyThreadsWhileTheLanguageChanges) {
  LanguageScope english(AppLanguage::english);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        const std::string got = LM("播放失败：Only On");
        if (got != "Playback failed: Only On" && got != "播放失败：Only 已开启") ++wrong;
        const std::string clip = L("片段 {0}", 4);
        if (clip != "Clip 4" && clip != "片段 4") ++wrong;
      }
    });
  }
  for (int i = 0; i < 2000; ++i) {
    setCurrentLanguage(i % 2 ? AppLanguage::chinese : AppLanguage::english);
  }
  stop = true;
  for (auto& reader : readers)
    reader.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace vantry
