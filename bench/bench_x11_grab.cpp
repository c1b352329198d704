// X11 grab benchmark: how fast the display stream delivers frames and what it costs, on a
// private Xvfb with moving content, for the plain root grab, the composed grab that leaves
// out the application's own window, a scaled 4K grab and a covered-window grab. The
// baseline is a plain XGetImage of the same area in the same run. Run by hand (Release):
//   bench_x11_grab [SECONDS]   (default 3 per case)
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "../tests/platform/x11_test_server.h"
#include "cpu_time.h"
#include "platform/x11/x11_screen_capture.h"

namespace {

using namespace vantry;
using Clock = std::chrono::steady_clock;

using bench::cpuSeconds;
using bench::processCpuSeconds;

// Moves a window back and forth so that every frame differs.
struct Mover {
  std::atomic<bool> stop{false};
  std::thread thread;
  explicit Mover(const std::string& name) {
    thread = std::thread([this, name] {
      Display* d = XOpenDisplay(name.c_str());
      if (!d) {
        std::fprintf(stderr, "mover: cannot open %s\n", name.c_str());
        return;
      }
      {
        testing::ColourWindow w(d, 0, 100, 400, 300, 0x3080ff);
        for (int i = 0; !stop; ++i) {
          w.move((i * 7) % 1400, 100 + (i * 3) % 500);
          std::this_thread::sleep_for(std::chrono::milliseconds(8));
        }
      }
      XCloseDisplay(d);
    });
  }
  ~Mover() {
    stop = true;
    thread.join();
  }
};

struct Result {
  double fps = 0, selfCpuPerFrameMs = 0, serverCpuPerFrameMs = 0, cpuPerSecond = 0;
};

Result runStream(testing::PrivateXServer& x, platform::ScreenCapture& capture,
                 const platform::ContentFilter& filter, int w, int h, double interval,
                 double seconds) {
  std::atomic<int> frames{0};
  platform::StreamConfiguration config;
  config.width = w;
  config.height = h;
  config.minimumFrameInterval = interval;
  auto stream =
      capture.createStream(filter, config, {[&](const platform::Frame&) { ++frames; }, {}});
  stream->start();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int f0 = frames;
  const double c0 = cpuSeconds(), s0 = processCpuSeconds(x.pid());
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  const int n = frames - f0;
  const double c1 = cpuSeconds(), s1 = processCpuSeconds(x.pid());
  stream->stop();
  Result r;
  r.fps = n / elapsed;
  r.selfCpuPerFrameMs = n ? (c1 - c0) / n * 1000 : 0;
  r.serverCpuPerFrameMs = n ? (s1 - s0) / n * 1000 : 0;
  r.cpuPerSecond = (c1 - c0 + s1 - s0) / elapsed;
  return r;
}

double baselineGetImageMs(Display* d, int w, int h, double seconds) {
  int n = 0;
  const auto t0 = Clock::now();
  while (std::chrono::duration<double>(Clock::now() - t0).count() < seconds) {
    XImage* img = XGetImage(d, DefaultRootWindow(d), 0, 0, w, h, AllPlanes, ZPixmap);
    if (img) XDestroyImage(img);
    ++n;
  }
  return std::chrono::duration<double>(Clock::now() - t0).count() / n * 1000;
}

void report(const char* name, const Result& fast, const Result& paced, double baselineMs) {
  const double frameMs = fast.fps > 0 ? 1000 / fast.fps : 0;
  std::printf(
      "%-34s max %6.1f fps (%5.2f ms/frame, %.2fx baseline) | at 60 Hz: %5.1f fps, "
      "cpu %.2f cores (self %.2f ms + server %.2f ms per frame)\n",
      name, fast.fps, frameMs, baselineMs > 0 ? frameMs / baselineMs : 0, paced.fps,
      paced.cpuPerSecond, paced.selfCpuPerFrameMs, paced.serverCpuPerFrameMs);
}

void benchDisplay(int w, int h, int outW, int outH, bool ownWindow, double seconds) {
  testing::PrivateXServer x(w, h);
  Mover mover(x.name());
  std::unique_ptr<testing::ColourWindow> own;
  if (ownWindow) {
    own = std::make_unique<testing::ColourWindow>(x.display(), w / 2, h / 4, w / 3, h / 2, 0xff00ff,
                                                  "Vantry", "Vantry", getpid());
  }
  platform::x11::X11ScreenCapture capture("Vantry");
  const auto content = capture.shareableContent();
  platform::ContentFilter filter;
  filter.display = content.displays.front().id;
  filter.rect = content.displays.front().frame;
  filter.excludedApplications = {capture.ownApplication()};
  const double baseline = baselineGetImageMs(x.display(), w, h, seconds / 2);
  const Result fast = runStream(x, capture, filter, outW, outH, 1e-4, seconds);
  const Result paced = runStream(x, capture, filter, outW, outH, 1.0 / 60, seconds);
  char name[96];
  std::snprintf(name, sizeof name, "display %dx%d -> %dx%d%s", w, h, outW, outH,
                ownWindow ? " +own" : "");
  report(name, fast, paced, baseline);
}

void benchWindow(int outW, int outH, double seconds) {
  testing::PrivateXServer x(1920, 1080);
  testing::ColourWindow target(x.display(), 200, 150, 1280, 720, 0x40c040, "Target", "App");
  testing::ColourWindow cover(x.display(), 100, 100, 800, 600, 0x202020, "Cover", "Other");
  Mover mover(x.name());
  platform::x11::X11ScreenCapture capture("Vantry");
  platform::ContentFilter filter;
  filter.kind = platform::ContentFilter::Kind::window;
  filter.window = platform::WindowId(target.id());
  filter.rect = {200, 150, 1280, 720};
  const double baseline = baselineGetImageMs(x.display(), 1280, 720, seconds / 2);
  const Result fast = runStream(x, capture, filter, outW, outH, 1e-4, seconds);
  const Result paced = runStream(x, capture, filter, outW, outH, 1.0 / 60, seconds);
  char name[96];
  std::snprintf(name, sizeof name, "covered window 1280x720 -> %dx%d", outW, outH);
  report(name, fast, paced, baseline);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  benchDisplay(1920, 1080, 1920, 1080, false, seconds);
  benchDisplay(1920, 1080, 1920, 1080, true, seconds);
  benchDisplay(2560, 1440, 2560, 1440, false, seconds);
  benchDisplay(2560, 1440, 2560, 1440, true, seconds);
  benchDisplay(3840, 2160, 2560, 1440, false, seconds);
  benchWindow(1280, 720, seconds);
  benchWindow(1920, 1080, seconds);
  return 0;
}
