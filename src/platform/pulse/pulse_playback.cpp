#include "platform/pulse/pulse_playback.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

#include "platform/audio_source.h"
#include "platform/screen_source.h"

namespace vantry::platform {

namespace {

constexpr double kTargetLatency = 0.1;  // seconds queued ahead of what is heard
// The clock closes the gap to what the server says was heard within about this many
// seconds, never changing its pace by more than kMaxSteer.
constexpr double kCatchUp = 0.5;
constexpr double kMaxSteer = 0.1;

void signalLoop(pa_threaded_mainloop* loop) {
  pa_threaded_mainloop_signal(loop, 0);
}
void contextChanged(pa_context*, void* loop) {
  signalLoop(static_cast<pa_threaded_mainloop*>(loop));
}
void streamChanged(pa_stream*, void* loop) {
  signalLoop(static_cast<pa_threaded_mainloop*>(loop));
}
void operationDone(pa_stream*, int, void* loop) {
  signalLoop(static_cast<pa_threaded_mainloop*>(loop));
}

class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
  ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pa_threaded_mainloop* loop_;
};

}  // namespace

PulsePlayback::PulsePlayback(int rate, int channels) : rate_(rate), channels_(channels) {
  loop_ = pa_threaded_mainloop_new();
  if (!loop_) throw AudioError(AudioFailure::NoServer, "cannot create the sound mainloop");
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Vantry");
  auto fail = [&](AudioFailure kind, const std::string& text) {
    AudioError error(kind, text);
    if (context_) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
      context_ = nullptr;
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    throw error;
  };
  if (!context_) fail(AudioFailure::NoServer, "cannot create a sound server context");
  pa_context_set_state_callback(context_, &contextChanged, loop_);
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    fail(AudioFailure::NoServer, failureText("sound server"));
  if (pa_threaded_mainloop_start(loop_) < 0)
    fail(AudioFailure::NoServer, "cannot start the sound mainloop");
  pa_threaded_mainloop_lock(loop_);
  for (;;) {
    const pa_context_state_t state = pa_context_get_state(context_);
    if (state == PA_CONTEXT_READY) break;
    if (!PA_CONTEXT_IS_GOOD(state)) {
      const std::string text = failureText("sound server");
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_threaded_mainloop_unlock(loop_);
      fail(AudioFailure::NoServer, text);
    }
    pa_threaded_mainloop_wait(loop_);
  }
  pa_threaded_mainloop_unlock(loop_);
}

PulsePlayback::~PulsePlayback() {
  {
    LoopLock lock(loop_);
    dropStream();
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
  }
  pa_threaded_mainloop_stop(loop_);
  pa_context_unref(context_);
  pa_threaded_mainloop_free(loop_);
}

std::string PulsePlayback::failureText(const char* what) const {
  return std::string(what) + ": " +
         pa_strerror(context_ ? pa_context_errno(context_) : PA_ERR_UNKNOWN);
}

void PulsePlayback::dropStream() {
  if (!stream_) return;
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

bool PulsePlayback::restart(std::string* error) {
  LoopLock lock(loop_);
  dropStream();
  lastPlayed_ = 0;
  running_ = false;
  baseFrames_ = 0;
  baseHost_ = hostTime();
  pace_ = 1;
  const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32LE, uint32_t(rate_), uint8_t(channels_)};
  auto failed = [&](const char* what) {
    if (error) *error = failureText(what);
    dropStream();
    return false;
  };
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) return failed("sound server");
  stream_ = pa_stream_new(context_, "Edited audio", &sampleFormat, nullptr);
  if (!stream_) return failed("playback stream");
  pa_stream_set_state_callback(stream_, &streamChanged, loop_);
  pa_stream_set_latency_update_callback(stream_, &PulsePlayback::timingUpdated, this);
  // No prebuffering: like a device, the stream runs on through an underrun, so its clock
  // never waits for data (the end of the sound is such an underrun).
  pa_buffer_attr attr;
  attr.maxlength = uint32_t(-1);
  attr.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(kTargetLatency * 1e6), &sampleFormat));
  attr.prebuf = 0;
  attr.minreq = uint32_t(-1);
  attr.fragsize = uint32_t(-1);
  const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_INTERPOLATE_TIMING |
                                       PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
  if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0)
    return failed("playback stream");
  for (;;) {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) return true;
    if (!PA_STREAM_IS_GOOD(state)) return failed("playback stream");
    pa_threaded_mainloop_wait(loop_);
  }
}

