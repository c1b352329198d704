// The roads a person takes through the app, driven through real input events.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLibraryInfo>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "e2e/app_driver.h"
#include "e2e/roads.h"

namespace vantry::e2e {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> menuTitles(const AppDriver& app) {
  std::vector<std::string> titles;
  if (const auto bar = app.widget("menuBar", "StudioWindow"))
    for (const auto& item : bar->raw.value("items", nlohmann::json::array()))
      titles.push_back(item.get<std::string>());
  return titles;
}

// The share of the area's pixels in which one channel clearly leads.
double share(const AppDriver::Image& image, int channel) {
  if (image.pixels.empty()) return 0;
  size_t count = 0;
  for (uint32_t p : image.pixels) {
    const int c[3] = {int(p >> 16 & 0xff), int(p >> 8 & 0xff), int(p & 0xff)};
    const int other = std::max(c[(channel + 1) % 3], c[(channel + 2) % 3]);
    if (c[channel] > 120 && c[channel] > other + 80) ++count;
  }
  return double(count) / double(image.pixels.size());
}

const std::vector<std::string> kEnglishMenus = {"File", "Edit", "Recording && Export", "Editing"};
const std::vector<std::string> kChineseMenus = {"文件", "编辑", "录制与导出", "剪辑"};

TEST(Road, StartShowsTheMainWindowInTheStoredLanguageWithTheLivePreviewRunning) {
  for (const std::string language : {"english", "chinese"}) {
    SCOPED_TRACE(language);
    AppDriver app("start-" + language, language);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(app.launch()) << app.logText();
    const auto shown = std::chrono::steady_clock::now() - begin;
    EXPECT_LE(shown, 5s) << "the main window took "
                         << std::chrono::duration_cast<Millis>(shown).count() << " ms";
    EXPECT_TRUE(app.waitFor(
        [&] { return menuTitles(app) == (language == "english" ? kEnglishMenus : kChineseMenus); },
        5s));
    const auto live = app.widget("liveText");
    ASSERT_TRUE(live);
    EXPECT_EQ(live->text, language == "english" ? "LIVE" : "实时预览");

    // The preview follows the desktop: red, then blue.
    ASSERT_TRUE(app.waitForWidget("preview"));
    const Rect preview = app.widget("preview")->shown;
    app.paintDesktop(0xd02020);
    EXPECT_TRUE(app.waitFor([&] { return share(app.grab(preview), 0) > 0.05; }, 10s))
        << "the preview never showed the red desktop";
    app.shot("red-desktop");
    app.paintDesktop(0x2020d0);
    EXPECT_TRUE(app.waitFor([&] { return share(app.grab(preview), 2) > 0.05; }, 10s))
        << "the preview never showed the blue desktop";
    app.shot("blue-desktop");
  }
}

TEST(Road, RecordByKeyboardKeepsScreenCameraSoundAndZoomsFromTheClicks) {
  AppDriver app("record-by-keyboard", "english");
  ASSERT_TRUE(app.launch()) << app.logText();
  const fs::path folder = recordByKeyboard(app, 6s, 2);
  ASSERT_FALSE(folder.empty()) << app.logText();
  EXPECT_EQ(folder.parent_path(), app.recordings());
  for (const char* name : {"screen.mp4", "camera.mov", "project.json", "edit.json"}) {
    EXPECT_TRUE(fs::exists(folder / name)) << name;
    EXPECT_GT(fs::file_size(folder / name), 0u) << name;
  }
  const auto project = readJson(folder / "project.json");
  const auto edit = readJson(folder / "edit.json");
  ASSERT_TRUE(project && edit);
  // The microphone is recorded beside the camera.
  EXPECT_FALSE(project->value("audioPath", "").empty());
  EXPECT_GT(project->value("duration", 0.0), 4.0);

  std::vector<double> clicks;
  for (const auto& sample : edit->value("samples", nlohmann::json::array()))
    if (sample.value("clicked", false)) clicks.push_back(sample.value("time", 0.0));
  EXPECT_GE(clicks.size(), 2u) << "the clicks on the desktop were not recorded";
  const auto zooms = edit->value("zoomEventsOverride", nlohmann::json::array());
  ASSERT_FALSE(zooms.empty()) << "no automatic zoom in edit.json";
  // Each zoom covers a click.
  for (const auto& zoom : zooms) {
    const double start = zoom.value("start", -1.0), end = zoom.value("end", -1.0);
    EXPECT_TRUE(std::any_of(clicks.begin(), clicks.end(), [&](double t) {
      return t >= start - 1.0 && t <= end;
    })) << zoom.dump();
  }
}

TEST(Road, QuitKeepsTheRecordingByDefaultOrMovesItToTheTrash) {
  AppDriver app("quit", "english");
  ASSERT_TRUE(app.launch()) << app.logText();
  const fs::path kept = recordByKeyboard(app, 2s, 1);
  ASSERT_FALSE(kept.empty()) << app.logText();

  // Escape stays; the question comes again on the next Ctrl+Q.
  app.key("ctrl+q");
  ASSERT_TRUE(app.waitForWidget("keepRecording", "QMessageBox")) << "Ctrl+Q asked nothing";
  EXPECT_TRUE(app.waitFor([&] { return app.activeWindow() == "QMessageBox"; }, 5s));
  app.key("Escape");
  ASSERT_TRUE(app.waitFor([&] { return !app.window("QMessageBox"); }, 5s));
  EXPECT_TRUE(app.waitFor([&] { return app.activeWindow() == "StudioWindow"; }, 5s));
  EXPECT_TRUE(app.running());
  app.key("ctrl+q");
  ASSERT_TRUE(app.waitForWidget("keepRecording", "QMessageBox")) << "a second Ctrl+Q asked nothing";
  EXPECT_EQ(app.widget("qt_msgbox_label", "QMessageBox")->text,
            "Keep this recording before quitting?");
  EXPECT_EQ(app.widget("deleteRecording", "QMessageBox")->text, "Delete Recording and Quit");
  EXPECT_TRUE(app.waitFor([&] { return app.activeWindow() == "QMessageBox"; }, 5s))
      << "the question does not have the keyboard";
  app.shot("asks-to-keep");
  app.key("Return");
  EXPECT_EQ(app.waitForExit(30s), 0) << app.logText();
  EXPECT_TRUE(fs::exists(kept / "screen.mp4"));
  EXPECT_TRUE(fs::exists(kept / "edit.json"));

  ASSERT_TRUE(app.launch()) << app.logText();
  const fs::path deleted = recordByKeyboard(app, 2s, 1);
  ASSERT_FALSE(deleted.empty()) << app.logText();
  ASSERT_NE(deleted, kept);
  app.key("ctrl+q");
  ASSERT_TRUE(app.waitForWidget("deleteRecording", "QMessageBox"));
  ASSERT_TRUE(app.click("deleteRecording", "QMessageBox"));
  ASSERT_TRUE(app.waitForWidget("confirmDelete", "QMessageBox")) << "no second question";
  app.shot("confirm-delete");
  ASSERT_TRUE(app.click("confirmDelete", "QMessageBox"));
  EXPECT_EQ(app.waitForExit(30s), 0) << app.logText();
  EXPECT_FALSE(fs::exists(deleted));
  const fs::path trashed = app.trash() / "files" / deleted.filename();
  EXPECT_TRUE(fs::exists(trashed / "screen.mp4")) << trashed;
  EXPECT_TRUE(fs::exists(app.trash() / "info" / (deleted.filename().string() + ".trashinfo")));
  EXPECT_TRUE(fs::exists(kept / "project.json")) << "the kept recording went too";
}

// A recording killed as it recorded, made by the recording tool on the app's display into
// the app's data folder; its folder once a fragment of its movie and some of its pointer
// track are on disk, or empty.
fs::path killedRecording(const AppDriver& app) {
  const pid_t child = fork();
  if (child == 0) {
    setenv("DISPLAY", app.displayName().c_str(), 1);
    setenv("HOME", app.home().c_str(), 1);
    setenv("XDG_DATA_HOME", app.dataHome().c_str(), 1);
    setenv("XDG_CONFIG_HOME", app.configHome().c_str(), 1);
    freopen("/dev/null", "w", stdout);
    execl(VANTRY_TOOL_PATH, VANTRY_TOOL_PATH, "record", "--seconds", "60", nullptr);
    _exit(127);
  }
  fs::path found;
  AppDriver::waitFor(
      [&] {
        for (const fs::path& folder : recordingFolders(app.recordings())) {
          std::error_code ec;
          std::ifstream movie(folder / "screen.mp4", std::ios::binary);
          const std::string bytes{std::istreambuf_iterator<char>(movie), {}};
          if (bytes.find("moof") != std::string::npos &&
              fs::file_size(folder / "pointer-samples.partial", ec) > 1000) {
            found = folder;
            return true;
          }
        }
        return false;
      },
      60s, 100ms);
  ::kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return found;
}

// Ctrl+Q while the start-up recovery works through many interrupted recordings: the app
// ends at once, between two of them, and those not reached wait for the next start.
TEST(Road, QuittingDuringStartUpRecoveryEndsAtOnceAndLeavesTheRestForTheNextStart) {
  AppDriver app("quit-during-recovery", "english");
  const fs::path killed = killedRecording(app);
  ASSERT_FALSE(killed.empty());
  constexpr int kCopies = 1500;
  std::vector<fs::path> copies;
  for (int i = 0; i < kCopies; ++i) {
    const fs::path copy = app.recordings() / ("interrupted-" + std::to_string(i));
    fs::create_directory(copy);
    for (const char* name : {"screen.mp4", "pointer-samples.partial"})
      fs::copy_file(killed / name, copy / name);
    copies.push_back(copy);
  }
  auto recovered = [&] {
    return int(std::count_if(copies.begin(), copies.end(),
                             [](const fs::path& f) { return fs::exists(f / "project.json"); }));
  };

  ASSERT_TRUE(app.launch(60s)) << app.logText();
  const auto asked = std::chrono::steady_clock::now();
  app.key("ctrl+q");
  ASSERT_TRUE(app.waitForExit(60s)) << "the app did not end";
  const auto took = std::chrono::steady_clock::now() - asked;
  const int first = recovered();
  EXPECT_LT(first, kCopies) << "the app waited for every recovery";
  EXPECT_LT(took, 30s) << std::chrono::duration_cast<Millis>(took).count() << " ms";

  // The next start goes on with the rest.
  ASSERT_TRUE(app.launch(60s)) << app.logText();
  EXPECT_TRUE(app.waitFor([&] { return recovered() > first; }, 60s));
  app.key("ctrl+q");
  EXPECT_TRUE(app.waitForExit(60s));
  EXPECT_LT(recovered(), kCopies);
}

// Space opens nothing, while waiting to record or recording; it plays and pauses the
// project, also in the full-screen player; no control has the keyboard before Tab.
TEST(Road, SpaceOnlyPlaysAndPausesAndNoControlHasTheFocusBeforeTab) {
  AppDriver app("space", "english");
  ASSERT_TRUE(app.launch()) << app.logText();
  auto focus = [&] { return app.map().value("focus", std::string()); };
  EXPECT_TRUE(app.waitFor([&] { return focus() == "studioGround"; }, 5s))
      << "a control has the keyboard at start: " << focus();
  auto spaceOpensNothing = [&](const char* when) {
    const size_t before = app.windows().size();
    app.key("space");
    std::this_thread::sleep_for(800ms);
    EXPECT_EQ(app.windows().size(), before) << "Space opened a window " << when;
    EXPECT_EQ(app.map().value("modal", std::string()), "") << when;
  };
  spaceOpensNothing("in standby");
  app.shot("standby-after-space");
  const fs::path folder =
      recordByKeyboard(app, 3s, 0, [&] { spaceOpensNothing("while recording"); });
  ASSERT_FALSE(folder.empty()) << app.logText();

  // The full-screen player: Space plays and pauses there too.
  auto playing = [&](const char* window) {
    const auto play = app.widget("play", window);
    return play && play->raw.value("accessible", std::string()) == "Pause";
  };
  app.key("ctrl+shift+f");
  ASSERT_TRUE(app.waitForWidget("play", "FullscreenWindow")) << "the player did not open";
  ASSERT_TRUE(app.waitFor([&] { return app.activeWindow() == "FullscreenWindow"; }, 5s));
  const auto player = app.window("FullscreenWindow");
  EXPECT_EQ(player->rect.width, app.screenWidth());
  app.key("space");
  EXPECT_TRUE(app.waitFor([&] { return playing("FullscreenWindow"); }, 5s))
      << "Space did not play in the player";
  app.shot("player-playing");
  app.key("space");
  EXPECT_TRUE(app.waitFor([&] { return !playing("FullscreenWindow"); }, 5s))
      << "Space did not pause in the player";
  app.key("Escape");
  ASSERT_TRUE(app.waitFor([&] { return !app.window("FullscreenWindow"); }, 5s));

  // Tab hands the keyboard to the first control, and only then a ring shows.
  ASSERT_TRUE(app.waitFor([&] { return app.activeWindow() == "StudioWindow"; }, 5s));
  EXPECT_EQ(focus(), "studioGround");
  app.key("Tab");
  EXPECT_TRUE(app.waitFor([&] { return focus() != "studioGround"; }, 5s));
  app.shot("after-tab");
}

TEST(Road, LanguageSwitchesEverythingAtOnceAndStaysForTheNextStart) {
  AppDriver app("language", "chinese");
  ASSERT_TRUE(app.launch()) << app.logText();
  ASSERT_TRUE(app.waitFor([&] { return menuTitles(app) == kChineseMenus; }, 5s));
  // The demonstration project brings the timeline.
  ASSERT_TRUE(app.waitForWidget("viewDemo"));
  ASSERT_TRUE(app.click("viewDemo"));
  ASSERT_TRUE(app.waitForWidget("timeline")) << "the demonstration did not open";
  ASSERT_TRUE(app.waitFor(
      [&] {
        return app.widget("viewDemo") == std::nullopt || app.widget("viewDemo")->shown.empty();
      },
      5s));
  // The lane names: the part of the timeline that only the language changes.
  ASSERT_TRUE(app.waitForWidget("laneHeaders"));
  const Rect lanes = app.widget("laneHeaders")->shown;
  const std::string chineseTitle = app.widget("projectTitle")->text;
  app.shot("chinese");
  const AppDriver::Image before = app.grab(lanes);

  app.key("ctrl+comma");
  ASSERT_TRUE(app.waitForWidget("english", "LanguageSettingsView")) << "Settings did not open";
  app.shot("settings");
  ASSERT_TRUE(app.click("english", "LanguageSettingsView"));
  EXPECT_TRUE(app.waitFor([&] { return menuTitles(app) == kEnglishMenus; }, 2s))
      << "the menus stayed in Chinese";
  EXPECT_TRUE(app.waitFor([&] { return app.widget("projectTitle")->text != chineseTitle; }, 2s))
      << "the header stayed in Chinese";
  EXPECT_TRUE(app.waitFor([&] { return app.grab(lanes).pixels != before.pixels; }, 2s))
      << "the timeline did not change";
  EXPECT_TRUE(app.waitFor([&] { return app.widget("zoomEnabled")->text == "Auto Zoom"; }, 2s))
      << "the inspector stayed in Chinese";
  EXPECT_EQ(app.widget("title", "LanguageSettingsView")->text, "Settings");
  app.shot("english");
  EXPECT_EQ(app.storedLanguage(), "english");

  app.kill();
  ASSERT_TRUE(app.launch()) << app.logText();
  EXPECT_TRUE(app.waitFor([&] { return menuTitles(app) == kEnglishMenus; }, 5s));
  EXPECT_EQ(app.widget("liveText")->text, "LIVE");
  app.shot("next-start");
}

// Qt's own dialogs speak the language chosen a moment ago, both ways, without a restart;
// Escape and Ctrl+W close the Settings window.
TEST(Road, QtsOwnDialogsFollowTheLanguageLive) {
  QTranslator chinese;
  ASSERT_TRUE(chinese.load(QStringLiteral("qtbase_zh_CN"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
  ASSERT_EQ(chinese.translate("QPlatformTheme", "Cancel"), QString("取消"));
  auto qt = [&](bool inChinese, const char* context, const char* text) {
    const QString shown = inChinese ? chinese.translate(context, text) : QString();
    return shown.isEmpty() ? std::string(text) : shown.toStdString();
  };
  AppDriver app("qt-dialogs-language", "english");
  ASSERT_TRUE(app.launch()) << app.logText();

  auto switchTo = [&](const std::string& language, const std::string& closing) {
    app.key("ctrl+comma");
    ASSERT_TRUE(app.waitForWidget(language, "LanguageSettingsView")) << "Settings did not open";
    ASSERT_TRUE(app.click(language, "LanguageSettingsView"));
    ASSERT_TRUE(app.waitFor(
        [&] { return menuTitles(app) == (language == "english" ? kEnglishMenus : kChineseMenus); },
        5s));
    app.key(closing);
    ASSERT_TRUE(app.waitFor([&] { return !app.window("LanguageSettingsView"); }, 5s))
        << closing << " left the Settings window open";
    ASSERT_TRUE(app.waitFor([&] { return app.activeWindow() == "StudioWindow"; }, 5s));
  };
  auto fileDialogSpeaks = [&](bool inChinese) {
    app.key("ctrl+o");
    ASSERT_TRUE(app.waitForWidget("lookInLabel", "QFileDialog")) << "Ctrl+O opened nothing";
    EXPECT_EQ(app.widget("lookInLabel", "QFileDialog")->text,
              qt(inChinese, "QFileDialog", "Look in:"));
    EXPECT_EQ(app.widget("fileNameLabel", "QFileDialog")->text,
              qt(inChinese, "QFileDialog", "File &name:"));
    EXPECT_EQ(app.widget("fileTypeLabel", "QFileDialog")->text,
              qt(inChinese, "QFileDialog", "Files of type:"));
    std::vector<std::string> buttons;
    for (const auto& text :
         app.widget("buttonBox", "QFileDialog")->raw.value("items", nlohmann::json::array()))
      buttons.push_back(text.get<std::string>());
    for (const std::string& button :
         {qt(inChinese, "QPlatformTheme", "Cancel"), qt(inChinese, "QFileDialog", "&Open")}) {
      EXPECT_NE(std::find(buttons.begin(), buttons.end(), button), buttons.end())
          << button << " is not among the dialog's buttons";
    }
    app.shot(inChinese ? "file-dialog-chinese" : "file-dialog-english");
    app.key("Escape");
    ASSERT_TRUE(app.waitFor([&] { return !app.window("QFileDialog"); }, 5s));
    ASSERT_TRUE(app.waitFor([&] { return app.activeWindow() == "StudioWindow"; }, 5s));
  };
  switchTo("chinese", "Escape");
  fileDialogSpeaks(true);
  switchTo("english", "ctrl+w");
  fileDialogSpeaks(false);
}

// Tab lights a control and Return or the keypad's Enter presses it (Space stays play and
// pause). On a desktop with nothing to open folders and files with, the footer's buttons
// say so in the alert, naming the place, so that the person can go there themselves.
TEST(Road, ReturnPressesTheControlTabLitAndWhatCannotOpenIsTold) {
  AppDriver app("return-key", "english");
  // No xdg-open or any other opener to be found.
  const fs::path nothing = app.home() / "no-programs";
  fs::create_directories(nothing);
  app.setEnvironment("PATH", nothing.string());
  ASSERT_TRUE(app.launch()) << app.logText();
  auto alertText = [&] {
    const auto text = app.widget("qt_msgbox_informativelabel", "QMessageBox");
    return text ? text->text : std::string();
  };

  ASSERT_TRUE(tabTo(app, "revealRecordings")) << "Tab never reached the recordings folder button";
  app.shot("folder-button-lit");
  app.key("Return");
  ASSERT_TRUE(app.waitFor([&] { return !alertText().empty(); }, 5s))
      << "Return on the folder button told nothing";
  EXPECT_NE(alertText().find("~/.local/share/Pexilar/Recordings"), std::string::npos)
      << alertText();
  EXPECT_TRUE(fs::is_directory(app.recordings()));
  app.shot("folder-not-opened");
  app.key("Return");  // the alert's OK
  ASSERT_TRUE(app.waitFor([&] { return !app.window("QMessageBox"); }, 5s));
  ASSERT_TRUE(app.waitFor([&] { return app.activeWindow() == "StudioWindow"; }, 5s));

  ASSERT_TRUE(tabTo(app, "privacy")) << "Tab never reached the privacy notes button";
  app.key("KP_Enter");
  ASSERT_TRUE(app.waitFor([&] { return !alertText().empty(); }, 5s))
      << "Enter on the privacy button told nothing";
  EXPECT_NE(alertText().find("Privacy-en.txt"), std::string::npos) << alertText();
  app.shot("notes-not-opened");
}

// In the export sheet Tab reaches the choices and the arrows change them; Return on the
// Cancel that Tab lit cancels, where it used to open the save dialog and start the export.
TEST(Road, TabReachesTheExportChoicesAndReturnPressesTheLitCancel) {
  AppDriver app("export-keys", "english");
  ASSERT_TRUE(app.launch()) << app.logText();
  ASSERT_TRUE(app.waitForWidget("viewDemo"));
  ASSERT_TRUE(app.click("viewDemo"));
  ASSERT_TRUE(app.waitForWidget("timeline")) << "the demonstration did not open";
  app.key("ctrl+e");
  ASSERT_TRUE(app.waitForWidget("encoding", "ExportSheet")) << "Ctrl+E opened no export sheet";
  const auto hint = [&] {
    const auto label = app.widget("hint", "ExportSheet");
    return label ? label->text : std::string();
  };
  const std::string h264 = hint();
  ASSERT_TRUE(tabTo(app, "encoding")) << "Tab never reached the encoding";
  app.key("Right");
  EXPECT_TRUE(app.waitFor([&] { return hint() != h264 && hint().find("HEVC") == 0; }, 5s))
      << "the arrow did not choose HEVC: " << hint();
  app.shot("hevc-chosen-by-keys");
  ASSERT_TRUE(tabTo(app, "dismiss")) << "Tab never reached Cancel";
  app.shot("cancel-lit");
  app.key("Return");
  EXPECT_TRUE(app.waitFor([&] { return !app.window("ExportSheet"); }, 5s))
      << "Return on the lit Cancel left the sheet open";
  std::this_thread::sleep_for(1s);  // a save dialog would be up by now
  EXPECT_FALSE(app.window("QFileDialog")) << "Return on the lit Cancel began the export";
}

// Settings opens centred over the main window, which keeps it above; nothing in it is lit
// until Tab, so a Space does not switch the language, and Tab lights the chosen one.
TEST(Road, SettingsOpensOverTheWindowWithNoLanguageLit) {
  AppDriver app("settings-keys", "chinese");
  ASSERT_TRUE(app.launch()) << app.logText();
  app.key("ctrl+comma");
  ASSERT_TRUE(app.waitForWidget("chinese", "LanguageSettingsView")) << "Settings did not open";
  ASSERT_TRUE(app.waitFor([&] { return app.activeWindow() == "LanguageSettingsView"; }, 5s));
  app.shot("settings");
  const auto settings = app.window("LanguageSettingsView");
  const auto main = app.window("StudioWindow");
  ASSERT_TRUE(settings && main);
  EXPECT_EQ(settings->raw.value("owner", ""), "StudioWindow");
  EXPECT_NEAR(settings->rect.centerX(), main->rect.centerX(), 2);
  EXPECT_NEAR(settings->rect.centerY(), main->rect.centerY(), 2);
  EXPECT_EQ(focusedControl(app), "");
  app.key("space");
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(app.storedLanguage(), "chinese") << "a Space switched the language";
  ASSERT_TRUE(tabTo(app, "chinese"));
  app.shot("chosen-language-lit");
  app.key("space");
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(app.storedLanguage(), "chinese");
}

}  // namespace
}  // namespace vantry::e2e
