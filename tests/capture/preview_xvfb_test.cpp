// DisplayPreview on a real (private) X server: what the user sees before recording.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

// Qt before Xlib: Xlib's macros (Status, None...) break Qt's headers.
#include "capture/display_preview.h"

#include "../platform/x11_test_server.h"
#include "platform/x11/x11_screen_capture.h"

namespace vantry {
namespace {

using namespace std::chrono_literals;

struct Latest {
  std::mutex mutex;
  QImage image;
  int count = 0;
  QImage waitFor(int frames) {
    for (int i = 0; i < 300; ++i) {
      {
        std::lock_guard lock(mutex);
        if (count >= frames) return image.copy();
      }
      std::this_thread::sleep_for(10ms);
    }
    return {};
  }
};

TEST(DisplayPreviewX11, ShowsTheDisplayWithThePointerButNotTheApplication) {
  testing::PrivateXServer x;
  testing::ColourWindow backdrop(x.display(), 0, 0, 1920, 1080, 0x204080, "Desktop", "Editor");
  testing::OwnConnection ours(x.name());
  testing::ColourWindow own(ours.display(), 960, 0, 960, 1080, 0xff00ff, "Vantry", "Vantry");
  x.movePointer(480, 540);
  DisplayPreview preview(std::make_shared<platform::x11::X11ScreenCapture>("Vantry"));
  Latest latest;
  preview.onFrame = [&](const QImage& image) {
    std::lock_guard lock(latest.mutex);
    latest.image = image;
    ++latest.count;
  };
  const auto displays = platform::x11::X11ScreenCapture().shareableContent().displays;
  preview.start(displays.front().id, std::nullopt);
  // The newest picture once the screen has settled.
  latest.waitFor(1);
  std::this_thread::sleep_for(300ms);
  QImage image = latest.waitFor(1);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(960, 540));
  // The application's own window is left out: the right half shows the backdrop.
  EXPECT_EQ(image.pixel(720, 100) & 0xffffff, 0x204080u);
  EXPECT_EQ(image.pixel(100, 100) & 0xffffff, 0x204080u);
  // The pointer is drawn in, near (240, 270) at half size.
  bool pointerSeen = false;
  for (int y = 262; y < 285 && !pointerSeen; ++y) {
    for (int x2 = 232; x2 < 255; ++x2) {
      if ((image.pixel(x2, y) & 0xffffff) != 0x204080u) pointerSeen = true;
    }
  }
  EXPECT_TRUE(pointerSeen);

  auto count = [&] {
    std::lock_guard lock(latest.mutex);
    return latest.count;
  };
  // A still screen is handed on once: nothing more while nothing moves.
  const int still = count();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(count(), still);

  // A pointer that keeps moving: every frame differs, at most fifteen a second.
  const int before = count();
  const auto end = std::chrono::steady_clock::now() + 1s;
  for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
    x.movePointer(200 + i % 500, 540);  // a new place every time
    std::this_thread::sleep_for(5ms);
  }
  const int moving = count() - before;
  EXPECT_LE(moving, 16);
  EXPECT_GE(moving, 8);
  preview.stop();
}

TEST(DisplayPreviewX11, AWindowPreviewFollowsTheWindowShape) {
  testing::PrivateXServer x;
  testing::ColourWindow window(x.display(), 200, 200, 1000, 500, 0x00ff00, "Chart", "Charts");
  DisplayPreview preview(std::make_shared<platform::x11::X11ScreenCapture>("Vantry"));
  Latest latest;
  preview.onFrame = [&](const QImage& image) {
    std::lock_guard lock(latest.mutex);
    latest.image = image;
    ++latest.count;
  };
  preview.start(0, platform::WindowId(window.id()));
  QImage image = latest.waitFor(1);
  preview.stop();
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(960, 480));
  EXPECT_EQ(image.pixel(20, 20) & 0xffffff, 0x00ff00u);
}

}  // namespace
}  // namespace vantry
