// The controller's one clock: ticks on a 60 Hz grid of the steady clock while something
// moves by itself, and arms no timer at all while nothing does. A late tick does not shift
// the grid; grid points missed entirely are skipped, not caught up in a burst.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>

namespace vantry {

class FrameClock : public QObject {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto period = std::chrono::nanoseconds(1'000'000'000 / 60);

  explicit FrameClock(std::function<void()> onTick, QObject* parent = nullptr);

  // Starts ticking at the next grid point, or stops; either is cheap to repeat.
  void setRunning(bool running);
  bool running() const { return running_; }

 private:
  void schedule();
  void fire();

  std::function<void()> onTick_;
  QTimer timer_;
  Clock::time_point origin_ = Clock::now();
  std::int64_t index_ = -1;  // grid point of the last tick
  std::int64_t target_ = 0;  // grid point the timer is set for
  bool running_ = false;
};

}  // namespace vantry
