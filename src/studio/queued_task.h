// Runs a task later on the thread of a QObject, through Qt's event queue. Qt hands the task
// over under its own locks, which a ThreadSanitizer build cannot see inside the
// uninstrumented library; there the hand-over is declared, so that the task's reads of what
// the sending thread wrote before posting are not reported as races.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>
#include <memory>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace vantry {

inline void postTask(QObject* target, std::function<void()> task) {
#if defined(__SANITIZE_THREAD__)
  auto handOver = std::make_shared<char>();
  __tsan_release(handOver.get());
  task = [handOver, inner = std::move(task)] {
    __tsan_acquire(handOver.get());
    inner();
  };
#endif
  QMetaObject::invokeMethod(target, std::move(task), Qt::QueuedConnection);
}

}  // namespace vantry
