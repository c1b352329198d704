#include "platform/pulse/pulse_microphone.h"

#include <pulse/pulseaudio.h>

#include <cmath>
#include <limits>

#include "platform/screen_source.h"

namespace vantry::platform {

namespace {

constexpr pa_sample_spec kSpec{PA_SAMPLE_FLOAT32LE, PulseMicrophone::kRate, 1};

AudioFailure failureFor(pa_context* c, AudioFailure otherwise) {
  const int err = c ? pa_context_errno(c) : PA_ERR_UNKNOWN;
  if (err == PA_ERR_ACCESS || err == PA_ERR_AUTHKEY) return AudioFailure::AccessDenied;
  if (err == PA_ERR_NOENTITY) return AudioFailure::NoDevice;
  return otherwise;
}

// The server's own words for what went wrong. What failed is the error's kind, which the
// recorder puts in words of the interface language.
std::string serverText(pa_context* c) {
  return pa_strerror(c ? pa_context_errno(c) : PA_ERR_UNKNOWN);
}

}  // namespace

std::unique_ptr<AudioSource> makeMicrophoneSource() {
  return std::make_unique<PulseMicrophone>();
}

PulseMicrophone::PulseMicrophone(std::string source) : source_(std::move(source)) {}

PulseMicrophone::~PulseMicrophone() {
  stop();
}

void PulseMicrophone::contextState(pa_context* c, void* self) {
  auto* me = static_cast<PulseMicrophone*>(self);
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c)) && me->streaming_ && !me->stopping_) {
    me->reportFailure(AudioError(AudioFailure::ServerLost, serverText(c)));
  }
  pa_threaded_mainloop_signal(me->loop_, 0);
}

void PulseMicrophone::streamState(pa_stream* s, void* self) {
  auto* me = static_cast<PulseMicrophone*>(self);
  const pa_stream_state_t state = pa_stream_get_state(s);
  if (!PA_STREAM_IS_GOOD(state) && me->streaming_ && !me->stopping_) {
    // The stream also fails when the whole server goes away: say which it was.
    const bool serverGone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(me->context_));
    me->reportFailure(AudioError(serverGone ? AudioFailure::ServerLost : AudioFailure::Stopped,
                                 serverText(me->context_)));
  }
  pa_threaded_mainloop_signal(me->loop_, 0);
}

void PulseMicrophone::streamRead(pa_stream*, size_t, void* self) {
  static_cast<PulseMicrophone*>(self)->readAvailable();
}

void PulseMicrophone::reportFailure(AudioError error) {
  if (failed_) return;
  failed_ = true;
  if (errors_) errors_(error);
}

// Runs on the mainloop thread with its lock held.
void PulseMicrophone::readAvailable() {
  while (!stopping_ && stream_ && pa_stream_readable_size(stream_) > 0) {
    const void* data = nullptr;
    size_t bytes = 0;
    if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) return;

    // Keep the timing fresh: the automatic updates slow down to more than a second apart.
    const double now = hostTime();
    if (now - lastTimingRequest_ > 0.1) {
      lastTimingRequest_ = now;
      if (pa_operation* op = pa_stream_update_timing_info(stream_, nullptr, nullptr)) {
        pa_operation_unref(op);
      }
    }
    // Timing before the drop: the latency then runs from the capture of this chunk's first
    // sample to now.
    double firstTime = std::numeric_limits<double>::quiet_NaN();
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream_, &latency, &negative) == 0) {
      const double seconds = double(latency) * 1e-6;
      firstTime = hostTime() - (negative ? -seconds : seconds);
    }

    const size_t count = bytes / sizeof(float);
    const float* samples = static_cast<const float*>(data);
    if (!data) {  // a hole in the stream: keep the timeline with silence
      if (silence_.size() < count) silence_.assign(count, 0.0f);
      samples = silence_.data();
    }
    if (count > 0 && chunks_) {
      AudioChunk chunk;
      chunk.samples = samples;
      chunk.count = count;
      chunk.firstIndex = index_;
      chunk.firstSampleTime = firstTime;
      chunk.arrivalTime = now;
      chunks_(chunk);
    }
    index_ += count;
    pa_stream_drop(stream_);
  }
}

