// SerialQueue: ticks stay on their grid and skip what a busy queue missed, and no exception
// leaves a task or a tick.
#include "capture/serial_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vantry {
namespace {

using Clock = std::chrono::steady_clock;

TEST(SerialQueue, TicksMissedWhileBusyAreSkippedNotRunInABurst) {
  std::mutex mutex;
  std::vector<Clock::time_point> ticks;
  SerialQueue queue("test.ticks");
  const auto begin = Clock::now();
  queue.startTimer(1.0 / 60, [&] {
    std::lock_guard lock(mutex);
    ticks.push_back(Clock::now());
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // A stall of about nine periods.
  queue.post([] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); });
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  queue.stopTimer();
  const double ran = std::chrono::duration<double>(Clock::now() - begin).count();
  std::lock_guard lock(mutex);
  ASSERT_GT(ticks.size(), 10u);
  // Never more ticks than the grid has, and never two at once.
  EXPECT_LE(double(ticks.size()), ran * 60 + 1);
  for (size_t i = 1; i < ticks.size(); ++i) {
    EXPECT_GE(std::chrono::duration<double>(ticks[i] - ticks[i - 1]).count(), 0.008)
        << "ticks " << i - 1 << " and " << i;
  }
}

TEST(SerialQueue, AThrowingTaskOrTickGoesToTheHandlerAndTheQueueGoesOn) {
  std::mutex mutex;
  std::vector<std::string> errors;
  SerialQueue queue("test.errors");
  queue.setErrorHandler([&](const std::string& e) {
    std::lock_guard lock(mutex);
    errors.push_back(e);
  });
  queue.post([] { throw std::runtime_error("task trouble"); });
  queue.post([] { throw 42; });  // not an exception class: an empty text
  std::atomic<int> ticks{0};
  queue.startTimer(1.0 / 60, [&] {
    if (++ticks == 2) throw std::runtime_error("tick trouble");
  });
  while (ticks.load() < 4)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  queue.stopTimer();
  // sync() hands its exception to its caller instead.
  EXPECT_THROW(queue.sync([]() -> int { throw std::logic_error("sync trouble"); }),
               std::logic_error);
  EXPECT_EQ(queue.sync([] { return 7; }), 7);
  std::lock_guard lock(mutex);
  EXPECT_EQ(errors, (std::vector<std::string>{"task trouble", "", "tick trouble"}));
}

}  // namespace
}  // namespace vantry
