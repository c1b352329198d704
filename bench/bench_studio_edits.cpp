// The controller on a one-hour project: the main-thread cost of a zoom move, a split, an
// undo and a redo (with the motion rebuild and the sound laid out again), of one autosave,
// and how far the sound clock drifts from the host clock over 60 s at rates 1 and 2.
// Targets: each edit at most 16 ms, an autosave at most 5 ms on the main thread, the
// clock within 20 ms. Needs the ffmpeg command to make the hour of sound.
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "model/document_json.h"
#include "platform/screen_source.h"
#include "render/edited_audio_player.h"
#include "studio/save_worker.h"
#include "studio/studio.h"

namespace vantry {

class StudioTestAccess {
 public:
  static void autosave(Studio& s) { s.autosave(); }
  static void flush(Studio& s) { s.saver_->flush(); }
};

}  // namespace vantry

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

vantry::Clip oneHourClip(const std::string& audio) {
  vantry::Clip clip;
  clip.title = "One hour";
  clip.duration = 3600;
  clip.audioPath = audio;
  std::vector<vantry::PointerSample> samples;
  samples.reserve(216001);
  for (int i = 0; i <= 216000; ++i)
    samples.push_back({i / 60.0, 0.5 + 0.4 * ((i % 600) / 600.0), 0.5, i % 300 == 0});
  clip.samples = std::move(samples);
  for (int i = 1; i < 40; ++i)
    clip.split(i * 90.0);
  return clip;
}

double ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

template <typename F>
double timed(F&& f) {
  auto start = Clock::now();
  f();
  return ms(Clock::now() - start);
}

void runFor(double seconds) {
  QEventLoop loop;
  QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
  loop.exec();
}

void report(const char* what, std::vector<double> v, double target) {
  std::sort(v.begin(), v.end());
  std::printf("%-22s median %6.2f ms  max %6.2f ms  (target %.0f ms)\n", what, v[v.size() / 2],
              v.back(), target);
}

// Plays the hour's sound at a rate and compares its clock with the host clock.
void clockDrift(const vantry::Clip& clip, double rate, double seconds) {
  vantry::EditedAudioPlayer::Setup setup;
  setup.post = [](std::function<void()> task) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
  };
  std::string error;
  auto player = vantry::EditedAudioPlayer::open(clip, setup, &error);
  if (!player) {
    std::printf("no player: %s\n", error.c_str());
    return;
  }
  bool ready = false;
  player->seek(10, [&](bool) { ready = true; });
  while (!ready)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  player->setRate(rate);
  player->play();
  // Measured from once the sound is heard, past the stream's start and the rate change.
  double first = player->currentTime();
  while (player->currentTime() == first)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
  runFor(1);
  double t0 = player->currentTime();
  double h0 = vantry::platform::hostTime();
  double worst = 0;
  for (int i = 0; i < seconds; ++i) {
    runFor(1);
    double drift = (player->currentTime() - t0) - rate * (vantry::platform::hostTime() - h0);
    worst = std::max(worst, std::abs(drift));
  }
  double drift = (player->currentTime() - t0) - rate * (vantry::platform::hostTime() - h0);
  std::printf("clock at rate %.0f (%s): after %.0f s off by %+.1f ms, worst %.1f ms (target 20)\n",
              rate, player->audible() ? "sound server" : "null sink", seconds, drift * 1000,
              worst * 1000);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  fs::path dir = fs::temp_directory_path() / "vantry-bench-studio";
  fs::create_directories(dir);
  fs::path audio = dir / "hour.m4a";
  if (!fs::exists(audio)) {
    std::string make =
        "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=48000 "
        "-t 3600 -c:a aac -b:a 32k '" +
        audio.string() + "'";
    if (std::system(make.c_str()) != 0) {
      std::printf("could not make the hour of sound with ffmpeg\n");
      return 1;
    }
  }

  vantry::StudioServices services = vantry::defaultStudioServices();
  services.capture = nullptr;
  services.startClock = false;
  services.autosaveDelayMs = 60000;  // the bench saves by itself
  vantry::Studio studio(services);
  vantry::Clip clip = oneHourClip(audio.string());
  fs::path project = dir / "project.json";
  fs::remove(dir / "edit.json");
  {
    std::FILE* f = std::fopen(project.c_str(), "wb");
    std::string bytes = vantry::encodeClip(clip);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  auto start = Clock::now();
  std::optional<bool> opened;
  if (studio.openProjectFile(project.string(), [&](bool ok) { opened = ok; }))
    while (!opened)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  if (!opened.value_or(false)) {
    std::printf("cannot open: %s\n", studio.error().value_or("").c_str());
    return 1;
  }
  std::printf("opened a one-hour project in %.0f ms (%zu samples, %zu zooms, %zu segments)\n",
              ms(Clock::now() - start), studio.clip().samples.size(),
              studio.clip().zoomEvents().size(), studio.clip().ranges().size());

  std::vector<double> moves, splits, undos, redos, saves;
  for (int i = 0; i < 15; ++i) {
    auto zooms = studio.clip().zoomEvents();
    const auto& z = zooms[zooms.size() / 2 + i];
    double to = studio.clip().outputTime(z.start).value_or(z.start) + 0.3;
    moves.push_back(timed([&] { studio.moveZoom(z.id, to); }));
    studio.seek(45.5 + i * 90);
    splits.push_back(timed([&] { studio.split(); }));
    undos.push_back(timed([&] { studio.undoEdit(); }));
    redos.push_back(timed([&] { studio.redoEdit(); }));
    saves.push_back(timed([&] { vantry::StudioTestAccess::autosave(studio); }));
    vantry::StudioTestAccess::flush(studio);
  }
  report("zoom move", moves, 16);
  report("split", splits, 16);
  report("undo", undos, 16);
  report("redo", redos, 16);
  report("autosave (main thread)", saves, 5);
  studio.seek(30);
  studio.split();  // saveNow() writes only what changed
  auto write = timed([&] { studio.saveNow(); });
  std::printf("%-22s %6.2f ms (encode and write, waited for)\n", "saveNow", write);

  clockDrift(studio.clip(), 1, 60);
  clockDrift(studio.clip(), 2, 60);
  studio.setProjectURL(std::nullopt);
  return 0;
}