void PulseMicrophone::start(ChunkHandler chunks, ErrorHandler errors) {
  std::lock_guard life(lifecycle_);
  if (loop_) return;
  chunks_ = std::move(chunks);
  errors_ = std::move(errors);
  stopping_ = false;
  streaming_ = false;
  failed_ = false;
  index_ = 0;

  loop_ = pa_threaded_mainloop_new();
  if (!loop_) throw AudioError(AudioFailure::NoServer, "cannot create the sound mainloop");
  context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Vantry");
  if (!context_) {
    teardown();
    throw AudioError(AudioFailure::NoServer, "cannot create a sound server context");
  }
  pa_context_set_state_callback(context_, &PulseMicrophone::contextState, this);
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    AudioError error(AudioFailure::NoServer, serverText(context_));
    teardown();
    throw error;
  }
  if (pa_threaded_mainloop_start(loop_) < 0) {
    teardown();
    throw AudioError(AudioFailure::NoServer, "cannot start the sound mainloop");
  }

  pa_threaded_mainloop_lock(loop_);
  for (;;) {
    const pa_context_state_t state = pa_context_get_state(context_);
    if (state == PA_CONTEXT_READY) break;
    if (!PA_CONTEXT_IS_GOOD(state)) {
      AudioError error(failureFor(context_, AudioFailure::NoServer), serverText(context_));
      pa_threaded_mainloop_unlock(loop_);
      teardown();
      throw error;
    }
    pa_threaded_mainloop_wait(loop_);
  }

  stream_ = pa_stream_new(context_, "Microphone", &kSpec, nullptr);
  if (!stream_) {
    AudioError error(AudioFailure::CannotOpen, serverText(context_));
    pa_threaded_mainloop_unlock(loop_);
    teardown();
    throw error;
  }
  pa_stream_set_state_callback(stream_, &PulseMicrophone::streamState, this);
  pa_stream_set_read_callback(stream_, &PulseMicrophone::streamRead, this);
  // Small fragments keep each chunk's timestamp fresh; the server may round them.
  pa_buffer_attr attr;
  attr.maxlength = uint32_t(-1);
  attr.tlength = uint32_t(-1);
  attr.prebuf = uint32_t(-1);
  attr.minreq = uint32_t(-1);
  attr.fragsize = uint32_t(pa_usec_to_bytes(10000, &kSpec));
  const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                       PA_STREAM_AUTO_TIMING_UPDATE);
  if (pa_stream_connect_record(stream_, source_.empty() ? nullptr : source_.c_str(), &attr, flags) <
      0) {
    AudioError error(AudioFailure::CannotOpen, serverText(context_));
    pa_threaded_mainloop_unlock(loop_);
    teardown();
    throw error;
  }
  for (;;) {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) break;
    if (!PA_STREAM_IS_GOOD(state)) {
      AudioError error(failureFor(context_, AudioFailure::CannotOpen), serverText(context_));
      pa_threaded_mainloop_unlock(loop_);
      teardown();
      throw error;
    }
    pa_threaded_mainloop_wait(loop_);
  }
  streaming_ = true;  // from now on a failure goes to the error handler
  pa_threaded_mainloop_unlock(loop_);
}

void PulseMicrophone::stop() {
  std::lock_guard life(lifecycle_);
  teardown();
}

void PulseMicrophone::teardown() {
  if (loop_) {
    pa_threaded_mainloop_lock(loop_);
    stopping_ = true;
    streaming_ = false;
    if (stream_) {
      pa_stream_set_read_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    if (context_) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
  }
  if (context_) pa_context_unref(context_);
  context_ = nullptr;
  if (loop_) pa_threaded_mainloop_free(loop_);
  loop_ = nullptr;
  chunks_ = nullptr;
  errors_ = nullptr;
}

}  // namespace vantry::platform
