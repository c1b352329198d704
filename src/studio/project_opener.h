// Opening projects off the main thread: the document is read, its movies and sound are
// opened and its motion is baked on a worker, and the result is installed on the main
// thread in one step (nothing is published before everything opened). A newer open, or
// leaving for the live preview, overtakes an open still running: its result is dropped
// and its readers are closed on the worker. Readers and history of the project being
// replaced are released there too, so that closing a long project does not stop the
// main thread either.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "capture/serial_queue.h"
#include "studio/studio.h"

namespace vantry {

// A project opened and ready to be installed, or why it could not be.
struct Studio::Opened {
  Clip clip;
  // The settings shown: the saved ones (defaults without), the camera hidden for a
  // recording without a camera movie; `motion` is baked for them.
  EditSettings settings;
  MotionTimeline motion;
  std::unique_ptr<FrameSource> screen;
  std::unique_ptr<FrameSource> camera;
  std::unique_ptr<PlaybackAudio> voice;
  std::optional<std::string> audioError;   // the project plays silently, with this alert
  std::optional<std::string> failure;      // the alert's text: nothing was opened
  std::optional<SaveFailure> saveFailure;  // why a save on the way failed
};

struct Studio::Opener {
  // What the running open is: a project chosen by the user, which a newer open or a leave
  // may overtake, or the recording just stopped, which nothing overtakes.
  enum class Kind { none, chosen, recording };

  Opener() = default;
  // Finishes the open running (its result is dropped) and the pending releases, then joins.
  ~Opener() = default;

  // Main thread: a new open of `kind` overtakes any other; returns its generation.
  std::int64_t begin(Kind kind) {
    pending = kind;
    latest.store(++generation);
    return generation;
  }
  // Main thread: the running open, if any, is dropped.
  void abandon() {
    pending = Kind::none;
    latest.store(++generation);
  }
  // Any thread: a newer open or a leave overtook the open of generation `g`.
  bool superseded(std::int64_t g) const { return latest.load() != g; }
  // Any thread: runs `f` on the main thread (dropped once the opener is gone).
  void toMain(std::function<void()> f);
  // Main thread: destroys `thing` on the worker.
  template <typename T>
  void release(T&& thing) {
    auto held = std::make_shared<std::decay_t<T>>(std::forward<T>(thing));
    // Moved in, not copied: a copy left here could outlive the worker's and close the
    // readers on this thread after all.
    queue.post([held = std::move(held)]() mutable { held.reset(); });
  }

  std::int64_t generation = 0;  // main thread: the newest open or leave
  Kind pending = Kind::none;    // main thread: the open running, if any
  std::atomic<std::int64_t> latest{0};
  QObject relay;  // lives on the main thread; posted results die with it

  // Declared last so that it is joined first, while everything its tasks touch exists.
  SerialQueue queue{"studio.open"};
};

}  // namespace vantry
