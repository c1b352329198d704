// Export against the encoder: makes a 1920x1080 60 fps screen recording with five clicks
// and a 1280x720 camera movie, then per size (1080p60, 2160p60, H.264 balanced) times
//   - the export (zooms, pointer, click rings, camera bubble),
//   - ffmpeg re-encoding the exported movie's own pictures with the same encoder settings
//     (ExportOptions::writerSettings: libx264 "fast", High, the export's bit rate, 2 s key
//     frames, B-frames, threads): the floor,
//   - ffmpeg transcoding the source to that size with the same settings,
// each in its own process (so that peak memory is its own), interleaved, best of two.
// Prints wall and CPU times, the ratios, composition CPU per frame and peak RSS.
// Usage: bench_export [SECONDS [SIZES]]   e.g. bench_export 20 1080,2160 (Release build)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model/clip.h"
#include "platform/ffmpeg/movie_writer.h"
#include "render/export_options.h"
#include "render/movie_exporter.h"

extern char** environ;

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

struct Run {
  double wall = 0, cpu = 0, peakMB = 0;
  std::string output;  // what the process printed
  bool ok = false;
};

// Runs a program in its own process; its own CPU time and peak memory come from wait4.
Run runProcess(const std::vector<std::string>& args, const fs::path& log) {
  std::vector<char*> argv;
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Run run;
  const auto start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return run;
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.wall = std::chrono::duration<double>(Clock::now() - start).count();
  run.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
            usage.ru_stime.tv_usec * 1e-6;
  run.peakMB = usage.ru_maxrss / 1024.0;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::ifstream in(log);
  run.output.assign(std::istreambuf_iterator<char>(in), {});
  if (!run.ok) std::fprintf(stderr, "failed: %s\n%s", args[0].c_str(), run.output.c_str());
  return run;
}

vantry::ExportOptions optionsFor(int height) {
  vantry::ExportOptions o;
  o.resolution = height == 2160 ? vantry::ExportOptions::Resolution::p2160
                                : vantry::ExportOptions::Resolution::p1080;
  return o;
}

// ffmpeg's arguments for exactly the export's encoder settings: derived from the writer's
// settings, so that the comparison follows any change to them.
std::vector<std::string> x264Arguments(const vantry::ExportOptions& o) {
  const vantry::VideoTrackSettings v = o.writerSettings();
  std::vector<std::string> args{"-c:v", "libx264",
                                "-b:v", std::to_string(v.averageBitRate),
                                "-g",   std::to_string(v.keyFrameInterval),
                                "-bf",  std::to_string(v.maxBFrames)};
  for (const auto& [key, value] : v.encoderOptions) {
    args.push_back("-" + key + ":v");
    args.push_back(value);
  }
  for (const char* a : {"-pix_fmt", "yuv420p", "-an"})
    args.emplace_back(a);
  return args;
}

