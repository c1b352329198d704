// DisplayPreview over test sources: its stream size and rate, one stream at a time, frames
// that are not complete, and the errors it passes on.
#include <gtest/gtest.h>

#include <QColorSpace>
#include <atomic>
#include <chrono>
#include <thread>

#include "capture/display_preview.h"
#include "localization/localization.h"
#include "platform/studio_error.h"
#include "platform/synthetic/synthetic_screen.h"

namespace vantry {
namespace {

using namespace std::chrono_literals;
using platform::synthetic::SyntheticScreenCapture;

TEST(PreviewConfiguration, NineHundredSixtyWideAtFifteenFramesWithThePointer) {
  auto c = DisplayPreview::configurationFor({0, 0, 1920, 1080});
  EXPECT_EQ(c.width, 960);
  EXPECT_EQ(c.height, 540);
  EXPECT_DOUBLE_EQ(c.minimumFrameInterval, 1.0 / 15.0);
  EXPECT_TRUE(c.showsCursor);
  EXPECT_EQ(DisplayPreview::configurationFor({0, 0, 1000, 2}).height, 2);
  EXPECT_EQ(DisplayPreview::configurationFor({0, 0, 1000, 1}).height, 2);
  EXPECT_EQ(DisplayPreview::configurationFor({0, 0, 1000, 0}).height, 2);
  EXPECT_EQ(DisplayPreview::configurationFor({0, 0, 1001, 601}).height, 576);  // cut, not even
  EXPECT_EQ(DisplayPreview::configurationFor({0, 0, 999, 1001}).height, 961);
}

TEST(DisplayPreviewLifecycle, StartingAgainReplacesTheRunningStreamAfterStoppingIt) {
  auto screen = std::make_shared<SyntheticScreenCapture>();
  {
    DisplayPreview preview(screen);
    std::atomic<int> frames{0};
    preview.onFrame = [&](const QImage& image) {
      EXPECT_EQ(image.width(), 960);
      EXPECT_EQ(image.height(), 540);
      EXPECT_EQ(image.colorSpace(), QColorSpace(QColorSpace::SRgb));
      ++frames;
    };
    preview.start(1, std::nullopt);
    EXPECT_EQ(screen->runningStreams(), 1);
    preview.start(1, std::nullopt);
    EXPECT_EQ(screen->runningStreams(), 1);
    ASSERT_TRUE(screen->lastConfiguration());
    EXPECT_EQ(screen->lastConfiguration()->width, 960);
    for (int i = 0; i < 100 && frames < 2; ++i)
      std::this_thread::sleep_for(20ms);
    EXPECT_GE(frames.load(), 2);
    preview.stop();
    EXPECT_EQ(screen->runningStreams(), 0);
    EXPECT_FALSE(preview.running());
    preview.stop();  // nothing to stop: nothing happens
    preview.start(1, std::nullopt);
  }
  // Dropping a running preview stops and joins its stream.
  EXPECT_EQ(screen->runningStreams(), 0);
}

TEST(DisplayPreviewLifecycle, FailuresPassThroughWithTheirOwnText) {
  auto screen = std::make_shared<SyntheticScreenCapture>();
  DisplayPreview preview(screen);
  setCurrentLanguage(AppLanguage::chinese);
  try {
    preview.start(77, std::nullopt);
    ADD_FAILURE() << "a missing display previewed";
  } catch (const StudioError& e) {
    EXPECT_EQ(std::string(e.what()), L("所选屏幕已断开，请重新选择。"));
  }
  try {
    preview.start(1, 4242u);
    ADD_FAILURE() << "a missing window previewed";
  } catch (const StudioError& e) {
    EXPECT_EQ(std::string(e.what()), L("所选窗口已关闭，请重新选择。"));
  }
  setCurrentLanguage(AppLanguage::english);
  screen->setContentError("display server unreachable");
  try {
    preview.start(1, std::nullopt);
    ADD_FAILURE() << "started without content";
  } catch (const StudioError&) {
    ADD_FAILURE() << "a platform error was wrapped";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), "display server unreachable");
  }
  screen->setContentError("");
  screen->setStreamFault(SyntheticScreenCapture::StreamFault::failToStart);
  EXPECT_THROW(preview.start(1, std::nullopt), platform::PlatformError);
  preview.stop();  // clears the failed stream
  EXPECT_FALSE(preview.running());
}

TEST(DisplayPreviewLifecycle, AStreamThatStopsByItselfIsReported) {
  auto screen = std::make_shared<SyntheticScreenCapture>();
  screen->setStreamFault(SyntheticScreenCapture::StreamFault::stopWithError, 0.1,
                         "the display went away");
  DisplayPreview preview(screen);
  std::mutex mutex;
  std::string reported;
  preview.onError = [&](const std::string& message) {
    std::lock_guard lock(mutex);
    reported = message;
  };
  preview.start(1, std::nullopt);
  for (int i = 0; i < 100; ++i) {
    {
      std::lock_guard lock(mutex);
      if (!reported.empty()) break;
    }
    std::this_thread::sleep_for(20ms);
  }
  std::lock_guard lock(mutex);
  EXPECT_EQ(reported, "the display went away");
}

