// The controller and the preview surface under load. Run a Release build by hand:
//   bench_studio preview   redraw cost with and without a settings change, 720p and 4K
//   bench_studio scrub     backward scrubbing of a 1080p60 movie at 60 Hz: main-thread time
//                          per seek and how far the picture trails the playhead
//   bench_studio fullscreen
//                          the full-screen player playing a 1080p60 movie on a 1080p and
//                          a 2160p screen: main-thread time per frame (compose, scale,
//                          paint), target 10 ms
//   bench_studio record [SECONDS [STALL]]
//                          a 30 s recording with the live preview and a 0.5 s main-thread
//                          stall part-way (needs an X server; the synthetic camera is used);
//                          a stall of 0 gives the baseline
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cpu_time.h"
#include "platform/ffmpeg/ff_util.h"
#include "platform/ffmpeg/movie_writer.h"
#include "player/fullscreen_player.h"
#include "preview/preview_surface.h"
#include "render/export_compositor.h"
#include "render/kernels/pixel_kernels.h"
#include "studio/capture_services.h"
#include "studio/frame_source.h"
#include "studio/studio.h"
#include "studio_recording.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using namespace vantry;
using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Stats {
  std::vector<double> values;
  void add(double v) { values.push_back(v); }
  double mean() const {
    double s = 0;
    for (double v : values)
      s += v;
    return values.empty() ? 0 : s / values.size();
  }
  double quantile(double q) const {
    if (values.empty()) return 0;
    auto v = values;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * (v.size() - 1) + 0.5))];
  }
  double max() const {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
  }
};

void print(const char* what, const Stats& s, const char* unit = "ms") {
  std::printf("%-52s mean %7.2f  p95 %7.2f  max %7.2f %s\n", what, s.mean(), s.quantile(0.95),
              s.max(), unit);
}

QImage pattern(int w, int h, QColor a, QColor b) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  p.fillRect(image.rect(), a);
  for (int y = 0; y < h; y += h / 12)
    p.fillRect(w / 10, y, w * 7 / 10, h / 40, b);
  return image;
}

StudioServices quietServices() {
  StudioServices s;
  s.openFrames = [](const std::string& path) { return openMovieFrames(path); };
  s.startClock = false;
  return s;
}

// --- preview ---

int preview() {
  Studio studio(quietServices());
  studio.setLiveScreenImage(pattern(1920, 1080, QColor(240, 243, 248), QColor(70, 90, 140)));
  studio.setLiveCameraImage(pattern(1280, 720, QColor(200, 150, 120), QColor(90, 60, 50)));
  PreviewSurface surface(&studio);

  for (QSize size : {QSize(1280, 720), QSize(3840, 2160)}) {
    surface.resize(size);
    QImage backing(size, QImage::Format_ARGB32_Premultiplied);
    // One redraw: compose at the device size and put it on the backing store.
    auto redraw = [&] {
      const QImage& picture = surface.compose(size);
      QPainter p(&backing);
      p.drawImage(QPointF(0, 0), picture);
    };
    redraw();
    const int runs = size.width() > 2000 ? 60 : 200;
    struct Case {
      const char* name;
      std::function<void(EditSettings&, int)> change;
    };
    const std::vector<Case> cases = {
        {"no change", [](EditSettings&, int) {}},
        {"camera size (slider step)",
         [](EditSettings& s, int i) { s.cameraSize = 0.15 + 0.001 * (i % 100); }},
        {"padding (slider step)",
         [](EditSettings& s, int i) { s.padding = 0.01 + 0.0005 * (i % 80); }},
        {"background palette", [](EditSettings& s, int i) { s.background = i % 4; }},
        {"camera dragged",
         [](EditSettings& s, int i) {
           s.cameraPosition = Point{0.3 + 0.002 * (i % 100), 0.6};
         }},
    };
    for (const auto& c : cases) {
      Stats redraws;
      Stats withSetter;
      for (int i = 0; i < runs; ++i) {
        auto settings = studio.settings();
        c.change(settings, i);
        const auto t0 = Clock::now();
        studio.setSettings(settings);
        const auto t1 = Clock::now();
        redraw();
        const auto t2 = Clock::now();
        redraws.add(ms(t2 - t1));
        withSetter.add(ms(t2 - t0));
      }
      char label[96];
      std::snprintf(label, sizeof label, "%dx%d redraw, %s", size.width(), size.height(), c.name);
      print(label, redraws);
      std::snprintf(label, sizeof label, "%dx%d   with the controller's setter", size.width(),
                    size.height());
      print(label, withSetter);
    }
  }
  return 0;
}

