// Fake services for the controller: a hand-driven clock, frame sources, sound players and
// dialogs whose asynchronous work completes when the test says so.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "model/demo_project.h"
#include "studio/studio.h"
#include "studio_access.h"

namespace vantry::testing {

struct FakeClock {
  double now = 1000;
  HostClock function() {
    return [this] { return now; };
  }
};

class FakeFrames : public FrameSource {
 public:
  std::vector<double> requests;
  std::optional<std::string> pendingError;
  std::function<void()> onClose;
  ~FakeFrames() override {
    if (onClose) onClose();
  }
  QImage picture;           // what latest() gives
  bool busy = false;        // reading() says so
  std::vector<int> widths;  // the shown width of each request
  void request(double seconds, int shownWidth = 0) override {
    requests.push_back(seconds);
    widths.push_back(shownWidth);
  }
  QImage latest() const override { return picture; }
  bool reading() const override { return busy; }
  double latestTime() const override { return requests.empty() ? -1 : requests.back(); }
  std::optional<std::string> takeError() override { return std::exchange(pendingError, {}); }
  // A reading failure arriving from the worker.
  void fail(const std::string& message) {
    pendingError = message;
    if (onReady) onReady();
  }
};

class FakeAudio : public PlaybackAudio {
 public:
  struct Seek {
    double time;
    std::function<void(bool)> done;
  };
  std::vector<Seek> seeks;
  int plays = 0;
  int pauses = 0;
  double rate = 0;
  bool playingNow = false;
  double current = 0;
  std::string failure;
  int configures = 0;
  bool acceptConfigure = false;

  void pause() override {
    ++pauses;
    playingNow = false;
  }
  void play(double r) override {
    ++plays;
    rate = r;
    playingNow = true;
  }
  void seek(double seconds, std::function<void(bool)> done) override {
    seeks.push_back({seconds, std::move(done)});
    current = seconds;
  }
  double currentTime() const override { return current; }
  std::string error() const override { return failure; }
  bool configure(const Clip&) override {
    ++configures;
    return acceptConfigure;
  }
};

class FakeDialogs : public StudioDialogs {
 public:
  std::optional<std::string> project;
  std::function<void()> whileOpen;  // runs inside the dialog, as a modal loop could
  int asked = 0;
  std::optional<std::string> chooseProject() override {
    ++asked;
    if (whileOpen) whileOpen();
    return project;
  }
  std::optional<std::string> chooseExportDestination(const std::string&,
                                                     const ExportOptions&) override {
    return std::nullopt;
  }
};

class FakeDesktop : public StudioDesktop {
 public:
  std::vector<std::string> opened;
  std::vector<std::string> revealed;
  std::vector<std::string> openedFiles;
  // False: a desktop without a program to open anything with.
  bool opens = true;
  void openFolder(const std::string& path, DesktopDone done) override {
    opened.push_back(path);
    done(opens);
  }
  void revealFile(const std::string& path, DesktopDone done) override {
    revealed.push_back(path);
    done(opens);
  }
  void openFile(const std::string& path, DesktopDone done) override {
    openedFiles.push_back(path);
    done(opens);
  }
  void openPermissionHelp() override {}
};

class FakeScreens : public ScreenNames {
 public:
  std::map<platform::DisplayId, std::string> names;
  platform::DisplayId primary = 7;
  std::optional<std::string> displayName(platform::DisplayId id) const override {
    auto found = names.find(id);
    if (found == names.end()) return std::nullopt;
    return found->second;
  }
  platform::DisplayId primaryDisplay() const override { return primary; }
};

// Everything a test needs to build and drive a controller.
struct Harness {
  FakeClock clock;
  std::shared_ptr<FakeDialogs> dialogs = std::make_shared<FakeDialogs>();
  std::shared_ptr<FakeDesktop> desktop = std::make_shared<FakeDesktop>();
  std::shared_ptr<FakeScreens> screens = std::make_shared<FakeScreens>();
  std::map<std::string, FakeFrames*> frames;  // by path, owned by the controller
  std::set<std::string> unreadable;           // paths whose opening throws
  // Runs first when a movie is opened (on the thread that opens it).
  std::function<void(const std::string& path)> opening;
  // Called when the reader of a path is destroyed (on the thread that destroys it).
  std::function<void(const std::string& path)> closing;
  FakeAudio* audio = nullptr;  // the newest player
  int audioBuilt = 0;
  bool audioFails = false;

