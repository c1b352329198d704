// Paint cost of the timeline card on a one-hour project at timeline zoom 32 (about 920,000
// points of content): each playback frame repaints only the old and new playhead strips,
// and scrolling repaints the whole lane area. Both are drawn through the window, glass card
// included, as a real repaint would be. Run a Release build: bench_timeline.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "design/chrome.h"
#include "design/motion.h"
#include "studio/studio.h"
#include "timeline/lane_painter.h"
#include "timeline/timeline_geometry.h"
#include "timeline/timeline_lanes.h"
#include "timeline/timeline_view.h"

namespace {

using namespace vantry;
using Clock = std::chrono::steady_clock;

// This thread's CPU time in milliseconds: on a loaded machine the wall clock mostly measures
// waiting for a core.
double threadMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Wall and CPU milliseconds of each frame.
struct Frames {
  std::vector<double> wall;
  std::vector<double> cpu;

  template <typename Work>
  void measure(Work&& work) {
    const auto start = Clock::now();
    const double cpuStart = threadMs();
    work();
    cpu.push_back(threadMs() - cpuStart);
    wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
};

// An hour cut into 40 segments, a zoom every 9 s and a layout switch every minute.
Clip hourLongProject() {
  Clip clip;
  clip.title = "one hour";
  clip.duration = 3600;
  std::vector<SourceRange> ranges;
  for (int i = 0; i < 40; ++i)
    ranges.push_back({Uuid::random(), i * 90.0, i * 90.0 + 89.5});
  clip.keptRanges = ranges;
  std::vector<ZoomEvent> zooms;
  for (double t = 1; t + 3 < 3600; t += 9)
    zooms.push_back({Uuid::random(), t, t + 3, {0.5, 0.5}, std::nullopt});
  clip.zoomEventsOverride = zooms;
  std::vector<PresenterEvent> layouts;
  for (int m = 0; m < 60; ++m)
    layouts.push_back({Uuid::random(), m * 60.0, m % 2 == 1});
  clip.presenterEvents = layouts;
  return clip;
}

double median(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

void report(const char* what, const Frames& f, const char* limit) {
  std::printf("%-44s CPU median %6.3f ms, wall median %6.3f ms %s\n", what, median(f.cpu),
              median(f.wall), limit);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  setAnimationsFrozen(true);

  StudioServices services;
  services.startClock = false;
  Studio studio(services);
  if (!studio.load(hourLongProject())) {
    std::fprintf(stderr, "could not open the project\n");
    return 1;
  }
  studio.setTimelineZoom(32);

  AmbientBackground window;
  window.setAttribute(Qt::WA_DontShowOnScreen);
  window.resize(1480, 300);
  TimelineView view(studio, &window);
  view.setGeometry(20, 20, 1440, 240);
  window.show();
  QCoreApplication::processEvents();
  timeline::TimelineLanes* lanes = view.lanes();
  QWidget* viewport = lanes->viewport();
  const QPoint origin = viewport->mapTo(&window, QPoint());
  std::printf("content width %.0f points, %zu segments, %zu zoom blocks, %zu presenter blocks\n",
              lanes->contentWidth(), lanes->shapes().segments.size(), lanes->shapes().zooms.size(),
              lanes->shapes().presenters.size());

  QImage target(window.size(), QImage::Format_ARGB32_Premultiplied);
  const auto paint = [&](Frames& frames, const QRegion& viewportRegion) {
    frames.measure([&] { window.render(&target, QPoint(), viewportRegion.translated(origin)); });
  };
  const auto strip = [&](double time) {
    const double x = timeline::playheadX(time, lanes->pointsPerSecond(), lanes->contentWidth());
    const QRectF s = timeline::playheadStrip(x);
    return QRectF(lanes->viewportX(s.left()), s.top(), s.width(), s.height()).toAlignedRect();
  };

  // Playback at 60 frames a second from the middle of the hour.
  double t = 1800;
  Frames strips, whole, scrolling, alone;
  for (int frame = 0; frame < 600; ++frame) {
    // Keep the playhead in view, as a person watching would.
    if (frame % 200 == 0) lanes->scrollTo(t * lanes->pointsPerSecond() - 300);
    const double previous = t;
    t += 1.0 / 60;
    studio.setTime(t);
    paint(strips, QRegion(strip(previous)) + strip(t));
  }
  // The same frames with the whole lane area repainted, for comparison.
  for (int frame = 0; frame < 120; ++frame) {
    t += 1.0 / 60;
    studio.setTime(t);
    paint(whole, QRegion(viewport->rect()));
  }
  // Scrolling across the whole hour, 1531 points a frame.
  for (int frame = 0; frame < 600; ++frame) {
    lanes->scrollTo(frame * 1531.0);
    paint(scrolling, QRegion(viewport->rect()));
  }
  // Where the time goes: the lanes painted alone into an image.
  const timeline::LaneScene scene = lanes->scene();
  QImage lanesImage(viewport->size(), QImage::Format_ARGB32_Premultiplied);
  for (int frame = 0; frame < 300; ++frame) {
    const double from = frame * 1531.0;
    alone.measure([&] {
      QPainter p(&lanesImage);
      p.translate(timeline::contentPadding - from, 0);
      timeline::paintLanes(p, scene, from - timeline::contentPadding, from + viewport->width());
    });
  }

  report("playback frame, playhead strips only", strips, "(limit 2 ms)");
  report("playback frame, whole lane area (baseline)", whole, "");
  report("scrolling, whole lane area repainted", scrolling, "(limit 6 ms)");
  report("lane painting alone, whole area", alone, "");
  std::printf("strips cost x%.2f of the whole-area baseline (CPU)\n",
              median(strips.cpu) / median(whole.cpu));
  return 0;
}
