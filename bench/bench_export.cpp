// Export speed against the plain encoder: exports a 30 s 1920x1080 60 fps screen movie
// with zooms, pointer, click rings and a camera bubble at 1080p60 and 2160p60 (H.264,
// balanced), and times `ffmpeg` decoding the same movie and encoding it with the same
// encoder, preset and bit rate (scaling only). Prints export time / baseline time.
// Usage: bench_export [SECONDS]   (run from a Release build)
#include <sys/resource.h>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cpu_time.h"
#include "model/clip.h"
#include "platform/ffmpeg/movie_writer.h"
#include "render/export_options.h"
#include "render/movie_exporter.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

bool writeMovie(const std::string& path, int w, int h, int fps, double seconds, bool camera) {
  vantry::MovieWriterSettings s;
  s.path = path;
  s.crashSafe = false;
  vantry::VideoTrackSettings v;
  v.width = w;
  v.height = h;
  v.frameRate = fps;
  v.keyFrameInterval = fps;
  v.averageBitRate = camera ? 4'000'000 : 12'000'000;
  v.encoderOptions = {{"preset", "superfast"}, {"threads", "auto"}};
  s.video = v;
  vantry::MovieWriter writer(s);
  if (!writer.start()) {
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), writer.error().c_str());
    return false;
  }
  const int frames = static_cast<int>(seconds * fps);
  for (int i = 0; i < frames; ++i) {
    auto image = std::make_shared<QImage>(w, h, QImage::Format_ARGB32_Premultiplied);
    QPainter p(image.get());
    const double t = static_cast<double>(i) / fps;
    p.fillRect(image->rect(), QColor(240, 243, 248));
    // A "document" scrolling slowly with lines of varying width, plus a moving window.
    for (int line = 0; line < 40; ++line) {
      const int y = static_cast<int>(line * h / 30.0 - std::fmod(t * 40, h / 30.0));
      const int len = static_cast<int>(w * (0.3 + 0.5 * std::fabs(std::sin(line * 1.7 + t * 0.1))));
      p.fillRect(w / 10, y, len, h / 80, QColor(60 + line * 3 % 120, 80, 120));
    }
    p.fillRect(static_cast<int>(w * (0.3 + 0.2 * std::sin(t))), static_cast<int>(h * 0.4), w / 4,
               h / 4, camera ? QColor(200, 150, 120) : QColor(70, 130, 255));
    p.end();
    vantry::VideoFrameView view;
    view.data = image->constBits();
    view.width = w;
    view.height = h;
    view.stride = static_cast<int>(image->bytesPerLine());
    view.owner = image;
    if (!writer.appendVideo(view, t, {}, true)) return false;
  }
  return writer.finish();
}

double timeCommand(const std::string& command) {
  const auto start = Clock::now();
  const int rc = std::system(command.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (rc != 0) std::fprintf(stderr, "baseline command failed (%d): %s\n", rc, command.c_str());
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 30;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const fs::path dir =
      fs::temp_directory_path() / ("vantry-bench-export-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string screen = (dir / "screen.mp4").string();
  const std::string camera = (dir / "camera.mov").string();
  std::printf("making sources (%.0f s)...\n", seconds);
  std::fflush(stdout);
  if (!writeMovie(screen, 1920, 1080, 60, seconds, false) ||
      !writeMovie(camera, 1280, 720, 30, seconds, true))
    return 1;

  vantry::Clip clip;
  clip.title = "bench";
  clip.duration = seconds;
  clip.screenPath = screen;
  clip.cameraPath = camera;
  std::vector<vantry::PointerSample> samples;
  for (int i = 0; i <= static_cast<int>(seconds * 60); ++i) {
    const double t = i / 60.0;
    samples.push_back({t, 0.5 + 0.35 * std::sin(t * 0.7), 0.5 + 0.3 * std::cos(t * 0.45),
                       i % 300 == 90});  // a click every 5 s
  }
  clip.samples = samples;
  vantry::EditSettings settings;
  settings.showClicks = true;
  // BENCH_PLAIN=1: the screen alone, full frame, no motion (what the baseline encodes).
  if (std::getenv("BENCH_PLAIN")) {
    clip.cameraPath.reset();
    clip.samples = std::vector<vantry::PointerSample>{};
    settings.padding = 0;
    settings.showCursor = false;
  }

  struct Case {
    vantry::ExportOptions::Resolution resolution;
    double target;
  };
  const Case cases[] = {{vantry::ExportOptions::Resolution::p1080, 1.25},
                        {vantry::ExportOptions::Resolution::p2160, 1.35}};
  // BENCH_ONLY=1080 or 2160 runs one case (for profiling).
  const char* only = std::getenv("BENCH_ONLY");
  for (const Case& c : cases) {
    vantry::ExportOptions o;
    if (only && std::atoi(only) != static_cast<int>(c.resolution)) continue;
    o.resolution = c.resolution;
    const std::string out = (dir / ("export-" + std::to_string(o.height()) + ".mp4")).string();
    const auto start = Clock::now();
    const double cpuBefore = vantry::bench::cpuSeconds(RUSAGE_SELF);
    try {
      vantry::MovieExporter().exportMovie(clip, settings, o, out, nullptr);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "export failed: %s\n", e.what());
      return 1;
    }
    const double exportTime = std::chrono::duration<double>(Clock::now() - start).count();
    const double exportCpu = vantry::bench::cpuSeconds(RUSAGE_SELF) - cpuBefore;
    const double childBefore = vantry::bench::cpuSeconds(RUSAGE_CHILDREN);
    const std::string baseOut =
        (dir / ("baseline-" + std::to_string(o.height()) + ".mp4")).string();
    const std::string command =
        "ffmpeg -loglevel error -y -i '" + screen + "' -vf scale=" + std::to_string(o.width()) +
        ":" + std::to_string(o.height()) + " -c:v libx264 -preset fast -profile:v high -b:v " +
        std::to_string(o.bitRate()) + " -g " + std::to_string(o.keyFrameInterval()) +
        " -bf 3 -pix_fmt yuv420p -an '" + baseOut + "'";
    const double baseTime = timeCommand(command);
    const double baseCpu = vantry::bench::cpuSeconds(RUSAGE_CHILDREN) - childBefore;
    std::printf("  cpu: export %.1f s, baseline %.1f s\n", exportCpu, baseCpu);
    // BENCH_REENCODE=1: what the encoder alone spends on the composed pictures.
    if (std::getenv("BENCH_REENCODE")) {
      const double before = vantry::bench::cpuSeconds(RUSAGE_CHILDREN);
      timeCommand("ffmpeg -loglevel error -y -i '" + out + "' -c:v libx264 -preset fast " +
                  "-profile:v high -b:v " + std::to_string(o.bitRate()) + " -g " +
                  std::to_string(o.keyFrameInterval()) + " -bf 3 -an '" + baseOut + ".re.mp4'");
      std::printf("  cpu: re-encoding the export %.1f s\n",
                  vantry::bench::cpuSeconds(RUSAGE_CHILDREN) - before);
    }
    std::printf(
        "%dp60 H.264 balanced: export %.2f s (%.1f fps), baseline %.2f s, ratio %.3f (target <= "
        "%.2f)\n",
        o.height(), exportTime, seconds * 60 / exportTime, baseTime, exportTime / baseTime,
        c.target);
    std::fflush(stdout);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