  StudioServices services() {
    StudioServices s;
    s.clock = clock.function();
    s.openFrames = [this](const std::string& path) -> std::unique_ptr<FrameSource> {
      if (opening) opening(path);
      if (unreadable.count(path)) throw std::runtime_error("无法读取 " + path);
      auto f = std::make_unique<FakeFrames>();
      f->onClose = [this, path] {
        if (closing) closing(path);
      };
      frames[path] = f.get();
      return f;
    };
    s.makeAudio = [this](const Clip&, const std::string&) -> std::unique_ptr<PlaybackAudio> {
      ++audioBuilt;
      if (audioFails) throw std::runtime_error("bad sound");
      auto a = std::make_unique<FakeAudio>();
      audio = a.get();
      return a;
    };
    s.dialogs = dialogs;
    s.desktop = desktop;
    s.screens = screens;
    s.startClock = false;
    s.autosaveDelayMs = 350;
    return s;
  }
};

// Holds the opening of chosen movies until the test lets it through: at most a few
// seconds, so that a controller opening them on its own thread fails rather than hangs.
class OpenGate {
 public:
  void hold(const std::string& path) {
    std::lock_guard lock(mutex_);
    held_.insert(path);
  }
  void release() {
    std::lock_guard lock(mutex_);
    held_.clear();
    changed_.notify_all();
  }
  // Where a movie is opened: waits while its path is held.
  void pass(const std::string& path) {
    std::unique_lock lock(mutex_);
    if (!held_.count(path)) return;
    ++waiting_;
    changed_.notify_all();
    changed_.wait_for(lock, patience, [&] { return !held_.count(path); });
    --waiting_;
  }
  // Waits until an opening is held (at most 3 s); whether one is.
  bool awaitHeld() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(3), [&] { return waiting_ > 0; });
  }
  bool holding() {
    std::lock_guard lock(mutex_);
    return waiting_ > 0;
  }
  // How long an opening is held at most.
  std::chrono::seconds patience{3};

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<std::string> held_;
  int waiting_ = 0;
};

// Runs posted events (seek completions, frame notifications).
inline void drainEvents() {
  for (int i = 0; i < 5; ++i)
    QCoreApplication::processEvents();
}

// Runs the event loop until `done` holds (at most 20 s); whether it does.
inline bool runUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 20000 && !done(); ++i) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// Opens a project file and runs the event loop until the open ended; whether the project
// opened.
inline bool openAndWait(Studio& s, const std::string& path) {
  std::optional<bool> opened;
  if (!s.openProjectFile(path, [&opened](bool ok) { opened = ok; })) return false;
  EXPECT_TRUE(runUntil([&] { return opened.has_value(); })) << "the open never ended";
  return opened.value_or(false);
}

}  // namespace vantry::testing

namespace vantry::testing {

class TickRecording : public Recording {
 public:
  std::optional<double> clockStart;
  platform::Rect rect{100, 50, 1920, 1080};
  platform::Size size{1920, 1080};
  void start(platform::DisplayId, std::optional<platform::WindowId>, bool, bool,
             std::shared_ptr<LiveCamera>) override {}
  Clip stop() override { return {}; }
  std::string warning() const override { return {}; }
  std::optional<double> startClock() const override { return clockStart; }
  platform::Rect screenRect() const override { return rect; }
  platform::Size captureSize() const override { return size; }
};

class FakePointer : public platform::PointerSource {
 public:
  Raw raw;
  std::optional<Raw> query() override {
    Raw r = raw;
    raw.presses = 0;
    return r;
  }
};

}  // namespace vantry::testing

namespace vantry::testing {

// A recorded project with movies at made-up paths (the fake readers accept any path).
inline Clip recordedClip(bool camera = true, bool sound = true) {
  Clip clip;
  clip.title = "Recorded";
  clip.duration = 20;
  clip.screenPath = "/rec/screen.mov";
  if (camera) clip.cameraPath = "/rec/camera.mov";
  if (sound) clip.audioPath = "/rec/voice.m4a";
  std::vector<PointerSample> samples;
  for (int i = 0; i <= 20 * 60; ++i)
    samples.push_back({i / 60.0, 0.3 + 0.0002 * i, 0.4, i == 120 || i == 600});
  clip.samples = samples;
  return clip;
}

// Counts the controller's signals.
struct Emissions {
  int changed = 0;
  int time = 0;
  int frames = 0;
  explicit Emissions(Studio& s) {
    QObject::connect(&s, &Studio::changed, [this] { ++changed; });
    QObject::connect(&s, &Studio::timeChanged, [this] { ++time; });
    QObject::connect(&s, &Studio::frameTick, [this] { ++frames; });
  }
};

}  // namespace vantry::testing

namespace vantry::testing {

// A controller with a recorded project open.
struct ProjectFixture : ::testing::Test {
  Harness h;
  std::unique_ptr<Studio> studio;
  void SetUp() override {
    studio = std::make_unique<Studio>(h.services());
    ASSERT_TRUE(studio->load(recordedClip()));
  }
};

}  // namespace vantry::testing
