// The main window on a one-hour recording beside a 10-second one: opening the project to
// its first painted frame, a split with its autosave, and a scrub across the whole
// timeline. Run by hand (needs ffmpeg; a Release build): bench_long_project [FOLDER]
// The recordings are made once in FOLDER (default /tmp/vantry-bench-long) the way the
// recorder writes them: 1080p60 fragmented "screen.mp4", fragmented "voice.m4a", a
// 60 Hz pointer track with a click every 15 s, and "project.json".
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/shot_states.h"
#include "app/studio_window.h"
#include "design/painting.h"
#include "long_recordings.h"
#include "model/document_json.h"
#include "preview/preview_surface.h"
#include "studio/frame_source.h"
#include "studio/studio.h"

namespace {

using namespace vantry;
using bench::makeRecording;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Runs the event loop until `done` or the time is up; the longest single pass is the
// longest time the main thread was not free.
struct Loop {
  double longest = 0;
  bool until(const std::function<bool()>& done, double seconds = 60) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
      if (t.elapsed() > seconds * 1000) return false;
      const auto a = Clock::now();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      longest = std::max(longest, msSince(a));
      QThread::usleep(200);
    }
    return true;
  }
};

struct PaintWatch : QObject {
  Studio* studio = nullptr;
  bool paintedFrame = false;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint && studio->screenFrames() &&
        studio->screenFrames()->latestTime() >= 0)
      paintedFrame = true;
    return false;
  }
};

struct Figures {
  double read = 0, open = 0, firstFrame = 0;
  double split = 0, splitSaved = 0, splitStall = 0;
  double scrubTick = 0, scrubTickMax = 0, scrubSeekMax = 0, scrubLast = 0;
  int scrubPictures = 0;
};

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[size_t(p * (v.size() - 1) + 0.5)];
}

bool measure(const std::string& project, Figures& f) {
  StudioServices services = offscreenStudioServices();
  services.startClock = true;
  Studio studio(services);
  StudioWindowParts parts = StudioWindowParts::standard();
  parts.launchPreview = false;
  PaintWatch watch;
  watch.studio = &studio;
  parts.preview = [&](Studio& s, QWidget* parent) {
    auto* w = new PreviewSurface(&s, parent);  // the stage's own picture, watched
    w->installEventFilter(&watch);
    return w;
  };
  StudioWindow window(studio, parts);
  window.resize(1440, 900);
  window.show();
  Loop loop;
  loop.until([] { return false; }, 0.3);

  // Reading the document alone, as the open does first.
  auto t0 = Clock::now();
  decodeClipFile(project);
  f.read = msSince(t0);

  // Open to the first painted picture of the project.
  t0 = Clock::now();
  if (!studio.openProjectFile(project)) {
    std::fprintf(stderr, "cannot open %s: %s\n", project.c_str(),
                 studio.error().value_or("").c_str());
    return false;
  }
  f.open = msSince(t0);
  if (!loop.until([&] { return watch.paintedFrame; })) return false;
  f.firstFrame = msSince(t0);

  // A split in the middle, until "edit.json" holds it.
  studio.seek(studio.duration() / 2);
  loop.until([&] { return studio.screenFrames()->latestTime() > 1; });
  const fs::path edits = fs::path(*studio.projectURL());
  loop = Loop{};
  t0 = Clock::now();
  studio.split();
  f.split = msSince(t0);
  if (!loop.until([&] { return fs::exists(edits) && fs::file_size(edits) > 0; })) return false;
  f.splitSaved = msSince(t0);
  f.splitStall = std::max(f.split, loop.longest);

  // A drag over the whole timeline in two seconds at 60 Hz, then the last picture.
  std::vector<double> ticks, seeks;
  int pictures = 0;
  double seen = -1;
  auto next = Clock::now();
  const int steps = 120;
  for (int i = 0; i <= steps; ++i) {
    const auto a = Clock::now();
    studio.seek(studio.duration() * i / steps);
    seeks.push_back(msSince(a));
    QCoreApplication::processEvents();
    ticks.push_back(msSince(a));
    const double latest = studio.screenFrames()->latestTime();
    if (latest != seen) ++pictures, seen = latest;
    next += std::chrono::microseconds(16667);
    std::this_thread::sleep_until(next);
  }
  t0 = Clock::now();
  const double last = studio.sourceTime();
  loop.until([&] { return std::fabs(studio.screenFrames()->latestTime() - last) < 0.05; });
  f.scrubLast = msSince(t0);
  f.scrubTick = percentile(ticks, 0.5);
  f.scrubTickMax = *std::max_element(ticks.begin(), ticks.end());
  f.scrubPictures = pictures;
  f.scrubSeekMax = *std::max_element(seeks.begin(), seeks.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  installInterfaceFont();
  const fs::path root = bench::recordingsFolder(argc, argv);
  const int lengths[] = {10, 3600};
  Figures figures[2];
  for (int i = 0; i < 2; ++i) {
    const std::string project =
        makeRecording(root / (std::to_string(lengths[i]) + "s"), lengths[i]);
    if (project.empty() || !measure(project, figures[i])) return 1;
  }
  std::printf("%-48s %12s %12s\n", "", "10 s", "1 h");
  auto row = [&](const char* what, double Figures::*field) {
    std::printf("%-48s %9.1f ms %9.1f ms\n", what, figures[0].*field, figures[1].*field);
  };
  row("open: the call (main thread)", &Figures::open);
  row("  of which reading project.json", &Figures::read);
  row("open: to the first painted frame", &Figures::firstFrame);
  row("split: the call (main thread)", &Figures::split);
  row("split: until edit.json is written (350 ms delay)", &Figures::splitSaved);
  row("split: longest main-thread pass until saved", &Figures::splitStall);
  row("scrub 0 to end in 2 s: median main-thread tick", &Figures::scrubTick);
  row("scrub: longest main-thread tick", &Figures::scrubTickMax);
  row("  of which the longest seek call", &Figures::scrubSeekMax);
  row("scrub: the end's picture after the last seek", &Figures::scrubLast);
  std::printf("%-48s %12d %12d\n", "scrub: pictures shown of 121 seeks", figures[0].scrubPictures,
              figures[1].scrubPictures);
  return 0;
}
