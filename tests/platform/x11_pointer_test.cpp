// The pointer as the 60 Hz sampler sees it: position on the root, the left button, and
// taps shorter than one tick.
#include <gtest/gtest.h>

#include <thread>

#include "platform/x11/x11_screen_capture.h"
#include "x11_test_server.h"

namespace vantry {
namespace {

using namespace std::chrono_literals;
using testing::PrivateXServer;

TEST(X11Pointer, PositionAndLeftButtonInRootCoordinates) {
  PrivateXServer x(3840, 1080);
  platform::x11::X11ScreenCapture capture;
  auto pointer = capture.createPointerSource();
  x.movePointer(2500, 700);
  auto s = pointer->read();
  EXPECT_TRUE(s.live);
  EXPECT_EQ(s.location, (platform::Point{2500, 700}));
  EXPECT_FALSE(s.leftDown);

  x.button(true);
  s = pointer->read();
  EXPECT_TRUE(s.leftDown);
  EXPECT_EQ(s.pressesSinceLastRead, 1);
  s = pointer->read();  // still held: down, but no new press
  EXPECT_TRUE(s.leftDown);
  EXPECT_EQ(s.pressesSinceLastRead, 0);
  x.button(false);
  s = pointer->read();
  EXPECT_FALSE(s.leftDown);
}

TEST(X11Pointer, ATapBetweenTwoReadsIsLatched) {
  PrivateXServer x;
  platform::x11::X11ScreenCapture capture;
  auto pointer = capture.createPointerSource();
  x.movePointer(100, 100);
  EXPECT_FALSE(pointer->read().leftDown);
  x.button(true);
  x.button(false);
  auto s = pointer->read();
  EXPECT_TRUE(s.leftDown);
  EXPECT_EQ(s.pressesSinceLastRead, 1);
  s = pointer->read();
  EXPECT_FALSE(s.leftDown);
  EXPECT_EQ(s.pressesSinceLastRead, 0);

  // Other buttons are not clicks.
  XTestFakeButtonEvent(x.display(), 3, True, CurrentTime);
  XTestFakeButtonEvent(x.display(), 3, False, CurrentTime);
  XSync(x.display(), False);
  EXPECT_EQ(pointer->read().pressesSinceLastRead, 0);
}

// A source that loses the pointer now and then.
class FlakySource : public platform::PointerSource {
 public:
  using PointerSource::Raw;
  std::vector<std::optional<Raw>> script;
  std::size_t next = 0;

 protected:
  std::optional<Raw> query() override { return script.at(next++); }
};

TEST(PointerSource, AnUnreadablePointerRepeatsTheLastPositionWithTheButtonUp) {
  FlakySource source;
  source.script = {std::nullopt, FlakySource::Raw{{640, 360}, true, 1}, std::nullopt,
                   FlakySource::Raw{{10, 20}, false, 0}};
  auto s = source.read();  // nothing known yet
  EXPECT_FALSE(s.live);
  EXPECT_FALSE(s.leftDown);
  s = source.read();
  EXPECT_EQ(s.location, (platform::Point{640, 360}));
  EXPECT_TRUE(s.leftDown);
  s = source.read();  // lost: no jump to the corner, no press held on
  EXPECT_FALSE(s.live);
  EXPECT_EQ(s.location, (platform::Point{640, 360}));
  EXPECT_FALSE(s.leftDown);
  EXPECT_EQ(s.pressesSinceLastRead, 0);
  s = source.read();
  EXPECT_TRUE(s.live);
  EXPECT_EQ(s.location, (platform::Point{10, 20}));
}

TEST(X11Pointer, ALostServerRepeatsTheLastPosition) {
  auto x = std::make_unique<PrivateXServer>(800, 600);
  platform::x11::X11ScreenCapture capture;
  auto pointer = capture.createPointerSource();
  x->movePointer(321, 123);
  EXPECT_EQ(pointer->read().location, (platform::Point{321, 123}));
  x.reset();
  std::this_thread::sleep_for(100ms);
  auto s = pointer->read();
  EXPECT_FALSE(s.live);
  EXPECT_EQ(s.location, (platform::Point{321, 123}));
  EXPECT_FALSE(s.leftDown);
}

TEST(X11Cursor, TheCursorImageIsReadable) {
  PrivateXServer x;
  platform::x11::X11ScreenCapture capture;
  auto cursor = capture.cursorImage();
  ASSERT_TRUE(cursor);
  EXPECT_GT(cursor->width, 0);
  EXPECT_EQ(cursor->argb.size(), std::size_t(cursor->width) * cursor->height);
}

}  // namespace
}  // namespace vantry