// --- scrub ---

bool writeMovie(const std::string& path, int w, int h, int fps, double seconds) {
  MovieWriterSettings s;
  s.path = path;
  s.crashSafe = false;
  VideoTrackSettings v;
  v.width = w;
  v.height = h;
  v.frameRate = fps;
  v.encoderOptions = {{"preset", "ultrafast"}};  // as the screen recorder writes
  s.video = v;
  MovieWriter writer(s);
  if (!writer.start()) return false;
  const int frames = int(seconds * fps);
  for (int i = 0; i < frames; ++i) {
    auto image = std::make_shared<QImage>(w, h, QImage::Format_ARGB32_Premultiplied);
    QPainter p(image.get());
    p.fillRect(image->rect(), QColor(240, 243, 248));
    for (int line = 0; line < 40; ++line)
      p.fillRect(w / 10, (line * h / 30 + i * 3) % h, w * (line % 7 + 3) / 12, h / 80,
                 QColor(60 + line * 3 % 120, 80, 120));
    p.end();
    VideoFrameView view;
    view.data = image->constBits();
    view.width = w;
    view.height = h;
    view.stride = int(image->bytesPerLine());
    view.owner = image;
    if (!writer.appendVideo(view, double(i) / fps, {}, true)) return false;
  }
  return writer.finish();
}

// Writes a 12 s 1080p60 screen.mp4 into `dir` and opens it as the studio's project.
bool openMovie(Studio& studio, const QTemporaryDir& dir) {
  const std::string movie = dir.filePath("screen.mp4").toStdString();
  std::printf("writing a 12 s 1080p60 screen.mp4 ...\n");
  if (!writeMovie(movie, 1920, 1080, 60, 12)) {
    std::fprintf(stderr, "cannot write the movie\n");
    return false;
  }
  Clip clip;
  clip.title = "Movie";
  clip.duration = 12;
  clip.screenPath = movie;
  if (!studio.load(clip)) {
    std::fprintf(stderr, "cannot open: %s\n", studio.error().value_or("").c_str());
    return false;
  }
  return true;
}

int scrub() {
  QTemporaryDir dir;
  Studio studio(quietServices());
  if (!openMovie(studio, dir)) return 1;
  PreviewSurface surface(&studio);
  surface.resize(1280, 720);
  FrameSource* frames = studio.screenFrames();

  for (double speed : {1.0, 4.0}) {
    Stats perSeek;
    Stats seekOnly;
    Stats lag;
    bool caughtUp = false;
    const double from = 11.5;
    const auto start = Clock::now();
    auto next = start;
    for (int tick = 0;; ++tick) {
      const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
      const double wanted = from - speed * elapsed;
      if (wanted < 0.5) break;
      // One 60 Hz tick of the main thread: the seek, the events it posted, one redraw.
      const auto t0 = Clock::now();
      studio.seek(wanted);
      seekOnly.add(ms(Clock::now() - t0));
      QCoreApplication::processEvents();
      surface.compose(QSize(1280, 720));
      perSeek.add(ms(Clock::now() - t0));
      // From the first picture near the playhead on (the first one takes a cold open).
      const double behind = std::fabs(frames->latestTime() - wanted) / speed;
      caughtUp = caughtUp || behind < 0.5;
      if (caughtUp) lag.add(behind * 1000);
      next += std::chrono::microseconds(16667);
      std::this_thread::sleep_until(next);
    }
    std::printf("backwards at %.0fx:\n", speed);
    print("  main-thread time per seek call", seekOnly);
    print("  main-thread time per tick (seek, events, redraw)", perSeek);
    print("  picture behind the playhead (wall time)", lag);
  }
  return 0;
}

