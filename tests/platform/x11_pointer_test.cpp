// The pointer as the 60 Hz sampler sees it: position on the root, the left button, and
// taps shorter than one tick.
#include <gtest/gtest.h>

#include <thread>

#include "platform/x11/x11_screen_capture.h"
#include "support/scoped_env.h"
#include "support/x_relay.h"
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

// On a busy machine the sampler may lose the processor between the reply to its position
// query and reading its events: a press made meanwhile is read along with that reply. It
// belongs to the next reading, with the place it was made at, never to the place before.
TEST(X11Pointer, APressMadeAfterThePositionWasReadCountsAtTheNextReading) {
  PrivateXServer x;
  test::XRelay relay(x.name());
  platform::x11::X11ScreenCapture capture;
  std::unique_ptr<platform::PointerSource> pointer;
  {
    const test::ScopedEnv display("DISPLAY", relay.display().c_str());
    pointer = capture.createPointerSource();
  }
  x.movePointer(10, 10);
  EXPECT_FALSE(pointer->read().leftDown);

  relay.hold(true);
  platform::PointerState first;
  std::jthread reading([&] { first = pointer->read(); });
  const struct LetGo {
    test::XRelay& relay;
    ~LetGo() { relay.hold(false); }
  } letGo{relay};
  constexpr std::size_t kReply = 32;  // bytes of the position's reply
  ASSERT_TRUE(relay.waitForKept(kReply - 1)) << "the position's reply";
  x.movePointer(300, 200);
  x.button(true);
  x.button(false);
  ASSERT_TRUE(relay.waitForKept(kReply)) << "the press after it";
  relay.hold(false);
  reading.join();
  EXPECT_EQ(first.location, (platform::Point{10, 10}));
  EXPECT_FALSE(first.leftDown) << "the press was told at the place before it";
  EXPECT_EQ(first.pressesSinceLastRead, 0);
  const auto second = pointer->read();
  EXPECT_EQ(second.location, (platform::Point{300, 200}));
  EXPECT_TRUE(second.leftDown);
  EXPECT_EQ(second.pressesSinceLastRead, 1);
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
