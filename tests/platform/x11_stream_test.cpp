// What display and window streams deliver: content, scaling, letterboxing, the
// application's own windows left out, pacing, and streams that end by themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "localization/localization.h"
#include "platform/x11/x11_screen_capture.h"
#include "x11_helpers.h"
#include "x11_test_server.h"

namespace vantry {
namespace {

using namespace std::chrono_literals;
using platform::ContentFilter;
using platform::StreamConfiguration;
using testing::ColourWindow;
using testing::FrameCollector;
using testing::PrivateXServer;
using testing::rgbAt;

ContentFilter displayFilter(platform::ScreenCapture& capture, double w = 1920, double h = 1080) {
  ContentFilter f;
  f.kind = ContentFilter::Kind::display;
  const auto content = capture.shareableContent();
  f.display = content.displays.front().id;
  f.rect = {0, 0, w, h};
  f.excludedApplications = {capture.ownApplication()};
  return f;
}

ContentFilter windowFilter(Window w, double width, double height) {
  ContentFilter f;
  f.kind = ContentFilter::Kind::window;
  f.window = platform::WindowId(w);
  f.rect = {0, 0, width, height};
  return f;
}

StreamConfiguration sized(int w, int h, double interval = 1.0 / 60.0) {
  StreamConfiguration c;
  c.width = w;
  c.height = h;
  c.minimumFrameInterval = interval;
  return c;
}

TEST(X11DisplayStream, FramesShowTheScreenAtFullSizeAndScaledDown) {
  PrivateXServer x;
  ColourWindow red(x.display(), 100, 100, 200, 200, 0xff0000);
  ColourWindow blue(x.display(), 1500, 800, 300, 200, 0x0000ff);
  x.movePointer(200, 200);
  platform::x11::X11ScreenCapture capture;

  FrameCollector full;
  auto stream = capture.createStream(displayFilter(capture), sized(1920, 1080), full.callbacks());
  stream->start();
  platform::Frame f = full.next();
  stream->stop();
  ASSERT_TRUE(f.image);
  ASSERT_EQ(f.image->width, 1920);
  ASSERT_EQ(f.image->height, 1080);
  // The recording has no pointer: the editor draws its own.
  for (int d = -6; d <= 6; ++d) {
    EXPECT_EQ(rgbAt(*f.image, 200 + d, 200 + d), 0xff0000u);
    EXPECT_EQ(rgbAt(*f.image, 200 + d, 200), 0xff0000u);
  }
  EXPECT_EQ(rgbAt(*f.image, 100, 100), 0xff0000u);
  EXPECT_NE(rgbAt(*f.image, 99, 99), 0xff0000u);
  EXPECT_EQ(rgbAt(*f.image, 1650, 900), 0x0000ffu);
  EXPECT_EQ(f.image->row(5)[3], 255);  // opaque

  FrameCollector half;
  stream = capture.createStream(displayFilter(capture), sized(960, 540), half.callbacks());
  stream->start();
  f = half.next();
  stream->stop();
  ASSERT_TRUE(f.image);
  EXPECT_EQ(f.image->width, 960);
  EXPECT_EQ(rgbAt(*f.image, 100, 100), 0xff0000u);
  EXPECT_EQ(rgbAt(*f.image, 825, 450), 0x0000ffu);
}

TEST(X11DisplayStream, TheApplicationsOwnWindowsAreLeftOutAndNoOneElseCanHide) {
  PrivateXServer x;
  ColourWindow under(x.display(), 0, 0, 900, 700, 0x0000ff, "Document", "Editor");
  testing::OwnConnection ours(x.name());
  ColourWindow mine(ours.display(), 100, 100, 300, 300, 0x00ff00, "Vantry", "Recorder");
  testing::OtherInstanceWindow other(x.name(), 600, 100, 200, 200, 0x00ff00);
  // Another client that takes our class and our pid is recorded as it is.
  ColourWindow impostor(x.display(), 100, 450, 200, 200, 0xff00ff, "Vantry", "Vantry", getpid());
  ColourWindow above(x.display(), 350, 350, 100, 100, 0xffff00, "Sticky", "Notes");
  platform::x11::X11ScreenCapture capture("Vantry");
  EXPECT_TRUE(capture.canExcludeOwnWindows());

  FrameCollector frames;
  auto stream = capture.createStream(displayFilter(capture), sized(1920, 1080), frames.callbacks());
  stream->start();
  platform::Frame f = frames.next();
  stream->stop();
  ASSERT_TRUE(f.image);
  // Our own window (made on our connection) shows what lies beneath it...
  EXPECT_EQ(rgbAt(*f.image, 200, 200), 0x0000ffu);
  // ...as does another instance's (a process of this executable, as the server says),...
  EXPECT_EQ(rgbAt(*f.image, 700, 200), 0x0000ffu);
  // ...while a foreign window above it stays, and the desktop outside is untouched.
  EXPECT_EQ(rgbAt(*f.image, 380, 380), 0xffff00u);
  EXPECT_EQ(rgbAt(*f.image, 850, 650), 0x0000ffu);
  EXPECT_EQ(rgbAt(*f.image, 200, 550), 0xff00ffu);
}

TEST(X11DisplayStream, WithoutCompositeTheRootIsGrabbedAsItIs) {
  PrivateXServer x;
  setenv("VANTRY_X11_NO_COMPOSITE", "1", 1);
  ColourWindow under(x.display(), 0, 0, 900, 700, 0x0000ff);
  ColourWindow mine(x.display(), 100, 100, 300, 300, 0x00ff00, "Vantry", "Recorder", getpid());
  platform::x11::X11ScreenCapture capture;
  EXPECT_FALSE(capture.canExcludeOwnWindows());  // the notice must say the window shows
  FrameCollector frames;
  auto stream = capture.createStream(displayFilter(capture), sized(960, 540), frames.callbacks());
  stream->start();
  platform::Frame f = frames.next();
  stream->stop();
  unsetenv("VANTRY_X11_NO_COMPOSITE");
  ASSERT_TRUE(f.image);
  EXPECT_EQ(rgbAt(*f.image, 100, 100), 0x00ff00u);
  EXPECT_EQ(rgbAt(*f.image, 300, 300), 0x0000ffu);
}

TEST(X11DisplayStream, WithoutSharedMemoryTheAreaIsStillRead) {
  PrivateXServer x(1280, 720, {"-extension", "MIT-SHM"});
  ColourWindow left(x.display(), 0, 0, 640, 720, 0xff0000);
  ColourWindow window(x.display(), 700, 100, 400, 300, 0x00ff00, "Target");
  platform::x11::X11ScreenCapture capture;
  EXPECT_FALSE(capture.canExcludeOwnWindows());
  FrameCollector frames;
  auto stream =
      capture.createStream(displayFilter(capture, 1280, 720), sized(640, 360), frames.callbacks());
  stream->start();
  platform::Frame f = frames.next();
  stream->stop();
  ASSERT_TRUE(f.image);
  EXPECT_EQ(rgbAt(*f.image, 100, 100), 0xff0000u);
  EXPECT_EQ(rgbAt(*f.image, 450, 120), 0x00ff00u);

  FrameCollector windowFrames;
  stream = capture.createStream(windowFilter(window.id(), 400, 300), sized(400, 300),
                                windowFrames.callbacks());
  stream->start();
  f = windowFrames.next();
  stream->stop();
  ASSERT_TRUE(f.image);
  EXPECT_EQ(rgbAt(*f.image, 10, 10), 0x00ff00u);
  EXPECT_EQ(rgbAt(*f.image, 390, 290), 0x00ff00u);
}

TEST(X11WindowStream, ACoveredWindowStillRecordsLetterboxedAndFollowsMoves) {
  PrivateXServer x;
  ColourWindow target(x.display(), 100, 100, 400, 300, 0xff0000, "Target");
  ColourWindow cover(x.display(), 50, 50, 600, 500, 0x00ff00, "Cover");
  platform::x11::X11ScreenCapture capture;

  FrameCollector frames;
  // 400 x 300 into 800 x 300: scaled by 1, bars of 200 left and right.
  auto stream = capture.createStream(windowFilter(target.id(), 400, 300), sized(800, 300),
                                     frames.callbacks());
  stream->start();
  platform::Frame f = frames.next();
  ASSERT_TRUE(f.image);
  EXPECT_EQ(rgbAt(*f.image, 400, 150), 0xff0000u);
  EXPECT_EQ(rgbAt(*f.image, 201, 5), 0xff0000u);
  EXPECT_EQ(rgbAt(*f.image, 10, 150), 0x000000u);
  EXPECT_EQ(rgbAt(*f.image, 790, 150), 0x000000u);

  target.move(900, 600);
  target.fill(0x0000ff);
  f = frames.next(4);
  stream->stop();
  ASSERT_TRUE(f.image);
  EXPECT_EQ(rgbAt(*f.image, 400, 150), 0x0000ffu);
  EXPECT_EQ(capture.windowRect(platform::WindowId(target.id())),
            (platform::Rect{900, 600, 400, 300}));
}

TEST(X11WindowStream, ATranslucentWindowComesOutOpaqueOverBlack) {
  PrivateXServer x;
  Display* d = x.display();
  XVisualInfo vi{};
  ASSERT_TRUE(XMatchVisualInfo(d, DefaultScreen(d), 32, TrueColor, &vi));
  XSetWindowAttributes a{};
  a.colormap = XCreateColormap(d, DefaultRootWindow(d), vi.visual, AllocNone);
  a.background_pixel = 0x80800000;  // red at half coverage, premultiplied
  a.border_pixel = 0;
  Window w = XCreateWindow(d, DefaultRootWindow(d), 40, 40, 300, 200, 0, 32, InputOutput, vi.visual,
                           CWColormap | CWBackPixel | CWBorderPixel, &a);
  XMapRaised(d, w);
  XSync(d, False);
  platform::x11::X11ScreenCapture capture;
  FrameCollector frames;
  auto stream =
      capture.createStream(windowFilter(w, 300, 200), sized(300, 200), frames.callbacks());
  stream->start();
  platform::Frame f = frames.next();
  stream->stop();
  ASSERT_TRUE(f.image);
  EXPECT_EQ(rgbAt(*f.image, 150, 100), 0x800000u);
  EXPECT_EQ(f.image->row(100)[150 * 4 + 3], 255);
  XDestroyWindow(d, w);
  XSync(d, False);
}

TEST(X11WindowStream, AWindowThatClosesEndsTheStreamWithItsMessage) {
  PrivateXServer x;
  auto target = std::make_unique<ColourWindow>(x.display(), 10, 10, 200, 100, 0xff0000);
  platform::x11::X11ScreenCapture capture;
  FrameCollector frames;
  auto stream = capture.createStream(windowFilter(target->id(), 200, 100), sized(200, 100),
                                     frames.callbacks());
  stream->start();
  ASSERT_TRUE(frames.next().image);
  target.reset();
  ASSERT_TRUE(frames.waitStopped(5s));
  EXPECT_NE(testing::messageOf(frames.stopped).find(L("所选窗口已关闭，请重新选择。")),
            std::string::npos);
  stream->stop();
}

TEST(X11DisplayStream, ADisplayThatIsRemovedEndsTheStream) {
  PrivateXServer x(3840, 1080);
  x.setMonitors({PrivateXServer::monitor(x.display(), "A", 0, 0, 1920, 1080, true),
                 PrivateXServer::monitor(x.display(), "B", 1920, 0, 1920, 1080, false)});
  platform::x11::X11ScreenCapture capture;
  ContentFilter filter;
  for (const auto& d : capture.shareableContent().displays) {
    if (d.name == "B") {
      filter.display = d.id;
      filter.rect = d.frame;
    }
  }
  ColourWindow onB(x.display(), 2000, 100, 100, 100, 0x00ffff);
  FrameCollector frames;
  auto stream = capture.createStream(filter, sized(1920, 1080), frames.callbacks());
  stream->start();
  platform::Frame f = frames.next();
  ASSERT_TRUE(f.image);
  EXPECT_EQ(rgbAt(*f.image, 100, 100), 0x00ffffu);  // B's own origin
  x.setMonitors({PrivateXServer::monitor(x.display(), "A", 0, 0, 1920, 1080, true)});
  ASSERT_TRUE(frames.waitStopped(5s));
  EXPECT_NE(testing::messageOf(frames.stopped).find(L("所选屏幕已断开，请重新选择。")),
            std::string::npos);
  stream->stop();
}

TEST(X11DisplayStream, ALostServerEndsTheStreamWithoutEndingTheProcess) {
  auto x = std::make_unique<PrivateXServer>(640, 480);
  platform::x11::X11ScreenCapture capture;
  FrameCollector frames;
  auto stream =
      capture.createStream(displayFilter(capture, 640, 480), sized(640, 480), frames.callbacks());
  stream->start();
  ASSERT_TRUE(frames.next().image);
  x.reset();
  ASSERT_TRUE(frames.waitStopped(5s));
  EXPECT_FALSE(testing::messageOf(frames.stopped).empty());
  stream->stop();
}

TEST(X11DisplayStream, FramesArePacedAtAbsoluteDeadlinesOnTheHostClock) {
  PrivateXServer x(1280, 720);
  platform::x11::X11ScreenCapture capture;
  std::vector<double> stamps;  // the frames themselves are let go at once
  std::atomic<bool> stopped{false};
  auto stream = capture.createStream(displayFilter(capture, 1280, 720), sized(1280, 720),
                                     {[&](const platform::Frame& f) {
                                        EXPECT_FALSE(stopped.load()) << "frame after stop()";
                                        stamps.push_back(f.timestamp);
                                      },
                                      nullptr});
  const double before = platform::hostTime();
  stream->start();
  std::this_thread::sleep_for(1s);
  stream->stop();
  stopped = true;
  const double after = platform::hostTime();
  // Enough gaps to judge (sixty on an idle machine; a loaded one drops deadlines it missed).
  ASSERT_GE(stamps.size(), 10u);
  EXPECT_GE(stamps.front(), before);
  EXPECT_LE(stamps.back(), after);
  // Never ahead of the grid: frame i comes no sooner than i periods after the start.
  const double period = 1.0 / 60.0;
  for (std::size_t i = 1; i < stamps.size(); ++i) {
    EXPECT_GT(stamps[i], stamps[i - 1]);
    EXPECT_GE(stamps[i], before + double(i) * period - 1e-4) << "frame " << i;
  }
  // Each stamp is its wake-up instant: deadline plus a lateness that a loaded machine makes
  // large and irregular. On a fixed grid a late wake-up is followed by a shorter gap (the
  // next deadline did not move), so about half the gaps fall below one period whatever the
  // load. A stream that slept a whole period after each grab has every gap above it.
  int shortGaps = 0;
  for (std::size_t i = 1; i < stamps.size(); ++i)
    if (stamps[i] - stamps[i - 1] < period) ++shortGaps;
  EXPECT_GE(shortGaps, int(stamps.size() - 1) / 5) << "gaps never make up for a late wake-up";
}

TEST(X11DisplayStream, AHeldBufferIsNeverOverwrittenAndABusyConsumerDropsFrames) {
  PrivateXServer x(320, 240);
  ColourWindow w(x.display(), 0, 0, 320, 240, 0xff0000);
  platform::x11::X11ScreenCapture capture;
  std::vector<platform::Frame> held;
  std::mutex mutex;
  StreamConfiguration config = sized(320, 240, 1.0 / 120.0);
  config.queueDepth = 2;
  auto stream = capture.createStream(displayFilter(capture, 320, 240), config,
                                     {[&](const platform::Frame& f) {
                                        std::lock_guard lock(mutex);
                                        held.push_back(f);  // never released while the stream runs
                                      },
                                      nullptr});
  stream->start();
  std::this_thread::sleep_for(150ms);
  w.fill(0x00ff00);
  std::this_thread::sleep_for(150ms);
  stream->stop();
  // Only as many buffers as the queue allows were handed out; the first still shows red.
  ASSERT_GE(held.size(), 1u);
  EXPECT_LE(held.size(), 3u);
  EXPECT_EQ(rgbAt(*held.front().image, 10, 10), 0xff0000u);
}

}  // namespace
}  // namespace vantry
