// Test helper: a low-latency player on the sound server's default sink. It plays silence
// from the moment it is made (a null sink with no player renders far ahead and its
// monitor's timing jumps when the first player joins; a desktop with sound has no such
// mode), and plays a tone on request, telling the host-clock instant of its first sample
// from the playback stream's own timing.
#pragma once

#include <pulse/pulseaudio.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../support/scoped_env.h"
#include "platform/screen_source.h"

extern char** environ;

namespace vantry::test {

// A sound server of the test's own: a PulseAudio daemon with one null sink whose monitor
// is the default source, reachable through PULSE_SERVER for as long as the object lives.
// Tests run in parallel; a private server keeps other tests' sounds and players out of
// the measurement.
class PrivateSoundServer {
 public:
  PrivateSoundServer() {
    char pattern[] = "/tmp/vantry-pulse-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    const std::string socket = dir_ + "/native";
    const std::string server = "unix:" + socket;
    const std::string protocol =
        "--load=module-native-protocol-unix socket=" + socket + " auth-anonymous=1";
    const std::string sink = "--load=module-null-sink sink_name=vantry_null rate=48000";
    std::vector<std::string> args = {"pulseaudio",
                                     "--daemonize=no",
                                     "--exit-idle-time=-1",
                                     "--disallow-exit",
                                     "-n",
                                     protocol,
                                     sink,
                                     "--log-target=file:" + dir_ + "/log"};
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    runtime_.set(dir_.c_str());
    xdg_.set(dir_.c_str());
    if (posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, argv.data(), environ) != 0) {
      pid_ = 0;
      return;
    }
    server_.set(server.c_str());
    for (int i = 0; i < 100 && !ready(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (ready()) {
      const std::string cmd = "pactl set-default-source vantry_null.monitor >/dev/null 2>&1";
      ok_ = std::system(cmd.c_str()) == 0;
    }
  }

  ~PrivateSoundServer() {
    stop(SIGTERM);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // Ends the server at once, as a crash would.
  void kill() { stop(SIGKILL); }

  // False when no daemon could be started here (no pulseaudio installed).
  bool ok() const { return ok_; }

 private:
  static bool ready() { return std::system("pactl info >/dev/null 2>&1") == 0; }
  void stop(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
  }

  std::string dir_;
  pid_t pid_ = 0;
  bool ok_ = false;
  ScopedEnv server_{"PULSE_SERVER"};
  ScopedEnv runtime_{"PULSE_RUNTIME_PATH"};
  ScopedEnv xdg_{"XDG_RUNTIME_DIR"};
};

class TonePlayer {
 public:
  static constexpr int kRate = 48000;

  TonePlayer() {
    loop_ = pa_threaded_mainloop_new();
    ctx_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "vantry-test-tone");
    pa_context_set_state_callback(ctx_, &TonePlayer::signalContext, loop_);
    pa_context_connect(ctx_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    pa_threaded_mainloop_start(loop_);
    pa_threaded_mainloop_lock(loop_);
    while (pa_context_get_state(ctx_) != PA_CONTEXT_READY) {
      if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(ctx_))) {
        pa_threaded_mainloop_unlock(loop_);
        close();
        throw std::runtime_error("no sound server");
      }
      pa_threaded_mainloop_wait(loop_);
    }
    stream_ = pa_stream_new(ctx_, "tone", &spec_, nullptr);
    pa_stream_set_state_callback(stream_, &TonePlayer::signalStream, loop_);
    pa_stream_set_write_callback(stream_, &TonePlayer::signalWrite, loop_);
    pa_stream_set_latency_update_callback(stream_, &TonePlayer::signalStream, loop_);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(20000, &spec_));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    pa_stream_connect_playback(
        stream_, nullptr, &attr,
        pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                          PA_STREAM_AUTO_TIMING_UPDATE),
        nullptr, nullptr);
    while (pa_stream_get_state(stream_) != PA_STREAM_READY) {
      if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
        pa_threaded_mainloop_unlock(loop_);
        close();
        throw std::runtime_error("playback stream failed");
      }
      pa_threaded_mainloop_wait(loop_);
    }
    pa_threaded_mainloop_unlock(loop_);
    thread_ = std::thread([this] { run(); });
  }

  ~TonePlayer() { close(); }

  // Starts a tone of `seconds` with the next block and returns the host-clock instant at
  // which its first sample plays.
  double playTone(double seconds, double frequency = 1000, float amplitude = 0.5f) {
    std::unique_lock lock(mutex_);
    toneLeft_ = size_t(seconds * kRate);
    tonePhase_ = 0;
    frequency_ = frequency;
    amplitude_ = amplitude;
    onset_ = NAN;
    while (std::isnan(onset_) && !done_) {
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      lock.lock();
    }
    return onset_;
  }

 private:
  static void signalContext(pa_context*, void* l) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(l), 0);
  }
  static void signalStream(pa_stream*, void* l) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(l), 0);
  }
  static void signalWrite(pa_stream*, size_t, void* l) {
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(l), 0);
  }

  void run() {
    std::vector<float> block(kRate / 200);  // 5 ms
    pa_threaded_mainloop_lock(loop_);
    while (!stop_) {
      size_t room = pa_stream_writable_size(stream_);
      if (room == size_t(-1)) break;
      if (room < block.size() * sizeof(float)) {
        pa_threaded_mainloop_wait(loop_);
        continue;
      }
      bool toneStarted = false;
      {
        std::lock_guard lock(mutex_);
        for (auto& v : block) {
          if (toneLeft_ > 0) {
            toneStarted = toneStarted || tonePhase_ == 0;
            v = amplitude_ * float(std::sin(2 * M_PI * frequency_ * double(tonePhase_) / kRate));
            ++tonePhase_;
            --toneLeft_;
          } else {
            v = 0;
          }
        }
      }
      pa_stream_write(stream_, block.data(), block.size() * sizeof(float), nullptr, 0,
                      PA_SEEK_RELATIVE);
      if (toneStarted) {
        // The latency runs to the end of what was written; the tone began `tonePhase_`
        // samples before that end.
        pa_usec_t latency = 0;
        int negative = 0;
        for (int tries = 0; tries < 100; ++tries) {
          if (pa_stream_get_latency(stream_, &latency, &negative) == 0) break;
          pa_threaded_mainloop_wait(loop_);
        }
        const double l = (negative ? -1.0 : 1.0) * double(latency) * 1e-6;
        std::lock_guard lock(mutex_);
        onset_ = platform::hostTime() + l - double(tonePhase_) / kRate;
      }
    }
    pa_threaded_mainloop_unlock(loop_);
    std::lock_guard lock(mutex_);
    done_ = true;
  }

  void close() {
    if (thread_.joinable()) {
      pa_threaded_mainloop_lock(loop_);
      stop_ = true;
      pa_threaded_mainloop_signal(loop_, 0);
      pa_threaded_mainloop_unlock(loop_);
      thread_.join();
    }
    if (loop_) {
      pa_threaded_mainloop_lock(loop_);
      if (stream_) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
      }
      if (ctx_) pa_context_disconnect(ctx_);
      pa_threaded_mainloop_unlock(loop_);
      pa_threaded_mainloop_stop(loop_);
      if (ctx_) pa_context_unref(ctx_);
      ctx_ = nullptr;
      pa_threaded_mainloop_free(loop_);
      loop_ = nullptr;
    }
  }

  const pa_sample_spec spec_{PA_SAMPLE_FLOAT32LE, kRate, 1};
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* ctx_ = nullptr;
  pa_stream* stream_ = nullptr;
  std::thread thread_;
  bool stop_ = false;  // under the mainloop lock
  std::mutex mutex_;
  size_t toneLeft_ = 0;
  size_t tonePhase_ = 0;
  double frequency_ = 1000;
  float amplitude_ = 0.5f;
  double onset_ = NAN;
  bool done_ = false;
};

// Index of the first sample whose magnitude passes `threshold`, or -1.
inline long firstLoudSample(const std::vector<float>& pcm, float threshold = 0.1f) {
  for (size_t i = 0; i < pcm.size(); ++i) {
    if (std::fabs(pcm[i]) > threshold) return long(i);
  }
  return -1;
}

}  // namespace vantry::test
