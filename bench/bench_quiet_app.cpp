// What the application costs while it sits open: the real main window with the real
// capture services on the X display of DISPLAY (1920 x 1080), the synthetic camera and the
// sound server of PULSE_SERVER. Four scenes, each measured over the same span: standby with
// a still screen, standby with a screen that changes every frame, recording with camera and
// microphone (the recorded movie is read back for its frame rate and gaps), and playing
// that recording as a project, with its sound as the clock and without. Prints cores used
// (per-thread CPU time, which a loaded machine does not inflate), resident memory, and the split by
// thread; the main thread is split further into composing the preview, painting the rest of the
// window, and the remainder (clock, controller, events), and how many pictures the stage composed
// for each paint of it. The encoders' worker threads carry the name of the thread that opened them
// ("studio.setup" while recording). Run a Release build through bench/quiet_app.sh, which starts a
// private Xvfb and sound server:
//   bench/quiet_app.sh [SECONDS]   (default 20)
#include <QApplication>
#include <QPaintEvent>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <X11/Xlib.h>
#include <dirent.h>
#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/main_column.h"
#include "app/own_windows.h"
#include "app/preview_stage.h"
#include "app/studio_window.h"
#include "cpu_time.h"
#include "design/painting.h"
#include "preview/preview_surface.h"
#include "studio/studio.h"

namespace {

using namespace vantry;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// CPU seconds of every thread of this process by thread id, with its name.
struct ThreadTime {
  std::string name;
  double seconds = 0;
};

std::map<int, ThreadTime> threadTimes() {
  std::map<int, ThreadTime> out;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return out;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    const int tid = std::atoi(e->d_name);
    const std::string base = std::string("/proc/self/task/") + e->d_name;
    std::ifstream comm(base + "/comm");
    std::string name;
    std::getline(comm, name);
    // schedstat: nanoseconds on the CPU, finer than the clock ticks of stat.
    std::ifstream sched(base + "/schedstat");
    unsigned long long ns = 0;
    if (!(sched >> ns)) continue;
    out[tid] = {name, double(ns) * 1e-9};
  }
  closedir(dir);
  return out;
}

double residentMegabytes() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// The main thread's time in the preview's paints and in whole-window repaints.
class MeteredApplication : public QApplication {
 public:
  using QApplication::QApplication;
  double composeSeconds = 0;  // the preview surface's paint events
  double repaintSeconds = 0;  // whole repaints of top-level windows (preview included)
  int previewPaints = 0;
  PreviewSurface* stage = nullptr;  // the main window's picture
  // Paint events by widget class: count and seconds (BENCH_PAINTS=1 prints them).
  std::map<std::string, std::pair<int, double>> paints;

  bool notify(QObject* receiver, QEvent* event) override {
    const auto type = event->type();
    const bool paint = type == QEvent::Paint;
    const bool preview = paint && qobject_cast<PreviewSurface*>(receiver) != nullptr;
    const bool repaint = type == QEvent::UpdateRequest && receiver->isWidgetType() &&
                         static_cast<QWidget*>(receiver)->isWindow();
    if (!paint && !repaint) return QApplication::notify(receiver, event);
    const double before = threadCpuSeconds();
    const bool result = QApplication::notify(receiver, event);
    const double spent = threadCpuSeconds() - before;
    if (paint) {
      auto& entry = paints[receiver->metaObject()->className()];
      ++entry.first;
      entry.second += spent;
    }
    if (preview) {
      composeSeconds += spent;
      ++previewPaints;
    } else if (repaint) {
      repaintSeconds += spent;
    }
    return result;
  }
};

