// platform/pulse/: sound through PulseAudio: the microphone and playback.
//
// The microphone through PulseAudio (also PipeWire's PulseAudio server): a record stream
// of 32-bit float, 48 kHz, mono from the default source, with interpolated timing so that
// every chunk carries the capture instant of its first sample.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio_source.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace vantry::platform {

class PulseMicrophone : public AudioSource {
 public:
  // `source` empty: the server's default input.
  explicit PulseMicrophone(std::string source = {});
  ~PulseMicrophone() override;

  void start(ChunkHandler chunks, ErrorHandler errors) override;
  void stop() override;
  int sampleRate() const override { return kRate; }

  static constexpr int kRate = 48000;

 private:
  static void contextState(pa_context* c, void* self);
  static void streamState(pa_stream* s, void* self);
  static void streamRead(pa_stream* s, size_t bytes, void* self);
  void readAvailable();
  void reportFailure(AudioError error);
  void teardown();

  std::string source_;
  std::mutex lifecycle_;  // start/stop against each other
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  ChunkHandler chunks_;
  ErrorHandler errors_;
  bool stopping_ = false;  // read and written under the mainloop lock
  bool streaming_ = false;
  bool failed_ = false;
  uint64_t index_ = 0;
  double lastTimingRequest_ = 0;
  std::vector<float> silence_;
};

}  // namespace vantry::platform
