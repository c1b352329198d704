// How long the main thread stands still while a project opens: a 10 s and a one-hour
// recording opened, each replacing the other, and a recording stopped (its one-hour clip
// loaded). For each: the longest gap between two turns of a 1 ms watchdog timer on the
// main thread, from the call until the first picture of the project is shown, the main
// thread's own CPU time in that gap, and the time to that picture; the idle event loop
// gives the baseline. Run by hand on a Release build (needs ffmpeg):
//   bench_open_stall [FOLDER]
// The recordings are made once in FOLDER (default /tmp/vantry-bench-long, shared with
// bench_long_project). Each operation runs three times; the worst run is printed, first
// with the controller alone, then with the main window showing it.
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/shot_states.h"
#include "app/studio_window.h"
#include "cpu_time.h"
#include "design/painting.h"
#include "long_recordings.h"
#include "model/document_json.h"
#include "studio/studio.h"

namespace {

using namespace vantry;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Fires every millisecond; the longest gap between two firings (or since the last one) is
// the longest time the main thread was busy with something else. On a loaded machine a
// gap also holds time the thread waited for a processor, so the thread's own CPU time
// within the gap is kept beside it.
struct Watchdog {
  QTimer timer;
  Clock::time_point last = Clock::now();
  double lastCpu = bench::threadMilliseconds();
  double longest = 0;
  double longestCpu = 0;
  Watchdog() {
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [this] { turn(); });
    timer.start();
  }
  void turn() {
    const double cpu = bench::threadMilliseconds();
    longest = std::max(longest, msSince(last));
    longestCpu = std::max(longestCpu, cpu - lastCpu);
    last = Clock::now();
    lastCpu = cpu;
  }
  void reset() {
    last = Clock::now();
    lastCpu = bench::threadMilliseconds();
    longest = longestCpu = 0;
  }
};

bool runUntil(const std::function<bool()>& done, double seconds = 60) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > seconds * 1000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    QThread::usleep(100);
  }
  return true;
}

// Capture that previews a still picture at once and records nothing: its stop hands back
// a prepared clip, as the recorder does once its files are complete.
class StillPreview final : public LivePreview {
 public:
  void start(platform::DisplayId, std::optional<platform::WindowId>) override {
    onFrame(QImage(64, 36, QImage::Format_RGB32));
  }
  void stop() override {}
};

class StillCamera final : public LiveCamera {
 public:
  void setOnFrame(std::function<void(const QImage&)> handler) override { onFrame_ = handler; }
  void preparePreview() override { onFrame_(QImage(32, 32, QImage::Format_RGB32)); }
  void stopPreview() override {}

 private:
  std::function<void(const QImage&)> onFrame_;
};

class PreparedRecording final : public Recording {
 public:
  explicit PreparedRecording(Clip clip) : clip_(std::move(clip)) {}
  void start(platform::DisplayId, std::optional<platform::WindowId>, bool, bool,
             std::shared_ptr<LiveCamera>) override {}
  Clip stop() override { return clip_; }
  std::string warning() const override { return {}; }
  std::optional<double> startClock() const override { return std::nullopt; }
  platform::Rect screenRect() const override { return {0, 0, 1920, 1080}; }
  platform::Size captureSize() const override { return {1920, 1080}; }

 private:
  Clip clip_;
};

class BenchCapture final : public StudioCapture {
 public:
  Clip recorded;
  platform::ShareableContent shareableContent() override { return {}; }
  platform::ApplicationInfo ownApplication() override { return {}; }
  std::unique_ptr<LivePreview> makePreview() override { return std::make_unique<StillPreview>(); }
  std::shared_ptr<LiveCamera> makeCamera() override { return std::make_shared<StillCamera>(); }
  std::unique_ptr<Recording> makeRecording() override {
    return std::make_unique<PreparedRecording>(recorded);
  }
  std::unique_ptr<platform::PointerSource> makePointer() override { return nullptr; }
};

struct Figures {
  double call = 0;      // the call itself
  double stall = 0;     // longest watchdog gap until the first picture
  double stallCpu = 0;  // the main thread's CPU time within its longest busy gap
  double picture = 0;   // until the first picture of the project
};

struct Bench {
  std::shared_ptr<BenchCapture> capture = std::make_shared<BenchCapture>();
  std::unique_ptr<Studio> studio;
  std::unique_ptr<StudioWindow> window;
  Watchdog watchdog;

  explicit Bench(bool withWindow) {
    StudioServices services = offscreenStudioServices();
    services.capture = capture;
    services.startClock = true;
    studio = std::make_unique<Studio>(services);
    if (withWindow) {
      StudioWindowParts parts = StudioWindowParts::standard();
      parts.launchPreview = false;
      window = std::make_unique<StudioWindow>(*studio, parts);
      window->resize(1440, 900);
      window->show();
    }
    runUntil([] { return false; }, 0.3);
  }