// A source that delivers a fixed run of frames with the given statuses as it starts, each
// filled with its byte of `fills` (0x80 past its end) and, where `marks` says, with one
// byte at that offset set to 0xff.
class ScriptedCapture : public platform::ScreenCapture {
 public:
  std::vector<platform::FrameStatus> statuses;
  std::vector<std::uint8_t> fills;
  std::vector<int> marks;

  platform::ShareableContent shareableContent() override {
    platform::ShareableContent c;
    c.displays = {{1, "test", {0, 0, 640, 480}, true, 1.0}};
    return c;
  }
  std::optional<platform::Rect> windowRect(platform::WindowId) override { return std::nullopt; }
  std::unique_ptr<platform::FrameStream> createStream(
      const platform::ContentFilter&, const platform::StreamConfiguration& config,
      platform::FrameStream::Callbacks cb) override {
    struct Stream : platform::FrameStream {
      std::vector<platform::FrameStatus> statuses;
      std::vector<std::uint8_t> fills;
      std::vector<int> marks;
      platform::StreamConfiguration config;
      platform::FrameStream::Callbacks cb;
      void start() override {
        for (std::size_t i = 0; i < statuses.size(); ++i) {
          auto b = std::make_shared<platform::FrameBuffer>();
          b->width = config.width;
          b->height = config.height;
          b->stride = b->width * 4;
          b->pixels.assign(std::size_t(b->stride) * b->height, i < fills.size() ? fills[i] : 0x80);
          if (i < marks.size() && marks[i] >= 0) b->pixels[std::size_t(marks[i])] = 0xff;
          cb.onFrame({b, platform::hostTime(), statuses[i]});
        }
        cb.onFrame({nullptr, platform::hostTime(), platform::FrameStatus::complete});
      }
      void stop() override {}
    };
    auto s = std::make_unique<Stream>();
    s->statuses = statuses;
    s->fills = fills;
    s->marks = marks;
    s->config = config;
    s->cb = std::move(cb);
    return s;
  }
  std::unique_ptr<platform::PointerSource> createPointerSource() override { return nullptr; }
  std::optional<platform::CursorImage> cursorImage() override { return std::nullopt; }
  platform::ApplicationInfo ownApplication() override { return {}; }
};

TEST(DisplayPreviewFrames, OnlyCompleteFramesWithAPictureReachTheHandler) {
  auto capture = std::make_shared<ScriptedCapture>();
  using S = platform::FrameStatus;
  capture->statuses = {S::idle,    S::complete, S::blank,   S::suspended,
                       S::started, S::stopped,  S::complete};
  capture->fills = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81};
  DisplayPreview preview(capture);
  int delivered = 0;
  preview.onFrame = [&](const QImage& image) {
    ++delivered;
    EXPECT_EQ(image.size(), QSize(960, 720));
    EXPECT_EQ(image.pixel(3, 3) & 0xffffff, delivered == 1 ? 0x808080u : 0x818181u);
  };
  preview.start(1, std::nullopt);
  EXPECT_EQ(delivered, 2);
}

TEST(DisplayPreviewFrames, AStillScreenIsHandedOnOnceAndEveryChangeAgain) {
  auto capture = std::make_shared<ScriptedCapture>();
  capture->statuses.assign(7, platform::FrameStatus::complete);
  // Still, still, a one-byte change (the pointer moved), still, a new picture, the first
  // picture again, still.
  capture->fills = {0x80, 0x80, 0x80, 0x80, 0x90, 0x80, 0x80};
  capture->marks = {-1, -1, 960 * 4 * 700 + 4 * 959, 960 * 4 * 700 + 4 * 959, -1, -1, -1};
  DisplayPreview preview(capture);
  std::vector<QRgb> seen;
  preview.onFrame = [&](const QImage& image) { seen.push_back(image.pixel(959, 700)); };
  preview.start(1, std::nullopt);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0] & 0xffffff, 0x808080u);
  EXPECT_EQ(seen[1] & 0xffffff, 0x8080ffu);
  EXPECT_EQ(seen[2] & 0xffffff, 0x909090u);
  EXPECT_EQ(seen[3] & 0xffffff, 0x808080u);

  // A new start hands on its first picture even when it is the one last seen.
  seen.clear();
  capture->statuses = {platform::FrameStatus::complete};
  capture->fills = {0x80};
  capture->marks = {};
  preview.start(1, std::nullopt);
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
}  // namespace vantry
