// The project opener's worker and what its tasks hold: opening a project's movies and
// sound, and the way back to the main thread.
#include "studio/project_opener.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <utility>

#include "localization/localization.h"
#include "localization/user_message.h"
#include "platform/studio_error.h"
#include "studio/queued_task.h"

namespace vantry {

// --- The worker ---

namespace {

// Workers left running an open when their controller went; each counts itself out once
// it ended.
std::atomic<int> gOpensLeft{0};

}  // namespace

struct Studio::Opener::Queue::State {
  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [this] { return quit || !tasks.empty(); });
      if (tasks.empty()) {
        if (left) gOpensLeft.fetch_sub(1);
        return;
      }
      auto [task, open] = std::move(tasks.front());
      tasks.pop_front();
      running = open ? Running::open : Running::other;
      if (open) idle.notify_all();
      lock.unlock();
      try {
        task();
      } catch (...) {
        // Every task reports its own failures; none ends the worker.
      }
      task = nullptr;  // what it held is released before the worker counts as idle
      lock.lock();
      running = Running::none;
      idle.notify_all();
    }
  }

  enum class Running { none, open, other };
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  std::deque<std::pair<std::function<void()>, bool>> tasks;
  Running running = Running::none;
  bool quit = false;
  bool left = false;  // the controller went while an open ran
};

Studio::Opener::Queue::Queue() : state_(std::make_shared<State>()) {
  thread_ = std::thread([state = state_] { state->run(); });
  pthread_setname_np(thread_.native_handle(), "studio.open");
}

Studio::Opener::Queue::~Queue() {
  std::unique_lock lock(state_->mutex);
  state_->quit = true;
  state_->wake.notify_all();
  // Releases end soon; an open may never.
  state_->idle.wait(lock, [this] {
    return state_->running == State::Running::open ||
           (state_->running == State::Running::none && state_->tasks.empty());
  });
  const bool opening = state_->running == State::Running::open;
  if (opening) {
    state_->left = true;
    gOpensLeft.fetch_add(1);
  }
  lock.unlock();
  if (opening)
    thread_.detach();
  else
    thread_.join();
}

void Studio::Opener::Queue::push(std::function<void()> task, bool open) {
  {
    std::lock_guard lock(state_->mutex);
    state_->tasks.emplace_back(std::move(task), open);
  }
  state_->wake.notify_all();
}

int Studio::exitStatus(int status) {
  if (gOpensLeft.load() > 0) {
    std::fflush(nullptr);
    ::_exit(status);
  }
  return status;
}

// --- The opener ---

Studio::Opener::Opener(const StudioServices& services) {
  shared->openFrames = services.openFrames;
  shared->makeAudio = services.makeAudio;
  shared->relay = &relay;
}

Studio::Opener::~Opener() {
  abandon();
  std::lock_guard lock(shared->relayMutex);
  shared->relay = nullptr;
}

void Studio::Opener::Shared::toMain(std::function<void()> f) {
  std::lock_guard lock(relayMutex);
  if (relay) postTask(relay, std::move(f));
}

namespace {

// The settings a document is shown with: its saved ones, or the defaults; a recording
// without a camera movie is shown without the camera (the demonstration keeps its own).
EditSettings shownSettings(const Clip& clip) {
  EditSettings settings = clip.savedSettings.value_or(EditSettings());
  if (!clip.cameraPath && !clip.isDemo) settings.showCamera = false;
  return settings;
}

// Runs `open`; a pipe or a device in the place of the file at `path` is refused in the
// words of `key`, which say which file of the project it is.
template <typename Open>
auto naming(const char* key, const std::string& path, Open open) -> decltype(open()) {
  try {
    return open();
  } catch (const NotAFileError&) {
    throw NotAFileError(L(key, shownPath(path)));
  }
}

}  // namespace

void Studio::Opener::Shared::openMedia(Opened& opened) const {
  const Clip& clip = opened.clip;
  if (openFrames) {
    if (clip.screenPath)
      opened.screen = naming("屏幕录像 {0} 不是普通文件，而是管道或设备。", *clip.screenPath,
                             [&] { return openFrames(*clip.screenPath); });
    if (clip.cameraPath)
      opened.camera = naming("摄像头录像 {0} 不是普通文件，而是管道或设备。", *clip.cameraPath,
                             [&] { return openFrames(*clip.cameraPath); });
  }
  // A sound that cannot be read leaves the project silent, with the reason shown; a pipe or a
  // device in its place refuses the project, as it does in a movie's.
  if (clip.audioPath)
    opened.voice = naming("声音文件 {0} 不是普通文件，而是管道或设备。", *clip.audioPath,
                          [&] { return openAudio(clip, &opened.audioError, true); });
  opened.settings = shownSettings(clip);
  opened.motion = MotionTimeline(clip, opened.settings);
}

std::unique_ptr<PlaybackAudio> Studio::Opener::Shared::openAudio(const Clip& clip,
                                                                 std::optional<std::string>* error,
                                                                 bool refuseNotAFile) const {
  if (!clip.audioPath || !makeAudio) return nullptr;
  try {
    return makeAudio(clip, *clip.audioPath);
  } catch (const NotAFileError& e) {
    if (refuseNotAFile) throw;
    *error = e.what();
  } catch (const std::exception& e) {
    *error = e.what();  // names the file and says what is wrong
  }
  return nullptr;
}

}  // namespace vantry
