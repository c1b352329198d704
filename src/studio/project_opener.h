// Opening projects off the main thread: the document is read, its movies and sound are
// opened and its motion is baked on a worker, and the result is installed on the main
// thread in one step (nothing is published before everything opened). A newer open, or
// leaving for the live preview, overtakes an open still running: its result is dropped
// and its readers are closed on the worker. Readers and history of the project being
// replaced are released there too, so that closing a long project does not stop the
// main thread either.
//
// An open may not return for a long time, or at all: a file on a network mount that stopped
// answering blocks the thread that reads it. The controller's end does not wait for it: the
// open is dropped and left to end on its own, and it touches nothing of the controller's
// but the part it holds (Shared).
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
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

  // What the worker's tasks hold of the controller: the generation of the newest open, the
  // way back to the main thread, and the openers of movies and sound. An open still
  // running when the controller goes keeps it.
  struct Shared {
    FrameSourceFactory openFrames;
    PlaybackAudioFactory makeAudio;
    std::atomic<std::int64_t> latest{0};

    // Any thread: a newer open or a leave overtook the open of generation `g`.
    bool superseded(std::int64_t g) const { return latest.load() != g; }
    // Any thread: runs `f` on the main thread; dropped once the controller is gone.
    void toMain(std::function<void()> f);
    // Any thread: opens the movies and the sound of `opened.clip` and bakes its motion.
    // Throws the reader's translated error; a movie or a sound that is a pipe or a device
    // throws a NotAFileError that says which of them it is.
    void openMedia(Opened& opened) const;
    // The sound of `clip`, or none: one that cannot be read leaves the project silent, with
    // `error` saying why (`refuseNotAFile`: a pipe or a device in its place throws instead).
    std::unique_ptr<PlaybackAudio> openAudio(const Clip& clip, std::optional<std::string>* error,
                                             bool refuseNotAFile = false) const;

    std::mutex relayMutex;
    QObject* relay = nullptr;  // guarded by relayMutex; none once the controller is gone
  };

  // A serial worker. At its end what is queued still runs, and the end waits for it, but
  // once an open runs (which may never return) the thread is left to finish on its own.
  class Queue {
   public:
    Queue();
    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;
    void post(std::function<void()> task) { push(std::move(task), false); }
    // A task that opens files, which may not return: the end does not wait for it.
    void postOpen(std::function<void()> task) { push(std::move(task), true); }
    // Runs `f` on the worker after everything queued before it; returns its result.
    template <typename F>
    auto sync(F&& f) -> std::invoke_result_t<F> {
      return runQueued(*this, std::forward<F>(f));
    }

   private:
    void push(std::function<void()> task, bool open);

    struct State;
    std::shared_ptr<State> state_;
    std::thread thread_;
  };

  explicit Opener(const StudioServices& services);
  // Drops the open running and leaves the worker (see Queue).
  ~Opener();

  // Main thread: a new open of `kind` overtakes any other; returns its generation.
  std::int64_t begin(Kind kind) {
    pending = kind;
    shared->latest.store(++generation);
    return generation;
  }
  // Main thread: the running open, if any, is dropped.
  void abandon() {
    pending = Kind::none;
    shared->latest.store(++generation);
  }
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
  std::shared_ptr<Shared> shared = std::make_shared<Shared>();
  QObject relay;  // lives on the main thread; posted results die with it

  // Declared last so that it is left first, while everything its tasks touch exists.
  Queue queue;
};

}  // namespace vantry
