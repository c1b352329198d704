// Playback through PulseAudio (also PipeWire's PulseAudio server): one context for the
// player's life and a fresh playback stream on every restart, so that the stream's own
// position, read from its interpolated timing, counts from the restart.
#pragma once

#include <string>

#include "platform/sound_output.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace vantry::platform {

class PulsePlayback final : public SoundOutput {
 public:
  // Connects to the server; throws AudioError when it cannot.
  PulsePlayback(int rate, int channels);
  ~PulsePlayback() override;

  int sampleRate() const override { return rate_; }
  int channels() const override { return channels_; }
  bool audible() const override { return true; }
  bool restart(std::string* error) override;
  size_t writable() override;
  bool write(const float* samples, size_t frames, std::string* error) override;
  void setRunning(bool running) override;
  double playedFrames() override;
  void syncTiming() override;

 private:
  void dropStream();  // with the mainloop lock held
  std::string failureText(const char* what) const;

  const int rate_;
  const int channels_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  // Guarded by the mainloop lock:
  double lastTimingRequest_ = 0;
  double lastPlayed_ = 0;
};

}  // namespace vantry::platform
