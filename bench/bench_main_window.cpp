// Main-thread cost of the main window's views during demo playback at 60 Hz, 1250 x 880:
// each tick advances the controller, then the event loop runs the views' refreshes and
// paints. The preview surface is left out (an empty widget stands in for it). Prints the
// median and 99th percentile of the views' share per tick, as wall time and as the main
// thread's CPU time (which a loaded machine does not inflate), beside the controller's own
// tick as a baseline measured in the same run. Run a Release build: bench_main_window
// [TICKS]; BENCH_NO_TIMELINE=1 leaves the timeline card out.
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <thread>
#include <vector>

#include "app/shot_states.h"
#include "app/studio_window.h"
#include "design/motion.h"
#include "design/painting.h"
#include "studio/studio.h"

namespace {

using namespace vantry;
using Clock = std::chrono::steady_clock;

double threadMilliseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * (values.size() - 1) + 0.5);
  return values[at];
}

}  // namespace

// Paint events by widget class (BENCH_PAINTS=1): which views repaint on a tick.
struct PaintCounter : QObject {
  std::map<QString, int> counts;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++counts[QString::fromLatin1(o->metaObject()->className())];
    return false;
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  installInterfaceFont();

  Studio studio(offscreenStudioServices());
  StudioWindowParts parts = StudioWindowParts::standard();
  if (qEnvironmentVariableIsSet("BENCH_NO_TIMELINE")) parts.timeline = nullptr;
  parts.launchPreview = false;
  parts.preview = [](Studio&, QWidget* parent) { return new QWidget(parent); };
  StudioWindow window(studio, parts);
  window.resize(1250, 880);
  window.show();
  for (int i = 0; i < 10; ++i)
    QApplication::processEvents();
  int changes = 0;
  QObject::connect(&studio, &Studio::changed, [&changes] { ++changes; });
  studio.demo();
  for (int i = 0; i < 10; ++i)
    QApplication::processEvents();

  PaintCounter counter;
  if (qEnvironmentVariableIsSet("BENCH_PAINTS")) app.installEventFilter(&counter);
  const int ticks = argc > 1 ? std::max(60, std::atoi(argv[1])) : 900;
  std::vector<double> views, viewsCpu, controller;
  views.reserve(ticks);
  controller.reserve(ticks);
  const auto period = std::chrono::microseconds(16667);
  auto next = Clock::now();
  for (int i = 0; i < ticks; ++i) {
    if (!studio.playing()) studio.togglePlayback();  // the demo loops until the run ends
    const auto a = Clock::now();
    studio.tick();
    const auto b = Clock::now();
    const double cpu = threadMilliseconds();
    QApplication::processEvents();
    viewsCpu.push_back(threadMilliseconds() - cpu);
    const auto c = Clock::now();
    controller.push_back(std::chrono::duration<double, std::milli>(b - a).count());
    views.push_back(std::chrono::duration<double, std::milli>(c - b).count());
    next += period;
    std::this_thread::sleep_until(next);
  }
  for (const auto& [name, n] : counter.counts)
    std::printf("  %s %d\n", qPrintable(name), n);
  std::printf("changed() per tick: %.2f\n", double(changes) / ticks);
  for (const auto& [name, n] : counter.counts)
    std::printf("  %s %d\n", qPrintable(name), n);
  std::printf("changed() per tick: %.2f\n", double(changes) / ticks);
  std::printf("demo playback, %d ticks at 60 Hz, window 1250 x 880\n", ticks);
  std::printf("views per tick:      median %.3f ms   p99 %.3f ms   (budget 3 ms)\n",
              percentile(views, 0.5), percentile(views, 0.99));
  std::printf("views CPU per tick:  median %.3f ms   p99 %.3f ms\n", percentile(viewsCpu, 0.5),
              percentile(viewsCpu, 0.99));
  std::printf("controller per tick: median %.3f ms   p99 %.3f ms   (baseline)\n",
              percentile(controller, 0.5), percentile(controller, 0.99));
  return 0;
}
