// Runs a task later on the thread of a QObject, through Qt's event queue. Qt hands the task
// over under its own locks, which a ThreadSanitizer build cannot see inside the
// uninstrumented library; there the hand-over is declared, so that the task's reads of what
// the sending thread wrote before posting are not reported as races.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace vantry {

#if defined(__SANITIZE_THREAD__)
namespace detail {

// The task as Qt keeps it. Qt builds its holder around it (in our code) and only then posts
// it: declared handed over when that copy is complete, so that everything written before,
// the holder too, counts as written before the receiving thread runs or drops it. Whichever
// thread lets go of the holder last destroys it, possibly the sender: once run, the task is
// declared handed back.
class HandedOverTask {
 public:
  explicit HandedOverTask(std::function<void()> task) : task_(std::move(task)) {}
  HandedOverTask(HandedOverTask&& other) noexcept : task_(std::move(other.task_)) {
    __tsan_release(this);
  }
  HandedOverTask(const HandedOverTask&) = delete;
  HandedOverTask& operator=(const HandedOverTask&) = delete;
  HandedOverTask& operator=(HandedOverTask&&) = delete;
  ~HandedOverTask() { __tsan_acquire(this); }

  void operator()() {
    __tsan_acquire(this);
    task_();
    __tsan_release(this);
  }

 private:
  std::function<void()> task_;
};

}  // namespace detail
#endif

inline void postTask(QObject* target, std::function<void()> task) {
#if defined(__SANITIZE_THREAD__)
  QMetaObject::invokeMethod(target, detail::HandedOverTask(std::move(task)), Qt::QueuedConnection);
#else
  QMetaObject::invokeMethod(target, std::move(task), Qt::QueuedConnection);
#endif
}

}  // namespace vantry