// --- fullscreen ---

struct PaintCount : QObject {
  int count = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++count;
    return false;
  }
};

int fullscreen() {
  QTemporaryDir dir;
  Studio studio(quietServices());
  if (!openMovie(studio, dir)) return 1;
  FrameSource* frames = studio.screenFrames();
  double baseline = 0;
  PaintCount paints;
  for (QSize screen : {QSize(1920, 1080), QSize(3840, 2160)}) {
    auto* window = new FullscreenWindow(studio);
    window->surface()->installEventFilter(&paints);
    window->resize(screen);
    window->show();
    studio.setPlaying(false);
    studio.seek(0.5);
    const auto waitStart = Clock::now();
    while (frames->latest().isNull() && Clock::now() - waitStart < std::chrono::seconds(5))
      QCoreApplication::processEvents();
    const QSize pixels = window->surface()->canvasRect().size().toSize();
    const QSize capped = ExportCompositor::composeSize(pixels);
    char label[96];
    for (bool controls : {true, false}) {
      studio.setPlaying(true);
      // Shown, the controls repaint with every frame too; hidden is how a film plays on.
      window->setHideDelay(1 << 30);
      if (!controls) window->hideControlsNow();
      Stats wall;
      Stats cpu;
      auto next = Clock::now();
      for (int tick = 0; tick < 300; ++tick) {
        // One 60 Hz frame of the main thread: the clock, the arrived picture, one redraw.
        const auto t0 = Clock::now();
        const double c0 = bench::threadMilliseconds();
        studio.tick();
        // The arrived picture and the updates, painted once as the event loop does.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(window, QEvent::UpdateRequest);
        cpu.add(bench::threadMilliseconds() - c0);
        wall.add(ms(Clock::now() - t0));
        next += std::chrono::microseconds(16667);
        std::this_thread::sleep_until(next);
      }
      studio.setPlaying(false);
      std::snprintf(label, sizeof label, "%dx%d, controls %s: per tick (cpu)", screen.width(),
                    screen.height(), controls ? "shown" : "hidden");
      print(label, cpu);
      // Ticks without a new picture cost little; what counts is the time per painted frame.
      const double perFrame = cpu.mean() * double(cpu.values.size()) / std::max(paints.count, 1);
      std::printf("%dx%d, controls %s: %.2f ms of main-thread time per painted frame\n",
                  screen.width(), screen.height(), controls ? "shown" : "hidden", perFrame);
      paints.count = 0;
      std::snprintf(label, sizeof label, "%dx%d, controls %s: per frame (wall)", screen.width(),
                    screen.height(), controls ? "shown" : "hidden");
      print(label, wall);
      if (screen.width() == 1920 && !controls) baseline = perFrame;
      if (screen.width() == 3840 && !controls)
        std::printf("2160p / 1080p screen: %.2fx (target: 2160p at most 10 ms per frame)\n",
                    perFrame / std::max(baseline, 1e-9));
    }
    // The parts: composing at the capped size, the scale alone, and as a baseline a plain
    // copy of a frame of the screen's size.
    Stats composeOnly;
    Stats scaleOnly;
    Stats copyOnly;
    QImage target(pixels, QImage::Format_RGB32);
    QImage copy(pixels, QImage::Format_RGB32);
    kernels::ColumnTable columns;
    for (int i = 0; i < 60; ++i) {
      // Another moment each time, so that nothing composed before is reused.
      studio.seek(1 + i / 60.0);
      double c0 = bench::threadMilliseconds();
      const QImage& picture = window->surface()->compose(capped);
      composeOnly.add(bench::threadMilliseconds() - c0);
      const auto placement =
          kernels::placementFor(QRectF(target.rect()), picture.width(), picture.height(), false);
      c0 = bench::threadMilliseconds();
      kernels::samplePicture(target, picture, placement, target.rect(), columns);
      scaleOnly.add(bench::threadMilliseconds() - c0);
      c0 = bench::threadMilliseconds();
      std::memcpy(copy.bits(), target.constBits(), size_t(target.sizeInBytes()));
      copyOnly.add(bench::threadMilliseconds() - c0);
    }
    std::snprintf(label, sizeof label, "%dx%d,   compose at %dx%d (cpu)", screen.width(),
                  screen.height(), capped.width(), capped.height());
    print(label, composeOnly);
    std::snprintf(label, sizeof label, "%dx%d,   scale to the screen (cpu)", screen.width(),
                  screen.height());
    print(label, scaleOnly);
    std::snprintf(label, sizeof label, "%dx%d,   baseline: copying a frame (cpu)", screen.width(),
                  screen.height());
    print(label, copyOnly);
    delete window;
  }
  return 0;
}

