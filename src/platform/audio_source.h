// A microphone that delivers mono float samples, each chunk with the host-clock instant
// at which its first sample was captured. The real one is a PulseAudio record stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace vantry::platform {

struct AudioChunk {
  const float* samples = nullptr;  // `count` mono samples, valid only during the call
  size_t count = 0;
  uint64_t firstIndex = 0;  // index of samples[0] since the stream began
  // hostTime() at which samples[0] was captured, from the stream's own timing; NaN while
  // the sound server has not reported timing yet.
  double firstSampleTime = 0;
  double arrivalTime = 0;  // hostTime() when the chunk reached us
};

enum class AudioFailure {
  NoServer,      // no sound server could be reached
  NoDevice,      // the server has no input to record from
  AccessDenied,  // the server refused us
  CannotOpen,    // the record stream was refused
  Stopped,       // the stream (its device) went away while recording
  ServerLost,    // the sound server went away while recording
};

// Its text is the sound server's own words (a person reads them only after a sentence of
// ours); its kind says what failed.
class AudioError : public std::runtime_error {
 public:
  AudioError(AudioFailure kind, const std::string& detail)
      : std::runtime_error(detail), kind_(kind) {}
  AudioFailure kind() const { return kind_; }

 private:
  AudioFailure kind_;
};

class AudioSource {
 public:
  // Called on the source's own thread; must return quickly.
  using ChunkHandler = std::function<void(const AudioChunk&)>;
  // Called once on the source's thread when recording ends by itself.
  using ErrorHandler = std::function<void(const AudioError&)>;

  virtual ~AudioSource() = default;

  // Returns once the stream records. Throws AudioError.
  virtual void start(ChunkHandler chunks, ErrorHandler errors = {}) = 0;
  // Stops recording; no handler runs after it returns. Idempotent.
  virtual void stop() = 0;
  virtual int sampleRate() const = 0;
};

// The default input of the sound server, 48 kHz mono.
std::unique_ptr<AudioSource> makeMicrophoneSource();

}  // namespace vantry::platform
