// A playback stream for interleaved float PCM at a fixed rate, whose own timing says how
// much of what was written has been heard. The real one is a PulseAudio playback stream;
// the null one swallows the samples and runs on the host clock, so the same player (and
// its clock) works where no sound server runs.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace vantry::platform {

class SoundOutput {
 public:
  virtual ~SoundOutput() = default;

  virtual int sampleRate() const = 0;
  virtual int channels() const = 0;
  // Drops the current stream (and what it still holds) and starts a new one, paused, whose
  // position counts from 0 again. false with `error` when no stream can be made.
  virtual bool restart(std::string* error) = 0;
  // Frames that can be queued now without growing the buffer past its target.
  virtual size_t writable() = 0;
  // Queues `frames` interleaved frames after what was written before. false with `error`
  // when the stream has failed (the server went away).
  virtual bool write(const float* samples, size_t frames, std::string* error) = 0;
  // Pauses or resumes the stream; its clock stands still while paused.
  virtual void setRunning(bool running) = 0;
  // Frames of this stream heard so far, counted from the restart: the stream's own clock,
  // interpolated between the server's timing reports. Never goes backwards. Thread-safe.
  virtual double playedFrames() = 0;
  // Waits for a fresh timing report, so that playedFrames() is exact from now on.
  virtual void syncTiming() = 0;
  // True for the PulseAudio stream, false for the null sink.
  virtual bool audible() const = 0;
  // False once the stream or its server has failed; it will not recover.
  virtual bool healthy() = 0;
};

// Makes a stream; throws AudioError (platform/audio_source.h) when it cannot.
using SoundOutputFactory = std::function<std::unique_ptr<SoundOutput>(int rate, int channels)>;

// The null sink: its clock is `clock` (seconds, hostTime() when empty), it plays whatever
// was written as if a device consumed it, and it holds at most `bufferSeconds` ahead.
// `tap`, when given, receives every written frame with the stream position of its first
// frame (tests read the produced sound through it).
using SoundTap = std::function<void(const float* samples, size_t frames, long long position)>;
std::unique_ptr<SoundOutput> makeNullSoundOutput(int rate, int channels,
                                                 std::function<double()> clock = {},
                                                 SoundTap tap = {}, double bufferSeconds = 0.2);

// A playback stream on the default sink of the sound server; throws AudioError when no
// server can be reached.
std::unique_ptr<SoundOutput> makePulseSoundOutput(int rate, int channels);

// The sound server's stream, or the null sink when no server runs.
std::unique_ptr<SoundOutput> makeSoundOutput(int rate, int channels);

}  // namespace vantry::platform
