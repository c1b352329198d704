// A serial work queue on its own thread, with one optional repeating timer whose ticks run
// on the same thread, so that tasks and ticks never overlap and share state without locks.
// Ticks are paced to absolute deadlines; late ticks are made up, except after a stall of
// more than a tenth of a second at 60 Hz.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

namespace vantry {

class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  // Stops the timer, runs the tasks already queued, and joins the thread.
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  void post(std::function<void()> task);

  // Runs `f` on the queue after everything queued before it and returns its result (or
  // rethrows its exception). Must not be called from the queue itself.
  template <typename F>
  auto sync(F&& f) -> std::invoke_result_t<F> {
    using R = std::invoke_result_t<F>;
    auto task = std::make_shared<std::packaged_task<R()>>(std::forward<F>(f));
    auto result = task->get_future();
    post([task] { (*task)(); });
    return result.get();
  }

  // First tick now, then every `interval` seconds. Replaces a running timer.
  void startTimer(double interval, std::function<void()> tick);
  // No tick starts after this returns (a tick running on the queue may still finish).
  void stopTimer();

  bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }
  const std::string& label() const { return label_; }

 private:
  void run();

  using Clock = std::chrono::steady_clock;
  std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::function<void()> tick_;
  Clock::duration interval_{};
  Clock::time_point nextTick_{};
  bool timerOn_ = false;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace vantry