// Paints the whole root window a new colour every frame, with a moving bar, from its own
// connection and thread (left out of the application's figures).
class ScreenPainter {
 public:
  void start() {
    stop_ = false;
    thread_ = std::thread([this] {
      pthread_setname_np(pthread_self(), "bench.painter");
      Display* d = XOpenDisplay(nullptr);
      if (!d) return;
      const Window root = DefaultRootWindow(d);
      const int w = DisplayWidth(d, DefaultScreen(d));
      const int h = DisplayHeight(d, DefaultScreen(d));
      GC gc = XCreateGC(d, root, 0, nullptr);
      XGCValues values{};
      values.subwindow_mode = IncludeInferiors;
      XChangeGC(d, gc, GCSubwindowMode, &values);
      auto next = Clock::now();
      for (unsigned i = 0; !stop_; ++i) {
        XSetForeground(d, gc, 0x203040 + (i % 64) * 0x010203);
        XFillRectangle(d, root, gc, 0, 0, unsigned(w), unsigned(h));
        XSetForeground(d, gc, 0xf0f0f0);
        XFillRectangle(d, root, gc, int((i * 13) % unsigned(w)), 0, 60, unsigned(h));
        XSync(d, False);
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
      }
      XFreeGC(d, gc);
      XCloseDisplay(d);
    });
  }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  ~ScreenPainter() { stop(); }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

pid_t serverPid() {
  // The X server of DISPLAY: the Xvfb whose command line names that display.
  const char* display = std::getenv("DISPLAY");
  if (!display) return -1;
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(e.path() / "cmdline");
    std::string cmd((std::istreambuf_iterator<char>(in)), {});
    std::replace(cmd.begin(), cmd.end(), '\0', ' ');
    if (cmd.rfind("Xvfb ", 0) == 0 && cmd.find(std::string(display) + " ") != std::string::npos)
      return std::atoi(name.c_str());
  }
  return -1;
}

// Runs the event loop for `seconds` (the application keeps working meanwhile).
void runFor(double seconds) {
  QEventLoop loop;
  QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
}

bool runUntil(const std::function<bool()>& done, double seconds) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (Clock::now() > end) return false;
    runFor(0.02);
  }
  return true;
}

// Thread names grouped into what they do.
std::string groupOf(const std::string& name, bool main) {
  if (main) return "main";
  if (name.rfind("bench.", 0) == 0) return "";
  // Threads nobody named carry the program's name.
  if (name == program_invocation_short_name) return "(unnamed)";
  return name;
}

struct Scene {
  std::string name;
  double cores = 0, rss = 0, server = 0;
  double compose = 0, repaint = 0;
  int paints = 0;
  int compositions = 0;                    // by the main window's stage
  std::map<std::string, double> byThread;  // cores
  std::map<std::string, std::pair<int, double>> paintsByClass;
};