// The export itself, in a child process: prints the composition CPU per frame.
int exportChild(const fs::path& dir, int height, double seconds) {
  vantry::Clip clip;
  clip.title = "bench";
  clip.duration = seconds;
  clip.screenPath = (dir / "screen.mp4").string();
  clip.cameraPath = (dir / "camera.mov").string();
  std::vector<vantry::PointerSample> samples;
  for (int i = 0; i <= static_cast<int>(seconds * 60); ++i) {
    const double t = i / 60.0;
    // Five clicks over 20 s.
    samples.push_back(
        {t, 0.5 + 0.35 * std::sin(t * 0.7), 0.5 + 0.3 * std::cos(t * 0.45), i % 240 == 90});
  }
  clip.samples = samples;
  vantry::EditSettings settings;
  settings.showClicks = true;
  const vantry::ExportOptions o = optionsFor(height);
  vantry::MovieExporter exporter;
  try {
    exporter.exportMovie(clip, settings, o, (dir / ("export-" + std::to_string(height) + ".mp4")),
                         nullptr);
  } catch (const std::exception& e) {
    std::printf("export failed: %s\n", e.what());
    return 1;
  }
  const auto& s = exporter.statistics();
  std::printf("%.3f %.3f\n", s.composeSeconds * 1e3 / std::max(1LL, s.frames),
              s.readSeconds * 1e3 / std::max(1LL, s.frames));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc == 5 && std::string(argv[1]) == "--child")
    return exportChild(argv[2], std::atoi(argv[3]), std::atof(argv[4]));

  const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
  std::vector<int> heights{1080, 2160};
  if (argc > 2) {
    heights.clear();
    for (const char* p = argv[2]; *p;) {
      heights.push_back(std::atoi(p));
      while (*p && *p != ',')
        ++p;
      if (*p) ++p;
    }
  }
  const fs::path dir =
      fs::temp_directory_path() / ("vantry-bench-export-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string screen = (dir / "screen.mp4").string();
  std::printf("making sources (%.0f s)...\n", seconds);
  std::fflush(stdout);
  if (!writeMovie(screen, 1920, 1080, 60, seconds, false) ||
      !writeMovie((dir / "camera.mov").string(), 1280, 720, 30, seconds, true))
    return 1;
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const fs::path log = dir / "log.txt";

  for (int height : heights) {
    const vantry::ExportOptions o = optionsFor(height);
    const std::string exported = (dir / ("export-" + std::to_string(height) + ".mp4")).string();
    std::vector<std::string> reencode{"ffmpeg", "-loglevel", "error", "-y", "-i", exported};
    std::vector<std::string> transcode{
        "ffmpeg", "-loglevel",
        "error",  "-y",
        "-i",     screen,
        "-vf",    "scale=" + std::to_string(o.width()) + ":" + std::to_string(o.height())};
    for (const std::string& a : x264Arguments(o)) {
      reencode.push_back(a);
      transcode.push_back(a);
    }
    reencode.push_back((dir / "reencode.mp4").string());
    transcode.push_back((dir / "transcode.mp4").string());

    Run best[3];
    double composeMs = 1e9, readMs = 1e9;
    for (int round = 0; round < 2; ++round) {
      Run runs[3] = {runProcess({self, "--child", dir.string(), std::to_string(height),
                                 std::to_string(seconds)},
                                log),
                     {},
                     {}};
      if (!runs[0].ok) return 1;
      double c = 0, r = 0;
      if (std::sscanf(runs[0].output.c_str(), "%lf %lf", &c, &r) == 2) {
        composeMs = std::min(composeMs, c);
        readMs = std::min(readMs, r);
      }
      runs[1] = runProcess(reencode, log);
      runs[2] = runProcess(transcode, log);
      for (int k = 0; k < 3; ++k) {
        if (!runs[k].ok) return 1;
        if (round == 0 || runs[k].wall < best[k].wall) {
          const double peak = std::max(best[k].peakMB, runs[k].peakMB);
          const double cpu = round == 0 ? runs[k].cpu : std::min(best[k].cpu, runs[k].cpu);
          best[k] = runs[k];
          best[k].peakMB = peak;
          best[k].cpu = cpu;
        } else {
          best[k].peakMB = std::max(best[k].peakMB, runs[k].peakMB);
          best[k].cpu = std::min(best[k].cpu, runs[k].cpu);
        }
      }
    }
    const double frames = seconds * 60;
    std::printf("%dp60 H.264 balanced, %.0f s (%.0f frames), best of two:\n", height, seconds,
                frames);
    const char* names[3] = {"export", "ffmpeg re-encode of the export", "ffmpeg source transcode"};
    for (int k = 0; k < 3; ++k)
      std::printf("  %-32s %7.2f s wall (%.2fx real time) %7.1f s CPU, peak RSS %6.0f MB\n",
                  names[k], best[k].wall, best[k].wall / seconds, best[k].cpu, best[k].peakMB);
    std::printf("  export / re-encode: %.3f wall, %.3f CPU (target <= 1.05 wall)\n",
                best[0].wall / best[1].wall, best[0].cpu / best[1].cpu);
    std::printf("  export / transcode: %.3f wall, %.3f CPU\n", best[0].wall / best[2].wall,
                best[0].cpu / best[2].cpu);
    std::printf("  composition %.2f ms CPU a frame (target <= %.1f), reading %.2f ms\n", composeMs,
                height >= 2160 ? 5.0 : 1.5, readMs);
    std::fflush(stdout);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
