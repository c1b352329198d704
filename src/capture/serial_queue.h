// A serial work queue on its own thread, with one optional repeating timer whose ticks run
// on the same thread, so that tasks and ticks never overlap and share state without locks.
// Ticks stay on the grid of their interval from the timer's start; a tick whose time
// passed while the queue was busy is skipped, never run late in a burst, and a tick starts
// at least half an interval after the previous one ended. No exception ever leaves a task or a
// tick: it goes to the error handler and the queue goes on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

namespace vantry {

// Runs `f` on `queue` (anything with a post() of tasks) after everything queued before it
// and returns its result (or rethrows its exception). Must not be called from the queue
// itself.
template <typename Queue, typename F>
auto runQueued(Queue& queue, F&& f) -> std::invoke_result_t<F> {
  using R = std::invoke_result_t<F>;
  auto task = std::make_shared<std::packaged_task<R()>>(std::forward<F>(f));
  auto result = task->get_future();
  queue.post([task] { (*task)(); });
  return result.get();
}

class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  // Stops the timer, runs the tasks already queued, and joins the thread.
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  void post(std::function<void()> task);

  // Called on the queue with the what() of an exception that escaped a posted task or a
  // tick (a sync() task hands its exception to its caller instead). Set before posting.
  void setErrorHandler(std::function<void(const std::string&)> handler);

  // Runs `f` on the queue after everything queued before it and returns its result (or
  // rethrows its exception). Must not be called from the queue itself.
  template <typename F>
  auto sync(F&& f) -> std::invoke_result_t<F> {
    return runQueued(*this, std::forward<F>(f));
  }

  // First tick now, then every `interval` seconds. Replaces a running timer.
  void startTimer(double interval, std::function<void()> tick);
  // No tick starts after this returns (a tick running on the queue may still finish).
  void stopTimer();

  bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }
  const std::string& label() const { return label_; }

 private:
  void run();
  void runGuarded(const std::function<void()>& work);

  using Clock = std::chrono::steady_clock;
  std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::function<void()> tick_;
  std::function<void(const std::string&)> onError_;
  Clock::duration interval_{};
  Clock::time_point firstTick_{};
  Clock::time_point nextTick_{};
  bool timerOn_ = false;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace vantry
