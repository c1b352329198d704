// Mapping the pointer into the captured frame: the worked example, clamping, letterboxing,
// degenerate input, and the mapping on real one- and two-monitor X servers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "../platform/x11_test_server.h"
#include "capture/capture_target.h"
#include "platform/x11/x11_screen_capture.h"

namespace vantry {
namespace {

using platform::Rect;
using platform::Size;

void expectNear(Point p, double x, double y) {
  EXPECT_NEAR(p.x, x, 1e-12);
  EXPECT_NEAR(p.y, y, 1e-12);
}

TEST(PointerMapping, WorkedExampleOfASquareSourceOnAWideCanvas) {
  const Rect rect{100, 50, 1000, 1000};
  const Size canvas{1920, 1080};
  expectNear(CaptureTarget::normalizedPointer({600, 550}, rect, canvas), 0.5, 0.5);
  expectNear(CaptureTarget::normalizedPointer({100, 50}, rect, canvas), 0.21875, 0);
  expectNear(CaptureTarget::normalizedPointer({2000, 2000}, rect, canvas), 1, 1);
}

TEST(PointerMapping, OutsideTheSourceClampsToItsEdges) {
  const Rect rect{1920, 0, 1920, 1080};
  const Size canvas{1920, 1080};
  expectNear(CaptureTarget::normalizedPointer({100, -40}, rect, canvas), 0, 0);
  expectNear(CaptureTarget::normalizedPointer({5000, 2000}, rect, canvas), 1, 1);
  expectNear(CaptureTarget::normalizedPointer({1920 + 480, 270}, rect, canvas), 0.25, 0.25);
  // The right edge itself is the last column.
  expectNear(CaptureTarget::normalizedPointer({3840, 1080}, rect, canvas), 1, 1);
}

TEST(PointerMapping, TheSourceCentreIsTheFrameCentreWhateverTheProportions) {
  const Rect sources[] = {{0, 0, 1000, 1000}, {10, 20, 400, 1200}, {-300, 7, 2560, 1080}};
  const Size canvases[] = {{1920, 1080}, {1000, 600}, {2, 2}, {960, 2}};
  for (const Rect& r : sources) {
    for (const Size& c : canvases) {
      expectNear(CaptureTarget::normalizedPointer({r.x + r.width / 2, r.y + r.height / 2}, r, c),
                 0.5, 0.5);
    }
  }
  // A tall window on a wide canvas: its left edge lies inside the frame, not at 0.
  const Point left = CaptureTarget::normalizedPointer({10, 620}, {10, 20, 400, 1200}, {1920, 1080});
  EXPECT_NEAR(left.x, (1920 - 400 * 0.9) / 2 / 1920, 1e-12);
}

TEST(PointerMapping, DegenerateInputGivesTheCentre) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  expectNear(CaptureTarget::normalizedPointer({5, 5}, {0, 0, 0, 100}, {1920, 1080}), 0.5, 0.5);
  expectNear(CaptureTarget::normalizedPointer({5, 5}, {0, 0, 100, -1}, {1920, 1080}), 0.5, 0.5);
  expectNear(CaptureTarget::normalizedPointer({5, 5}, {0, 0, 100, 100}, {0, 1080}), 0.5, 0.5);
  expectNear(CaptureTarget::normalizedPointer({5, 5}, {0, 0, nan, 100}, {1920, 1080}), 0.5, 0.5);
  expectNear(CaptureTarget::normalizedPointer({5, 5}, {0, 0, 100, 100}, {1920, nan}), 0.5, 0.5);
  // A pointer that is not a number never leaves 0..1.
  const Point p = CaptureTarget::normalizedPointer({nan, nan}, {0, 0, 100, 100}, {100, 100});
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
}

// The pointer as XTest puts it, read through the X11 pointer source and mapped onto the
// display that is being captured.
TEST(PointerMapping, OnTwoMonitorsTheRightOneMapsItsOwnPointer) {
  testing::PrivateXServer x(3840, 1080);
  x.setMonitors({testing::PrivateXServer::monitor(x.display(), "L", 0, 0, 1920, 1080, true),
                 testing::PrivateXServer::monitor(x.display(), "R", 1920, 0, 1920, 1080, false)});
  platform::x11::X11ScreenCapture capture;
  const auto content = capture.shareableContent();
  platform::DisplayId right = 0;
  for (const auto& d : content.displays) {
    if (d.name == "R") right = d.id;
  }
  const CaptureTarget target =
      CaptureTarget::resolve(content, right, std::nullopt, capture.ownApplication());
  EXPECT_EQ(target.rect, (Rect{1920, 0, 1920, 1080}));
  auto pointer = capture.createPointerSource();
  const Size canvas{1920, 1080};

  x.movePointer(1920 + 960, 540);
  expectNear(CaptureTarget::normalizedPointer(pointer->read().location, target.rect, canvas), 0.5,
             0.5);
  x.movePointer(1920 + 480, 810);
  expectNear(CaptureTarget::normalizedPointer(pointer->read().location, target.rect, canvas), 0.25,
             0.75);
  x.movePointer(300, 300);  // on the other monitor
  const auto s = pointer->read();
  EXPECT_FALSE(target.rect.contains(s.location));
  expectNear(CaptureTarget::normalizedPointer(s.location, target.rect, canvas), 0, 300.0 / 1080);
}

TEST(PointerMapping, ClickEdgesOnOneMonitor) {
  testing::PrivateXServer x(1280, 720);
  platform::x11::X11ScreenCapture capture;
  const auto content = capture.shareableContent();
  const CaptureTarget target = CaptureTarget::resolve(content, content.displays.front().id,
                                                      std::nullopt, capture.ownApplication());
  auto pointer = capture.createPointerSource();
  // The sampler's rule: a press that begins inside the captured area, once per press.
  bool lastPressed = false;
  auto tick = [&] {
    const auto s = pointer->read();
    const bool pressed = s.leftDown;
    const bool clicked = (s.pressesSinceLastRead > 0 || (pressed && !lastPressed)) &&
                         target.rect.contains(s.location);
    lastPressed = pressed;
    return clicked;
  };
  x.movePointer(640, 360);
  EXPECT_FALSE(tick());
  x.button(true);
  EXPECT_TRUE(tick());
  EXPECT_FALSE(tick());  // held: no second click
  x.button(false);
  EXPECT_FALSE(tick());
  x.button(true);
  x.button(false);
  EXPECT_TRUE(tick());  // a tap between two ticks still counts
  EXPECT_FALSE(tick());
  x.movePointer(1279, 719);
  x.button(true);
  EXPECT_TRUE(tick());  // the last pixel is still inside
  x.button(false);
  tick();
}

}  // namespace
}  // namespace vantry
