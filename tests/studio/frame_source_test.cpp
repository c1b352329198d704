#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "fakes.h"
#include "studio/frame_source.h"

namespace vantry {
namespace {

// A reader the test holds at its first call, recording every time it was asked for.
struct HeldReader {
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  std::vector<double> reads;
  int delivered = 0;
  std::function<bool(double)> fails = [](double) { return false; };

  ThreadedFrameSource::Reader reader() {
    return [this](double t, int) -> std::optional<QImage> {
      std::unique_lock lock(mutex);
      reads.push_back(t);
      changed.notify_all();
      changed.wait(lock, [this] { return released; });
      if (fails(t)) throw std::runtime_error("broken at " + std::to_string(int(t)));
      QImage image(2, 2, QImage::Format_RGB32);
      image.fill(static_cast<uint>(t));
      return image;
    };
  }
  void waitForReads(std::size_t n) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return reads.size() >= n; });
  }
  void waitForDeliveries(int n) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return delivered >= n; });
  }
  void release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  void hook(FrameSource& source) {
    source.onReady = [this] {
      std::lock_guard lock(mutex);
      ++delivered;
      changed.notify_all();
    };
  }
};

TEST(ThreadedFrames, TheNewestRequestWinsOverOnesStillWaiting) {
  HeldReader held;
  ThreadedFrameSource source(held.reader());
  held.hook(source);
  source.request(1);
  held.waitForReads(1);  // the worker is busy with 1
  source.request(2);
  source.request(3);
  held.release();
  held.waitForDeliveries(2);
  EXPECT_EQ(held.reads, (std::vector<double>{1, 3}));
  EXPECT_EQ(source.latestTime(), 3);
  EXPECT_EQ(source.latest().pixel(0, 0) & 0xffffff, 3u);
  source.request(3);  // already shown: no second reading
  EXPECT_EQ(held.reads.size(), 2u);
  source.request(3, 100);  // the same moment for another width is read again
  held.waitForReads(3);
}

TEST(ThreadedFrames, AFailureIsReportedOnceUntilAPictureArrives) {
  HeldReader held;
  held.release();
  held.fails = [](double t) { return t >= 10; };
  ThreadedFrameSource source(held.reader());
  held.hook(source);
  source.request(10);
  held.waitForDeliveries(1);
  EXPECT_EQ(source.takeError(), "broken at 10");
  EXPECT_FALSE(source.takeError());
  source.request(11);  // fails again: not reported again
  held.waitForReads(2);
  source.request(1);
  held.waitForDeliveries(2);
  EXPECT_FALSE(source.takeError());
  source.request(12);  // a new failure after a picture
  held.waitForDeliveries(3);
  EXPECT_EQ(source.takeError(), "broken at 12");
  EXPECT_EQ(source.latestTime(), 1);
}

// The controller used to clear its readers' callbacks while their threads could be
// calling them: a race that the ThreadSanitizer run (scripts/tsan.sh) reports.
TEST(ThreadedFrames, AControllerGoesAwayWhileItsReadersDeliver) {
  testing::Harness h;
  StudioServices services = h.services();
  services.openFrames = [](const std::string&) -> std::unique_ptr<FrameSource> {
    return std::make_unique<ThreadedFrameSource>([](double t, int) -> std::optional<QImage> {
      QImage image(2, 2, QImage::Format_RGB32);
      image.fill(static_cast<uint>(t * 10));
      return image;
    });
  };
  auto studio = std::make_unique<Studio>(services);
  ASSERT_TRUE(studio->load(testing::recordedClip()));
  for (int i = 1; i <= 20; ++i) {
    studio->seek(i * 0.5);
    QCoreApplication::processEvents();
  }
  for (int i = 0; i < 5000 && studio->screenFrames()->latestTime() != studio->sourceTime(); ++i) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(studio->screenFrames()->latestTime(), studio->sourceTime());
  studio->seek(2);  // still being read while the controller goes
  studio.reset();
}

}  // namespace
}  // namespace vantry
