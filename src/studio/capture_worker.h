// The capture side of the controller: one serial queue for every blocking capture call
// (preview setup and teardown, recorder start and stop, source listing), and the way
// their results and the live frames come back to the main thread.
//
// Live frames pin capture buffers, so they are handed over through a newest-wins mailbox
// with at most one queued call: a busy main thread holds one picture per kind, never a
// backlog that would make a stream drop the recording's frames.
#pragma once

#include <QImage>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "capture/serial_queue.h"
#include "studio/studio.h"

namespace vantry {

struct Studio::CaptureWorker {
  enum class Kind { screen, camera, recording };

  explicit CaptureWorker(Studio& owner);
  // Stops the preview, the camera and a recording still running, then joins the queue.
  ~CaptureWorker();

  // Any thread: the newest picture of a kind, tagged with its setup generation (screen,
  // camera) or its recorder's serial (recording).
  void deliver(Kind kind, std::int64_t tag, const QImage& image);
  // Any thread: runs `f` on the main thread (dropped once the worker is gone).
  void toMain(std::function<void()> f);

  // Main thread: moves setupGeneration on and returns the new value.
  std::int64_t advance();
  // Setup queue: true when a newer setup or teardown began after `generation`.
  bool superseded(std::int64_t generation) const { return latest.load() != generation; }
  // Setup queue: stops and releases the preview and the prepared camera.
  void stopCapture();
  // Main thread: hands the recorder to the queue, which destroys it there.
  void retireRecorder();

  // The wait for the first live frames (main thread).
  void beginWait(std::int64_t generation, bool camera);
  void stopWaiting();
  bool waitDone();
  void finishWait();

  Studio& studio;
  QObject relay;  // lives on the main thread; posted calls die with it
  QTimer waitTimer;
  // Between passes of the wait; tests shorten it.
  int waitIntervalMs = 100;
  static constexpr int waitPasses = 80;
  std::int64_t waitGeneration = -1;
  bool waitCamera = false;
  int passes = 0;

  std::atomic<std::int64_t> latest{0};  // the newest setup generation
  std::int64_t recorderSerial = 0;      // identity of the current recorder
  std::int64_t sourcesSerial = 0;       // the newest source listing
  std::map<platform::WindowId, QImage> icons;
  // The project open when a recording started, re-attached when the stop fails.
  struct Detached {
    std::string url;
    EditSettings settings;
  };
  std::optional<Detached> detached;

 private:
  void drain();

  struct Slot {
    QImage image;
    std::int64_t tag = 0;
    bool full = false;
  };
  std::mutex mutex_;
  Slot slots_[3];
  bool posted_ = false;

 public:
  // Declared last so that it is joined first, while everything its tasks touch exists.
  SerialQueue queue{"studio.setup"};
};

}  // namespace vantry
