#include "capture/serial_queue.h"

#include <pthread.h>

namespace vantry {

namespace {
constexpr int kCatchUp = 6;
}  // namespace

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
  thread_ = std::thread([this] { run(); });
  pthread_setname_np(thread_.native_handle(), label_.substr(0, 15).c_str());
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mutex_);
    timerOn_ = false;
    quit_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SerialQueue::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_all();
}

void SerialQueue::startTimer(double interval, std::function<void()> tick) {
  {
    std::lock_guard lock(mutex_);
    tick_ = std::move(tick);
    interval_ =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval));
    nextTick_ = Clock::now();
    timerOn_ = true;
  }
  wake_.notify_all();
}

void SerialQueue::stopTimer() {
  std::lock_guard lock(mutex_);
  timerOn_ = false;
}

void SerialQueue::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!tasks_.empty()) {
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    if (quit_) return;
    if (timerOn_ && Clock::now() >= nextTick_) {
      auto tick = tick_;
      nextTick_ += interval_;
      // A late tick is made up at once, so that a busy moment keeps the count; after a real
      // stall (more than kCatchUp periods) the missed ticks are given up.
      const auto now = Clock::now();
      if (nextTick_ + kCatchUp * interval_ < now) nextTick_ = now + interval_;
      lock.unlock();
      tick();
      lock.lock();
      continue;
    }
    if (timerOn_)
      wake_.wait_until(lock, nextTick_);
    else
      wake_.wait(lock);
  }
}

}  // namespace vantry
