// Recording benchmark: records a 1920x1080 and a 2560x1440 display of a private Xvfb with
// moving content and prints frames written per second (target 60, none dropped for a busy
// encoder), pointer samples per second (target 60 +- 0.5) and CPU time per second of
// recording (this process, and the X server's share), each against a baseline of the same
// stream running with nothing written. Run by hand in a Release build:
//   bench_capture [SECONDS]   (default 30)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "../tests/capture/recorder_support.h"
#include "capture/display_recorder.h"
#include "cpu_time.h"

// Xlib last: its macros clash with names in the headers above.
#include <X11/Xlib.h>
#undef Bool
#undef Status

namespace {

using vantry::bench::cpuSeconds;
using vantry::bench::processCpuSeconds;

// The benchmark's own X server, started the same way the recorder tests start theirs.
struct Xvfb {
  vantry::test::PrivateXvfbServer server;
  pid_t pid = -1;
  Display* dpy = nullptr;
  Xvfb(int w, int h) : server(w, h), pid(server.pid) {
    if (server.display.empty()) return;
    setenv("DISPLAY", server.display.c_str(), 1);
    dpy = XOpenDisplay(nullptr);
  }
  ~Xvfb() {
    if (dpy) XCloseDisplay(dpy);
  }
};

struct Result {
  double seconds = 0;
  double framesPerSecond = 0;
  long dropped = 0;
  double samplesPerSecond = 0;
  double cpuPerSecond = 0;
  double serverCpuPerSecond = 0;
  // Baseline: the same stream with nothing written, for as long.
  double grabFramesPerSecond = 0;
  double grabCpuPerSecond = 0;
};

bool run(int w, int h, double seconds, Result& r) {
  Xvfb x(w, h);
  if (!x.dpy) {
    std::fprintf(stderr, "could not start Xvfb %dx%d\n", w, h);
    return false;
  }
  // Moving content: three windows that slide and change colour every frame.
  Window wins[3];
  for (int i = 0; i < 3; ++i) {
    wins[i] = XCreateSimpleWindow(x.dpy, DefaultRootWindow(x.dpy), 0, 0, w / 4, h / 4, 0, 0,
                                  0x204080u * (i + 1));
    XMapRaised(x.dpy, wins[i]);
  }
  XSync(x.dpy, False);
  std::atomic<bool> stop{false};
  std::thread animator([&] {
    Display* d = XOpenDisplay(nullptr);
    for (int n = 0; !stop.load(); ++n) {
      for (int i = 0; i < 3; ++i) {
        XMoveWindow(d, wins[i], (n * (7 + i * 3)) % (w - w / 4),
                    (n * (5 + i)) % (h - h / 4) + i * 10);
        XSetWindowBackground(d, wins[i], 0x010203u * ((n * 5 + i * 40) % 256));
        XClearWindow(d, wins[i]);
      }
      XFlush(d);
      std::this_thread::sleep_for(std::chrono::milliseconds(16));
    }
    XCloseDisplay(d);
  });

  const auto folder =
      std::filesystem::temp_directory_path() / ("vantry-bench-" + std::to_string(getpid()));
  vantry::RecorderEnvironment env;
  env.recordingsFolder = folder.string();
  bool ok = true;
  try {
    auto screen = vantry::platform::defaultScreenCapture();
    vantry::platform::DisplayId id = 0;
    vantry::platform::DisplayInfo display;
    for (const auto& d : screen->shareableContent().displays) {
      if (d.primary || id == 0) {
        id = d.id;
        display = d;
      }
    }
    {
      vantry::platform::ContentFilter filter;
      filter.display = id;
      filter.rect = display.frame;
      vantry::platform::StreamConfiguration config;
      config.width = w;
      config.height = h;
      std::atomic<long> frames{0};
      vantry::platform::FrameStream::Callbacks callbacks;
      callbacks.onFrame = [&](const vantry::platform::Frame&) { frames.fetch_add(1); };
      auto stream = screen->createStream(filter, config, callbacks);
      const double cpu0 = cpuSeconds();
      const auto t0 = std::chrono::steady_clock::now();
      stream->start();
      std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      stream->stop();
      const double wall =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      r.grabFramesPerSecond = double(frames.load()) / wall;
      r.grabCpuPerSecond = (cpuSeconds() - cpu0) / wall;
    }
    vantry::DisplayRecorder recorder(env);
    const double cpu0 = cpuSeconds();
    const double server0 = processCpuSeconds(x.pid);
    const auto t0 = std::chrono::steady_clock::now();
    recorder.start(id, std::nullopt);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const vantry::Clip clip = recorder.stop();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const auto stats = recorder.stats();
    r.seconds = clip.duration;
    r.framesPerSecond = double(stats.framesWritten) / clip.duration;
    r.dropped = long(stats.framesDropped);
    // Over the sampled span: the timer stops before the stream does, by design.
    const auto& samples = clip.samples.get();
    if (samples.size() > 1)
      r.samplesPerSecond =
          double(samples.size() - 1) / (samples.back().time - samples.front().time);
    r.cpuPerSecond = (cpuSeconds() - cpu0) / wall;
    r.serverCpuPerSecond = (processCpuSeconds(x.pid) - server0) / wall;
    if (!recorder.warning().empty())
      std::fprintf(stderr, "warning: %s\n", recorder.warning().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%dx%d: %s\n", w, h, e.what());
    ok = false;
  }
  stop.store(true);
  animator.join();
  std::filesystem::remove_all(folder);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
  std::printf(
      "recording %.0f s per size; targets: 60 frames/s, 0 dropped, 60 +- 0.5 samples/s, "
      "< 1 core at 1080p\n",
      seconds);
  std::printf("%-10s %8s %10s %8s %10s %12s %12s\n", "size", "seconds", "frames/s", "dropped",
              "samples/s", "cpu/s (own)", "cpu/s (X)");
  std::fflush(stdout);
  int failures = 0;
  for (auto [w, h] : {std::pair{1920, 1080}, std::pair{2560, 1440}}) {
    // Each size in its own process: X connections are kept per thread for the process's life.
    pid_t child = fork();
    if (child == 0) {
      QCoreApplication app(argc, argv);
      Result r;
      if (!run(w, h, seconds, r)) _exit(1);
      std::printf("%4dx%-5d %8.2f %10.2f %8ld %10.2f %12.3f %12.3f\n", w, h, r.seconds,
                  r.framesPerSecond, r.dropped, r.samplesPerSecond, r.cpuPerSecond,
                  r.serverCpuPerSecond);
      std::printf(
          "  baseline, stream alone: %.2f frames/s, %.3f cpu/s; recording gets x%.3f of "
          "its frames for x%.2f its cpu; x%.3f of 60 frames/s\n",
          r.grabFramesPerSecond, r.grabCpuPerSecond, r.framesPerSecond / r.grabFramesPerSecond,
          r.cpuPerSecond / r.grabCpuPerSecond, r.framesPerSecond / 60.0);
      std::fflush(stdout);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failures;
  }
  return failures ? 1 : 0;
}
