// Main-thread cost of the main window's views during demo playback at 60 Hz, 1250 x 880:
// each tick advances the controller, then the event loop runs the views' refreshes and
// paints. The preview surface is left out (an empty widget stands in for it). Prints the
// median and 99th percentile of the views' share per tick, beside the controller's own tick
// as a baseline measured in the same run. Run a Release build: bench_main_window.
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * (values.size() - 1) + 0.5);
  return values[at];
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  installInterfaceFont();

  Studio studio(offscreenStudioServices());
  StudioWindowParts parts = StudioWindowParts::standard();
  parts.launchPreview = false;
  parts.preview = [](Studio&, QWidget* parent) { return new QWidget(parent); };
  StudioWindow window(studio, parts);
  window.resize(1250, 880);
  window.show();
  for (int i = 0; i < 10; ++i)
    QApplication::processEvents();
  studio.demo();
  for (int i = 0; i < 10; ++i)
    QApplication::processEvents();

  const int ticks = argc > 1 ? std::max(60, std::atoi(argv[1])) : 900;
  std::vector<double> views, controller;
  views.reserve(ticks);
  controller.reserve(ticks);
  const auto period = std::chrono::microseconds(16667);
  auto next = Clock::now();
  for (int i = 0; i < ticks; ++i) {
    if (!studio.playing()) studio.togglePlayback();  // the demo loops until the run ends
    const auto a = Clock::now();
    studio.tick();
    const auto b = Clock::now();
    QApplication::processEvents();
    const auto c = Clock::now();
    controller.push_back(std::chrono::duration<double, std::milli>(b - a).count());
    views.push_back(std::chrono::duration<double, std::milli>(c - b).count());
    next += period;
    std::this_thread::sleep_until(next);
  }
  std::printf("demo playback, %d ticks at 60 Hz, window 1250 x 880\n", ticks);
  std::printf("views per tick:      median %.3f ms   p99 %.3f ms   (budget 3 ms)\n",
              percentile(views, 0.5), percentile(views, 0.99));
  std::printf("controller per tick: median %.3f ms   p99 %.3f ms   (baseline)\n",
              percentile(controller, 0.5), percentile(controller, 0.99));
  return 0;
}
