#include "e2e/roads.h"

#include <gtest/gtest.h>

#include <thread>

namespace vantry::e2e {

namespace fs = std::filesystem;

Spot desktopSpot(const AppDriver& app, int index) {
  const int w = app.screenWidth(), h = app.screenHeight();
  const std::vector<Widget> windows = app.windows();
  // Candidates along the right and bottom edges, in a fixed order.
  for (int i = 0, found = 0; i < 64; ++i) {
    const Spot spot{w - 40 - (i % 8) * 24, 60 + (i / 8) * (h - 120) / 8 + (i % 3) * 20};
    bool free = true;
    for (const Widget& win : windows) {
      const Rect& r = win.rect;
      if (spot.x >= r.x && spot.x < r.x + r.width && spot.y >= r.y && spot.y < r.y + r.height)
        free = false;
    }
    if (free && found++ == index) return spot;
  }
  ADD_FAILURE() << "no free spot on the desktop";
  return {w - 10, h - 10};
}

void desktopClick(AppDriver& app, Spot spot) {
  app.moveTo(spot.x, spot.y);
  app.press();
  std::this_thread::sleep_for(150ms);
  app.release();
}

std::string focusedControl(const AppDriver& app) {
  return app.map().value("focus", std::string());
}

bool tabTo(AppDriver& app, const std::string& name) {
  for (int presses = 0; presses < 80 && focusedControl(app) != name; ++presses) {
    const std::string before = focusedControl(app);
    app.key("Tab");
    app.waitFor([&] { return focusedControl(app) != before; }, 2s);
  }
  return focusedControl(app) == name;
}

fs::path recordByKeyboard(AppDriver& app, Millis length, int clicks,
                          const std::function<void()>& whileRecording, StopWith stop) {
  const size_t before = recordingFolders(app.recordings()).size();
  const Spot start = desktopSpot(app);
  app.moveTo(start.x, start.y);
  app.key("ctrl+shift+2");
  EXPECT_TRUE(app.waitFor([&] { return app.window("OverlayWindow").has_value(); }, 10s))
      << "the setup overlay did not show";
  app.shot("setup");
  app.key("Return");
  // The countdown runs on the overlay before the recording starts: 3, 2, 1.
  std::vector<int> countdown;
  bool shotCountdown = false;
  const bool started = app.waitFor(
      [&] {
        if (const auto overlay = app.window("OverlayWindow")) {
          const int n = overlay->raw.value("countdown", 0);
          if (n > 0 && (countdown.empty() || countdown.back() != n)) countdown.push_back(n);
          // Shot a step late: the painting follows the state.
          if (n == 2 && !shotCountdown) shotCountdown = !app.shot("countdown").empty();
          return false;
        }
        const auto chip = app.widget("recordingChip");
        return chip && !chip->shown.empty();
      },
      20s);
  EXPECT_EQ(countdown, (std::vector<int>{3, 2, 1})) << "the countdown did not run";
  EXPECT_TRUE(started) << "the recording did not start";
  if (!started) {
    app.shot("not-started");
    return {};
  }
  app.shot("recording");
  if (whileRecording) whileRecording();
  const auto step = length / (clicks + 1);
  for (int i = 0; i < clicks; ++i) {
    std::this_thread::sleep_for(step);
    desktopClick(app, desktopSpot(app, i + 1));
  }
  std::this_thread::sleep_for(step);
  if (stop == StopWith::stopButton) {
    EXPECT_TRUE(app.click("stopRecording")) << "no Stop button while recording";
  } else {
    app.key("ctrl+shift+2");
  }

  fs::path folder;
  const bool saved = app.waitFor(
      [&] {
        const auto folders = recordingFolders(app.recordings());
        if (folders.size() <= before) return false;
        folder = folders.back();
        const auto chip = app.widget("recordingChip");
        return fs::exists(folder / "project.json") && fs::exists(folder / "edit.json") &&
               (!chip || chip->shown.empty()) && app.widget("timeline").has_value();
      },
      60s);
  EXPECT_TRUE(saved) << "the recording was not saved and opened";
  app.shot("recorded");
  return saved ? folder : fs::path();
}

}  // namespace vantry::e2e
