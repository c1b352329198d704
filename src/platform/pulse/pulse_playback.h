// Playback through PulseAudio (also PipeWire's PulseAudio server): one context for the
// player's life and a fresh playback stream on every restart, so that the stream's own
// position counts from the restart. The position is a clock of its own: it runs from the
// moment the stream is resumed at the nominal rate, and the server's timing reports (asked
// for ten times a second) only steer its pace, by at most a tenth, toward what has been
// heard. A sink that starts a stream late or reads it in bursts (a null sink does both)
// thus never makes the picture jump ahead or stand still.
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
  bool healthy() override;
  bool restart(std::string* error) override;
  size_t writable() override;
  bool write(const float* samples, size_t frames, std::string* error) override;
  void setRunning(bool running) override;
  double playedFrames() override;
  void syncTiming() override;

 private:
  static void timingUpdated(pa_stream* s, void* self);
  // With the mainloop lock held:
  void dropStream();
  void takeTiming();
  double estimateLocked(double now) const;
  void requestTiming(double now);
  std::string failureText(const char* what) const;

  const int rate_;
  const int channels_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  // Guarded by the mainloop lock:
  double lastTimingRequest_ = 0;
  double lastPlayed_ = 0;  // what playedFrames() last said
  bool running_ = false;   // uncorked
  double baseFrames_ = 0;  // the clock at baseHost_
  double baseHost_ = 0;    // hostTime() where the clock was last set or steered
  double pace_ = 1;        // the clock's frames per nominal frame, 0.9 to 1.1
};

}  // namespace vantry::platform
