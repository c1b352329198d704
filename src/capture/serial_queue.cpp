#include "capture/serial_queue.h"

#include <pthread.h>

#include <algorithm>
#include <exception>

namespace vantry {

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

void SerialQueue::setErrorHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard lock(mutex_);
  onError_ = std::move(handler);
}

void SerialQueue::runGuarded(const std::function<void()>& work) {
  std::string error;
  try {
    work();
    return;
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
  }
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard lock(mutex_);
    handler = onError_;
  }
  if (!handler) return;
  try {
    handler(error);
  } catch (...) {
    // The handler's own failure must not end the queue either.
  }
}

void SerialQueue::startTimer(double interval, std::function<void()> tick) {
  {
    std::lock_guard lock(mutex_);
    tick_ = std::move(tick);
    interval_ =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval));
    firstTick_ = nextTick_ = Clock::now();
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
      runGuarded(task);
      lock.lock();
      continue;
    }
    if (quit_) return;
    if (timerOn_ && Clock::now() >= nextTick_) {
      auto tick = tick_;
      nextTick_ = Clock::time_point::max();  // set once this tick is over
      lock.unlock();
      runGuarded(tick);
      lock.lock();
      // The next grid point still ahead: ticks whose time passed while the queue was busy
      // are skipped rather than run back to back with the same reading. One that comes
      // less than half an interval after this tick waits for that much.
      const auto now = Clock::now();
      const auto periods = (now - firstTick_ + interval_ - Clock::duration(1)) / interval_;
      nextTick_ =
          std::max(firstTick_ + std::max<Clock::rep>(periods, 1) * interval_, now + interval_ / 2);
      continue;
    }
    if (timerOn_)
      wake_.wait_until(lock, nextTick_);
    else
      wake_.wait(lock);
  }
}

}  // namespace vantry