bool PulsePlayback::healthy() {
  LoopLock lock(loop_);
  return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) &&
         (!stream_ || PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)));
}

size_t PulsePlayback::writable() {
  LoopLock lock(loop_);
  if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return 0;
  const size_t bytes = pa_stream_writable_size(stream_);
  if (bytes == size_t(-1)) return 0;
  return bytes / (sizeof(float) * size_t(channels_));
}

bool PulsePlayback::write(const float* samples, size_t frames, std::string* error) {
  LoopLock lock(loop_);
  if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) {
    if (error) *error = failureText("playback stream");
    return false;
  }
  if (pa_stream_write(stream_, samples, frames * sizeof(float) * size_t(channels_), nullptr, 0,
                      PA_SEEK_RELATIVE) < 0) {
    if (error) *error = failureText("playback stream");
    return false;
  }
  return true;
}

void PulsePlayback::setRunning(bool running) {
  LoopLock lock(loop_);
  if (!stream_ || running == running_) return;
  const double now = hostTime();
  // A pause holds the clock where it stands; a resume runs it on from there at once.
  baseFrames_ = std::max(lastPlayed_, estimateLocked(now));
  baseHost_ = now;
  pace_ = 1;
  running_ = running;
  if (pa_operation* op = pa_stream_cork(stream_, running ? 0 : 1, nullptr, nullptr))
    pa_operation_unref(op);
  requestTiming(now);  // answered after the cork, so it tells where the stream now is
}

void PulsePlayback::timingUpdated(pa_stream*, void* self) {
  auto* me = static_cast<PulsePlayback*>(self);
  me->takeTiming();
  pa_threaded_mainloop_signal(me->loop_, 0);
}

// The server's word on what has been heard, as the library's own uninterpolated time (the
// stream's read position, less what the sink holds, plus the report's time in transit),
// steers the clock's pace. A paused stream, or one the sink has not started yet, says
// nothing about what is heard.
void PulsePlayback::takeTiming() {
  const pa_timing_info* info = stream_ ? pa_stream_get_timing_info(stream_) : nullptr;
  if (!running_ || !info || info->read_index_corrupt || !info->playing) return;
  const pa_sample_spec* sampleFormat = pa_stream_get_sample_spec(stream_);
  const double usec =
      double(pa_bytes_to_usec(uint64_t(std::max<int64_t>(info->read_index, 0)), sampleFormat)) +
      double(info->transport_usec) - double(info->sink_usec);
  const double heard = std::max(0.0, usec * 1e-6 * rate_);
  const double now = hostTime();
  baseFrames_ = estimateLocked(now);
  baseHost_ = now;
  const double gap = (heard - baseFrames_) / rate_;  // seconds the clock is behind
  pace_ = 1 + std::clamp(gap / kCatchUp, -kMaxSteer, kMaxSteer);
}

double PulsePlayback::estimateLocked(double now) const {
  if (!running_) return baseFrames_;
  return baseFrames_ + std::max(0.0, now - baseHost_) * rate_ * pace_;
}

void PulsePlayback::requestTiming(double now) {
  lastTimingRequest_ = now;
  if (pa_operation* op = pa_stream_update_timing_info(stream_, nullptr, nullptr))
    pa_operation_unref(op);
}

double PulsePlayback::playedFrames() {
  LoopLock lock(loop_);
  if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return lastPlayed_;
  const double now = hostTime();
  if (now - lastTimingRequest_ > 0.1) requestTiming(now);
  lastPlayed_ = std::max(lastPlayed_, estimateLocked(now));
  return lastPlayed_;
}

void PulsePlayback::syncTiming() {
  LoopLock lock(loop_);
  if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
  pa_operation* op = pa_stream_update_timing_info(stream_, &operationDone, loop_);
  if (!op) return;
  while (pa_operation_get_state(op) == PA_OPERATION_RUNNING &&
         PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)))
    pa_threaded_mainloop_wait(loop_);
  pa_operation_unref(op);
}

std::unique_ptr<SoundOutput> makePulseSoundOutput(int rate, int channels) {
  return std::make_unique<PulsePlayback>(rate, channels);
}

std::unique_ptr<SoundOutput> makeSoundOutput(int rate, int channels) {
  try {
    return makePulseSoundOutput(rate, channels);
  } catch (const AudioError&) {
    return makeNullSoundOutput(rate, channels);
  }
}

}  // namespace vantry::platform
