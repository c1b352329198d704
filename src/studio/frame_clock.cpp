#include "studio/frame_clock.h"

#include <algorithm>

namespace vantry {

FrameClock::FrameClock(std::function<void()> onTick, QObject* parent)
    : QObject(parent), onTick_(std::move(onTick)) {
  timer_.setSingleShot(true);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { fire(); });
}

void FrameClock::setRunning(bool running) {
  if (running == running_) return;
  running_ = running;
  if (running_)
    schedule();
  else
    timer_.stop();
}

void FrameClock::schedule() {
  const auto now = Clock::now();
  target_ = std::max<std::int64_t>(index_ + 1, (now - origin_) / period + 1);
  // Qt's timers count whole milliseconds: rounding up keeps a tick from landing early.
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(origin_ + target_ * period - now);
  timer_.start(std::max(wait, std::chrono::milliseconds(0)));
}

void FrameClock::fire() {
  if (!running_) return;
  // Late by a whole period or more: this tick stands for the latest point passed.
  index_ = std::max<std::int64_t>(target_, (Clock::now() - origin_) / period);
  if (onTick_) onTick_();
  if (running_) schedule();  // the tick may have stopped the clock
}

}  // namespace vantry
