// The edited-audio player's clock against the host clock: plays a sound at rates 1 and 2
// (all at once, each its own player) for SECONDS (default 60) and prints how far the
// player's time has moved from what hostTime() says it should be: the drift since a
// reference taken 1 s after play, and the start delay (the clock's lag behind the moment
// play() was called). The baseline is the same run on the null sink, which is the host
// clock itself. Runs on the sound server (PULSE_SERVER) and on the null sink.
// Usage: bench_audio_clock [SECONDS]   (run from a Release build)
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "model/clip.h"
#include "platform/ffmpeg/movie_writer.h"
#include "platform/screen_source.h"
#include "platform/sound_output.h"
#include "render/edited_audio_player.h"

namespace fs = std::filesystem;
using vantry::EditedAudioPlayer;
using vantry::platform::hostTime;

namespace {

bool writeSound(const std::string& path, double seconds) {
  vantry::MovieWriterSettings s;
  s.path = path;
  s.container = "ipod";
  s.crashSafe = false;
  s.audio = vantry::AudioTrackSettings{};
  vantry::MovieWriter writer(s);
  if (!writer.start()) return false;
  std::vector<float> samples(size_t(seconds * 48000));
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = 0.2f * float(std::sin(2 * M_PI * 440 * double(i) / 48000));
  return writer.appendAudio(samples.data(), int(samples.size()), 0) && writer.finish();
}

struct Result {
  std::string what;
  double drift = NAN;  // player time moved minus rate x host time moved, seconds
  double delay = NAN;  // host seconds the clock trails play()
};

Result measure(const vantry::Clip& clip, double rate, double seconds, bool nullSink) {
  Result r;
  r.what = std::string(nullSink ? "null sink" : "sound server") + ", rate " +
           std::to_string(rate).substr(0, 3);
  std::mutex mutex;
  std::deque<std::function<void()>> tasks;
  EditedAudioPlayer::Setup setup;
  setup.post = [&](std::function<void()> task) {
    std::lock_guard lock(mutex);
    tasks.push_back(std::move(task));
  };
  if (nullSink) {
    setup.output = [](int rate, int channels) {
      return vantry::platform::makeNullSoundOutput(rate, channels);
    };
  }
  std::string error;
  auto player = EditedAudioPlayer::open(clip, setup, &error);
  if (!player) {
    r.what += " (cannot open: " + error + ")";
    return r;
  }
  std::atomic<bool> ready = false;
  player->setRate(rate);
  player->seek(0, [&](bool finished) { ready = finished; });
  for (int i = 0; i < 5000 && !ready; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard lock(mutex);
    while (!tasks.empty()) {
      tasks.front()();
      tasks.pop_front();
    }
  }
  if (!ready) {
    r.what += " (seek did not complete)";
    return r;
  }
  if (!nullSink && !player->audible()) r.what += " (no server: null sink)";
  const double start = hostTime();
  player->play();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double h1 = hostTime(), c1 = player->currentTime();
  r.delay = (h1 - start) - c1 / rate;
  for (double waited = 0; waited < seconds; waited += 5) {
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(5.0, seconds - waited)));
    if (getenv("BENCH_TRACE"))
      std::printf("%s %.0f s: %+.2f ms\n", r.what.c_str(), waited + 5,
                  ((player->currentTime() - c1) - rate * (hostTime() - h1)) * 1000);
  }
  const double h2 = hostTime(), c2 = player->currentTime();
  r.drift = (c2 - c1) - rate * (h2 - h1);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
  std::string pattern = (fs::temp_directory_path() / "bench-audio-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  const fs::path dir = pattern;
  const std::string sound = (dir / "voice.m4a").string();
  const double length = 2 * seconds + 10;
  if (!writeSound(sound, length)) {
    std::fprintf(stderr, "cannot write the sound\n");
    fs::remove_all(dir);
    return 1;
  }
  vantry::Clip clip;
  clip.duration = length;
  clip.audioPath = sound;

  std::vector<Result> results(4);
  std::vector<std::thread> runs;
  for (int i = 0; i < 4; ++i) {
    runs.emplace_back(
        [&, i] { results[size_t(i)] = measure(clip, i % 2 ? 2.0 : 1.0, seconds, i >= 2); });
  }
  for (auto& t : runs)
    t.join();
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("after %.0f s of play (load %.2f %.2f %.2f):\n", seconds, load[0], load[1], load[2]);
  for (const Result& r : results)
    std::printf("  %-28s drift %+8.2f ms   start delay %+7.2f ms\n", r.what.c_str(), r.drift * 1000,
                r.delay * 1000);
  std::printf("target: |drift| <= 20 ms (the null sink is the host clock: the baseline)\n");
  fs::remove_all(dir);
  return 0;
}