  // The project's first picture is there and nothing is pending.
  bool shown(const std::string& screen) const {
    const Studio& s = *studio;
    return !s.busy() && s.clip().screenPath == screen && s.screenFrames() &&
           s.screenFrames()->latestTime() >= 0;
  }

  // Runs `operation`, then the event loop until the project of `screen` shows a picture.
  bool measure(const std::function<bool()>& operation, const std::string& screen, Figures& f) {
    runUntil([] { return false; }, 0.2);  // let the previous project settle
    watchdog.reset();
    const auto t0 = Clock::now();
    if (!operation()) return false;
    f.call = std::max(f.call, msSince(t0));
    if (!runUntil([&] { return shown(screen); })) {
      std::fprintf(stderr, "no picture of %s: %s\n", screen.c_str(),
                   studio->error().value_or("").c_str());
      return false;
    }
    f.picture = std::max(f.picture, msSince(t0));
    watchdog.turn();
    f.stall = std::max(f.stall, watchdog.longest);
    f.stallCpu = std::max(f.stallCpu, watchdog.longestCpu);
    return true;
  }

  // The event loop left alone as long as an open takes: what the machine adds by itself.
  void idle(double seconds, Figures& f) {
    runUntil([] { return false; }, 0.2);
    watchdog.reset();
    runUntil([] { return false; }, seconds);
    watchdog.turn();
    f.stall = std::max(f.stall, watchdog.longest);
    f.stallCpu = std::max(f.stallCpu, watchdog.longestCpu);
  }

  bool open(const std::string& project, const std::string& screen, Figures& f) {
    return measure([&] { return studio->openProjectFile(project); }, screen, f);
  }

  // A recording of the still preview, stopped: its clip is `recorded`.
  bool stopRecording(const Clip& recorded, Figures& f) {
    capture->recorded = recorded;
    Studio& s = *studio;
    s.record();
    s.prepareRecording();
    if (!runUntil([&] { return s.canStartRecording(); }, 10)) {
      std::fprintf(stderr, "the preview did not start\n");
      return false;
    }
    s.startPreparedRecording();
    if (!runUntil([&] { return s.recording() && !s.busy(); }, 10)) return false;
    runUntil([] { return false; }, 0.2);
    return measure(
        [&] {
          s.stop();
          return true;
        },
        *recorded.screenPath, f);
  }
};

void row(const char* what, const Figures& f) {
  std::printf("%-30s %8.1f ms %8.1f ms %8.1f ms %8.1f ms\n", what, f.call, f.stall, f.stallCpu,
              f.picture);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  installInterfaceFont();
  const fs::path root = bench::recordingsFolder(argc, argv);
  const std::string shortProject = bench::makeRecording(root / "10s", 10);
  const std::string longProject = bench::makeRecording(root / "3600s", 3600);
  if (shortProject.empty() || longProject.empty()) return 1;
  const Clip shortClip = decodeClipFile(shortProject);
  const Clip longClip = decodeClipFile(longProject);
  // The stopped recording writes its "edit.json" beside its movies, in a folder of its own.
  const fs::path stopped = root / "stopped";
  fs::create_directories(stopped);
  Clip recorded = longClip;
  recorded.screenPath = (stopped / "screen.mp4").string();
  recorded.audioPath = (stopped / "voice.m4a").string();
  for (const char* name : {"screen.mp4", "voice.m4a"}) {
    std::error_code ec;
    fs::remove(stopped / name, ec);
    fs::create_symlink(root / "3600s" / name, stopped / name);
  }

  for (const bool withWindow : {false, true}) {
    std::printf("\n%s\n%-30s %11s %11s %11s %11s\n",
                withWindow ? "with the main window" : "the controller alone", "", "call", "stall",
                "stall CPU", "picture");
    Figures idle, openShort, openLong, longOverShort, shortOverLong, stop;
    for (int run = 0; run < 3; ++run) {
      Bench bench(withWindow);
      bench.idle(1.5, idle);
      if (!bench.open(shortProject, *shortClip.screenPath, openShort) ||
          !bench.open(longProject, *longClip.screenPath, longOverShort) ||
          !bench.open(shortProject, *shortClip.screenPath, shortOverLong))
        return 1;
      Bench fresh(withWindow);
      if (!fresh.open(longProject, *longClip.screenPath, openLong) ||
          !fresh.stopRecording(recorded, stop))
        return 1;
    }
    row("idle for 1.5 s (baseline)", idle);
    row("open the 10 s project", openShort);
    row("open the 1 h project", openLong);
    row("replace 10 s by 1 h", longOverShort);
    row("replace 1 h by 10 s", shortOverLong);
    row("stop a 1 h recording (load)", stop);
  }
  std::printf("\ntarget: the longest stall under 16 ms\n");
  return 0;
}