Scene measure(MeteredApplication& app, const std::string& name, double seconds) {
  const pid_t server = serverPid();
  const auto before = threadTimes();
  const double composeBefore = app.composeSeconds, repaintBefore = app.repaintSeconds;
  const int paintsBefore = app.previewPaints;
  const int compositionsBefore = app.stage->compositions();
  const auto classesBefore = app.paints;
  const double serverBefore = server > 0 ? bench::processCpuSeconds(server) : 0;
  const auto start = Clock::now();
  double rss = 0;
  for (int i = 0; i < int(seconds); ++i) {
    runFor(1.0);
    rss = std::max(rss, residentMegabytes());
  }
  runFor(seconds - int(seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const auto after = threadTimes();
  Scene scene;
  scene.name = name;
  scene.rss = rss;
  const int mainTid = getpid();
  for (const auto& [tid, t] : after) {
    const auto was = before.find(tid);
    const double spent = t.seconds - (was != before.end() ? was->second.seconds : 0.0);
    const std::string group = groupOf(t.name, tid == mainTid);
    if (group.empty()) continue;
    scene.byThread[group] += spent / wall;
    scene.cores += spent / wall;
  }
  // Threads that ended inside the span count with what they had at its start only; say so.
  for (const auto& [tid, t] : before) {
    if (!after.count(tid)) scene.byThread["(ended)"] += 0;
  }
  scene.compose = (app.composeSeconds - composeBefore) / wall;
  scene.repaint = (app.repaintSeconds - repaintBefore) / wall;
  scene.paints = app.previewPaints - paintsBefore;
  scene.compositions = app.stage->compositions() - compositionsBefore;
  for (const auto& [name, entry] : app.paints) {
    const auto was = classesBefore.find(name);
    const auto old = was != classesBefore.end() ? was->second : std::pair<int, double>{};
    scene.paintsByClass[name] = {entry.first - old.first, (entry.second - old.second) / wall};
  }
  scene.server = server > 0 ? (bench::processCpuSeconds(server) - serverBefore) / wall : 0;
  return scene;
}

void print(const Scene& s, double seconds) {
  std::printf("\n== %s ==\n", s.name.c_str());
  std::printf("  cores %.3f   rss %.0f MB   X server %.3f cores   preview paints %.1f/s\n", s.cores,
              s.rss, s.server, s.paints / seconds);
  std::printf("  compositions per preview paint %.2f (%d for %d)\n",
              s.paints ? double(s.compositions) / s.paints : 0.0, s.compositions, s.paints);
  const double main = s.byThread.count("main") ? s.byThread.at("main") : 0;
  std::printf(
      "  main %.3f = compose (preview paint) %.3f + paint (rest of window) %.3f + "
      "other %.3f\n",
      main, s.compose, std::max(0.0, s.repaint - s.compose),
      std::max(0.0, main - std::max(s.repaint, s.compose)));
  if (std::getenv("BENCH_PAINTS")) {
    for (const auto& [name, entry] : s.paintsByClass)
      if (entry.first > 0)
        std::printf("    paint %-28s %6.1f/s %.3f\n", name.c_str(), entry.first / seconds,
                    entry.second);
  }
  std::vector<std::pair<double, std::string>> rows;
  for (const auto& [name, cores] : s.byThread)
    if (name != "main") rows.emplace_back(cores, name);
  std::sort(rows.rbegin(), rows.rend());
  for (const auto& [cores, name] : rows)
    if (cores >= 0.0005) std::printf("  %-18s %.3f\n", name.c_str(), cores);
}

// Frame rate and gaps of a recorded screen movie.
void readBack(const fs::path& movie) {
  AVFormatContext* in = nullptr;
  if (avformat_open_input(&in, movie.c_str(), nullptr, nullptr) < 0) {
    std::printf("  cannot read %s\n", movie.c_str());
    return;
  }
  avformat_find_stream_info(in, nullptr);
  const int video = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  std::vector<double> times;
  AVPacket* packet = av_packet_alloc();
  while (video >= 0 && av_read_frame(in, packet) >= 0) {
    if (packet->stream_index == video && packet->pts != AV_NOPTS_VALUE)
      times.push_back(double(packet->pts) * av_q2d(in->streams[video]->time_base));
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  const int width = video >= 0 ? in->streams[video]->codecpar->width : 0;
  const int height = video >= 0 ? in->streams[video]->codecpar->height : 0;
  avformat_close_input(&in);
  std::sort(times.begin(), times.end());
  if (times.size() < 2) {
    std::printf("  recorded movie has %zu frames\n", times.size());
    return;
  }
  const double span = times.back() - times.front();
  int gaps = 0;
  double missing = 0;
  for (std::size_t i = 1; i < times.size(); ++i) {
    const double step = times[i] - times[i - 1];
    if (step > 1.5 / 60.0) {
      ++gaps;
      missing += step * 60.0 - 1.0;
    }
  }
  std::printf(
      "  recorded %dx%d: %zu frames over %.2f s = %.2f fps, %d gaps (%.0f frames missing)\n", width,
      height, times.size(), span, double(times.size() - 1) / span, gaps, missing);
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const double seconds = argc > 1 ? std::max(2.0, std::atof(argv[1])) : 20.0;
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr,
                 "run through bench/quiet_app.sh (needs an X display and a sound server)\n");
    return 2;
  }
  setenv("VANTRY_SYNTHETIC_CAMERA", "1", 1);
  // Recordings, settings and autosaves stay in a folder of this run.
  QTemporaryDir home;
  setenv("HOME", home.path().toLocal8Bit().constData(), 1);
  setenv("XDG_DATA_HOME", (home.path() + "/data").toLocal8Bit().constData(), 1);
  setenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit().constData(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);

  MeteredApplication app(argc, argv);
  claimOwnWindows();  // as the app does: its own window is left out of the preview
  QApplication::setOrganizationName("Vantry");
  QApplication::setApplicationName("Vantry");
  installInterfaceFont();
  Studio studio;
  StudioWindow window(studio, StudioWindowParts::standard());
  window.show();
  window.activateWindow();
  app.stage = qobject_cast<PreviewSurface*>(window.mainColumn()->stage()->picture());

  double load[3] = {};
  getloadavg(load, 3);
  std::printf("quiet app: %.0f s per scene, window %dx%d, load average %.2f %.2f %.2f\n", seconds,
              window.width(), window.height(), load[0], load[1], load[2]);

  if (!runUntil([&] { return studio.standby() && studio.canStartRecording(); }, 20)) {
    std::fprintf(stderr, "the live preview did not start: %s\n",
                 studio.setupError().value_or("").c_str());
    return 1;
  }
  runFor(2);
  std::vector<Scene> scenes;
  scenes.push_back(measure(app, "standby, still screen", seconds));
  print(scenes.back(), seconds);

  ScreenPainter painter;
  painter.start();
  runFor(1);
  scenes.push_back(measure(app, "standby, screen changing every frame", seconds));
  print(scenes.back(), seconds);
  painter.stop();
  runFor(1);

  studio.record();
  if (!runUntil([&] { return studio.canStartRecording(); }, 20)) {
    std::fprintf(stderr, "the recording setup did not get ready\n");
    return 1;
  }
  studio.startPreparedRecording();
  if (!runUntil([&] { return studio.recording(); }, 20)) {
    std::fprintf(stderr, "the recording did not start: %s\n",
                 studio.setupError().value_or("").c_str());
    return 1;
  }
  runFor(1);
  scenes.push_back(measure(app, "recording 1080p60, camera and microphone", seconds));
  print(scenes.back(), seconds);
  runFor(2);
  studio.stop();
  if (!runUntil([&] { return !studio.recording() && !studio.busy() && studio.projectURL(); }, 60)) {
    std::fprintf(stderr, "the recording was not saved: %s\n", studio.error().value_or("").c_str());
    return 1;
  }
  if (const auto screen = studio.clip().screenPath) readBack(*screen);

  // The recording is long enough for each playing span: it is played from its start each time.
  const auto play = [&](const std::string& name) {
    runFor(2);
    studio.seek(0);
    studio.togglePlayback();
    runFor(0.5);
    scenes.push_back(measure(app, name, seconds));
    print(scenes.back(), seconds);
    if (studio.playing()) studio.togglePlayback();
  };
  play("playing the recording with sound");
  Clip silent = studio.clip();
  silent.audioPath.reset();
  if (!studio.load(silent)) {
    std::fprintf(stderr, "the recording did not open without its sound: %s\n",
                 studio.error().value_or("").c_str());
    return 1;
  }
  play("playing the recording without sound");

  std::printf(
      "\nscene                                      cores   main  compose   rss MB  "
      "compositions/paint\n");
  for (const Scene& s : scenes)
    std::printf("%-42s %6.3f %6.3f %7.3f %8.0f %8.2f\n", s.name.c_str(), s.cores,
                s.byThread.count("main") ? s.byThread.at("main") : 0.0, s.compose, s.rss,
                s.paints ? double(s.compositions) / s.paints : 0.0);
  getloadavg(load, 3);
  std::printf("load average at the end %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  return 0;
}
