// Listing displays and windows on a private X server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "localization/localization.h"
#include "platform/x11/x11_screen_capture.h"
#include "support/shell.h"
#include "support/temp_dir.h"
#include "x11_test_server.h"

namespace vantry {
namespace {

using platform::Rect;
using testing::ColourWindow;
using testing::PrivateXServer;

const platform::WindowInfo* findWindow(const platform::ShareableContent& c, Window id) {
  for (const auto& w : c.windows) {
    if (w.id == platform::WindowId(id)) return &w;
  }
  return nullptr;
}

TEST(X11Sources, MonitorsAreDisplaysInRootCoordinatesWithThePrimaryMarked) {
  PrivateXServer x(3840, 1080);
  x.setMonitors({PrivateXServer::monitor(x.display(), "LEFT", 0, 0, 1920, 1080, false),
                 PrivateXServer::monitor(x.display(), "RIGHT", 1920, 0, 1920, 1080, true)});
  platform::x11::X11ScreenCapture capture;
  const auto content = capture.shareableContent();
  ASSERT_EQ(content.displays.size(), 2u);
  auto left = std::find_if(content.displays.begin(), content.displays.end(),
                           [](const auto& d) { return d.name == "LEFT"; });
  auto right = std::find_if(content.displays.begin(), content.displays.end(),
                            [](const auto& d) { return d.name == "RIGHT"; });
  ASSERT_NE(left, content.displays.end());
  ASSERT_NE(right, content.displays.end());
  EXPECT_EQ(left->frame, (Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(right->frame, (Rect{1920, 0, 1920, 1080}));
  EXPECT_FALSE(left->primary);
  EXPECT_TRUE(right->primary);
  EXPECT_NE(left->id, right->id);

  // The identifiers stay the same from one listing to the next.
  const auto again = capture.shareableContent();
  ASSERT_EQ(again.displays.size(), 2u);
  EXPECT_TRUE(again.displays[0].id == left->id || again.displays[1].id == left->id);
}

TEST(X11Sources, WindowsCarryTitleApplicationPidAndFollowTheirMoves) {
  PrivateXServer x;
  ColourWindow back(x.display(), 50, 60, 400, 300, 0xff0000, "Back 窗口", "Editor", 4242);
  ColourWindow front(x.display(), 500, 100, 200, 150, 0x00ff00, "Front", "Browser");
  platform::x11::X11ScreenCapture capture;
  auto content = capture.shareableContent();

  const auto* b = findWindow(content, back.id());
  const auto* f = findWindow(content, front.id());
  ASSERT_TRUE(b && f);
  EXPECT_EQ(b->title, "Back 窗口");
  EXPECT_EQ(b->application.identifier, "Editor");
  EXPECT_EQ(b->application.pid, 4242);
  EXPECT_EQ(b->frame, (Rect{50, 60, 400, 300}));
  EXPECT_EQ(b->layer, 0);
  EXPECT_EQ(f->application.pid, 0);
  // Front to back: the window mapped last is on top.
  EXPECT_LT(f - content.windows.data(), b - content.windows.data());
  EXPECT_TRUE(std::any_of(content.applications.begin(), content.applications.end(),
                          [](const auto& a) { return a.identifier == "Editor" && a.pid == 4242; }));

  back.move(700, 400);
  EXPECT_EQ(capture.windowRect(platform::WindowId(back.id())), (Rect{700, 400, 400, 300}));
}

TEST(X11Sources, UnmappedAndDestroyedWindowsAreNotListed) {
  PrivateXServer x;
  platform::x11::X11ScreenCapture capture;
  Window gone = 0;
  {
    ColourWindow w(x.display(), 10, 10, 100, 100, 0x0000ff);
    gone = w.id();
    ASSERT_TRUE(findWindow(capture.shareableContent(), gone));
  }
  EXPECT_FALSE(findWindow(capture.shareableContent(), gone));
  EXPECT_EQ(capture.windowRect(platform::WindowId(gone)), std::nullopt);
  EXPECT_EQ(capture.windowRect(0x7ffffff), std::nullopt);
}

TEST(X11Sources, WindowIconsPickTheSmallestSizeBigEnoughAndRefuseBrokenData) {
  PrivateXServer x;
  ColourWindow plain(x.display(), 10, 10, 200, 150, 0x0000ff);
  ColourWindow with(x.display(), 300, 10, 200, 150, 0x00ff00);
  // 16 x 16 red, then 48 x 48 blue, then 64 x 64 green.
  std::vector<unsigned long> values;
  for (auto [side, argb] : {std::pair{16, 0xFFFF0000ul}, {48, 0xFF0000FFul}, {64, 0x8000FF00ul}}) {
    values.push_back(side);
    values.push_back(side);
    values.insert(values.end(), size_t(side) * side, argb);
  }
  auto setIcon = [&](Window w, const std::vector<unsigned long>& v) {
    XChangeProperty(x.display(), w, XInternAtom(x.display(), "_NET_WM_ICON", False), XA_CARDINAL,
                    32, PropModeReplace, reinterpret_cast<const unsigned char*>(v.data()),
                    int(v.size()));
    XSync(x.display(), False);
  };
  setIcon(with.id(), values);
  platform::x11::X11ScreenCapture capture;
  EXPECT_FALSE(capture.windowIcon(platform::WindowId(plain.id()), 32));
  auto icon = capture.windowIcon(platform::WindowId(with.id()), 32);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 48);
  EXPECT_EQ(icon->argb.size(), 48u * 48u);
  EXPECT_EQ(icon->argb[0], 0xFF0000FFu);
  icon = capture.windowIcon(platform::WindowId(with.id()), 128);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->width, 64) << "none is big enough: the biggest";
  EXPECT_EQ(icon->argb[0], 0x8000FF00u);

  // A size that promises more values than there are.
  setIcon(with.id(), {64, 64, 0xFFFFFFFF, 0xFFFFFFFF});
  EXPECT_FALSE(capture.windowIcon(platform::WindowId(with.id()), 32));
}

TEST(X11Sources, OwnApplicationIsThisProcessUnderTheGivenClass) {
  platform::x11::X11ScreenCapture capture("Vantry");
  const auto own = capture.ownApplication();
  EXPECT_EQ(own.identifier, "Vantry");
  EXPECT_EQ(own.pid, getpid());
  EXPECT_TRUE(own.thisApplication);
}

TEST(X11Sources, NoXServerGivesAPlainMessageInBothLanguages) {
  setenv("DISPLAY", ":59999", 1);
  platform::x11::X11ScreenCapture capture;
  for (AppLanguage language : {AppLanguage::english, AppLanguage::chinese}) {
    setCurrentLanguage(language);
    try {
      capture.shareableContent();
      ADD_FAILURE() << "listing without an X server succeeded";
    } catch (const platform::PlatformError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("X11"), std::string::npos) << message;
      EXPECT_NE(message.find("Wayland"), std::string::npos) << message;
      if (language == AppLanguage::chinese) {
        EXPECT_NE(message.find("无法连接"), std::string::npos) << message;
      }
    }
    EXPECT_THROW(capture.createPointerSource(), platform::PlatformError);
    EXPECT_EQ(capture.windowRect(1), std::nullopt);
  }
  setCurrentLanguage(AppLanguage::english);
}

// A crash reads as status -1, never as success.
vantry::test::CommandRun runTool(const std::string& args) {
  return vantry::test::runShell(std::string(VANTRY_TOOL_PATH) + " " + args + " 2>&1");
}

TEST(X11Sources, TheToolListsDisplaysAndWindowsAsJson) {
  PrivateXServer x(2560, 1440);
  ColourWindow w(x.display(), 30, 40, 640, 480, 0xff0000, "Slides — 第一页", "Presenter", 777);
  const auto run = runTool("sources");
  ASSERT_EQ(run.status, 0) << run.out;
  const auto json = nlohmann::json::parse(run.out);
  ASSERT_EQ(json["displays"].size(), 1u);
  EXPECT_EQ(json["displays"][0]["rect"]["width"], 2560);
  EXPECT_EQ(json["displays"][0]["rect"]["height"], 1440);
  EXPECT_TRUE(json["displays"][0]["primary"].get<bool>());
  bool found = false;
  for (const auto& win : json["windows"]) {
    if (win["id"] != w.id()) continue;
    found = true;
    EXPECT_EQ(win["title"], "Slides — 第一页");
    EXPECT_EQ(win["application"], "Presenter");
    EXPECT_EQ(win["pid"], 777);
    EXPECT_EQ(win["rect"]["x"], 30);
    EXPECT_EQ(win["rect"]["width"], 640);
  }
  EXPECT_TRUE(found) << run.out;
}

TEST(X11Sources, TheToolWritesEachWindowsIconAsPng) {
  PrivateXServer x;
  ColourWindow with(x.display(), 10, 10, 200, 150, 0x00ff00, "With", "Iconic");
  ColourWindow without(x.display(), 300, 10, 200, 150, 0x0000ff, "Without", "Plain");
  std::vector<unsigned long> values{48, 48};
  values.insert(values.end(), 48 * 48, 0xFF00FF00ul);
  XChangeProperty(x.display(), with.id(), XInternAtom(x.display(), "_NET_WM_ICON", False),
                  XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(values.data()), int(values.size()));
  XSync(x.display(), False);
  vantry::test::TempDir folder;
  // Window ids are easy to guess: a link planted under one is replaced, not written through.
  const std::filesystem::path planted =
      folder.path / "icons" / (std::to_string(with.id()) + ".png");
  std::filesystem::create_directories(folder.path / "icons");
  // Nor does the icon take the mode of what the link leads to.
  std::ofstream(folder.path / "victim") << "precious";
  ::chmod((folder.path / "victim").c_str(), 06777);
  std::filesystem::create_symlink(folder.path / "victim", planted);
  const mode_t mask = ::umask(077);
  const auto run = runTool("sources --icons '" + (folder.path / "icons").string() + "'");
  ::umask(mask);
  ASSERT_EQ(run.status, 0) << run.out;
  std::string kept;
  std::getline(std::ifstream(folder.path / "victim"), kept);
  EXPECT_EQ(kept, "precious");
  struct stat st {};
  ASSERT_EQ(::lstat((folder.path / "victim").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 06777u);
  ASSERT_EQ(::lstat(planted.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode, S_IFREG | 0600);
  const auto json = nlohmann::json::parse(run.out);
  int seen = 0;
  for (const auto& win : json["windows"]) {
    if (win["id"] == without.id()) {
      ++seen;
      EXPECT_FALSE(win.contains("icon"));
    }
    if (win["id"] != with.id()) continue;
    ++seen;
    const std::string path = win.value("icon", "");
    EXPECT_EQ(path, (folder.path / "icons" / (std::to_string(with.id()) + ".png")).string());
    // The PNG signature, then the header chunk with the width and height.
    std::ifstream file(path, std::ios::binary);
    std::array<unsigned char, 24> head{};
    file.read(reinterpret_cast<char*>(head.data()), head.size());
    ASSERT_TRUE(file) << path;
    EXPECT_EQ(head[1], 'P');
    EXPECT_EQ(head[19], 48);
    EXPECT_EQ(head[23], 48);
  }
  EXPECT_EQ(seen, 2) << run.out;
  EXPECT_EQ(runTool("sources --icons").status, 64);
}

TEST(X11Sources, TheToolSaysSoWhenThereIsNoXServer) {
  setenv("DISPLAY", ":59998", 1);
  const auto run = runTool("sources");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("X11"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace vantry