// --- record ---

struct MovieCount {
  int frames = 0;
  double duration = 0;
};

MovieCount countFrames(const std::string& path) {
  MovieCount count;
  vantry::ff::InputFormatPtr input = vantry::ff::openInput(path);
  if (!input) return count;
  AVFormatContext* format = input.get();
  const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVPacket* packet = av_packet_alloc();
  int64_t first = INT64_MAX, last = INT64_MIN, lastDuration = 0;
  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == video) {
      ++count.frames;
      first = std::min(first, packet->pts);
      if (packet->pts > last) {
        last = packet->pts;
        lastDuration = packet->duration;
      }
    }
    av_packet_unref(packet);
  }
  if (video >= 0 && count.frames > 0)
    count.duration =
        double(last + lastDuration - first) * av_q2d(format->streams[video]->time_base);
  av_packet_free(&packet);
  return count;
}

int record(double seconds, double stall) {
  if (qEnvironmentVariableIsEmpty("VANTRY_SYNTHETIC_CAMERA"))
    qputenv("VANTRY_SYNTHETIC_CAMERA", "1");
  QTemporaryDir dir;
  auto services = defaultStudioServices();
  services.capture = defaultStudioCapture(nullptr, dir.path().toStdString());
  services.recordingsFolder = dir.path().toStdString();
  Studio studio(services);
  PreviewSurface surface(&studio);
  surface.resize(1280, 720);
  surface.show();
  studio.setUseMicrophone(false);
  if (!bench::beginRecording(studio)) return 1;
  const double cpu0 = bench::cpuSeconds();
  QElapsedTimer t;
  t.start();
  bool stalled = false;
  int paints = 0;
  QObject::connect(&studio, &Studio::frameTick, [&] { ++paints; });
  while (t.elapsed() < seconds * 1000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (!stalled && t.elapsed() > seconds * 1000 / 3) {
      stalled = true;
      QThread::msleep(static_cast<unsigned long>(stall * 1000));  // the main thread stalls
    }
  }
  studio.stop();
  bench::waitFor([&] { return !studio.busy(); }, 60);
  const double cpu = bench::cpuSeconds() - cpu0;
  if (studio.error()) std::printf("error: %s\n", studio.error()->c_str());
  const auto url = studio.projectURL().value_or("");
  const auto movie = std::filesystem::path(url).parent_path() / "screen.mp4";
  const auto count = countFrames(movie.string());
  std::printf("recorded %.1f s with the preview running and a %.1f s stall\n", seconds, stall);
  std::printf("  screen.mp4: %d frames over %.3f s = %.2f frames a second\n", count.frames,
              count.duration, count.duration > 0 ? count.frames / count.duration : 0.0);
  std::printf("  process CPU while recording: %.2f s (%.0f%% of one core)\n", cpu,
              100 * cpu / seconds);
  return count.frames > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string mode = argc > 1 ? argv[1] : "preview";
  if (mode == "preview") return preview();
  if (mode == "scrub") return scrub();
  if (mode == "fullscreen") return fullscreen();
  if (mode == "record")
    return record(argc > 2 ? std::atof(argv[2]) : 30.0, argc > 3 ? std::atof(argv[3]) : 0.5);
  std::fprintf(stderr,
               "usage: bench_studio [preview | scrub | fullscreen | record [SECONDS [STALL]]]\n");
  return 2;
}
