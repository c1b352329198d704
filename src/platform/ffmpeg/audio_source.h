// Decoded sound of one file as float samples at a fixed rate, read by sample position.
// Reading forward is sequential; a jump back or far ahead seeks. A damaged packet becomes
// silence of its length, as a damaged picture is skipped (a long gap is made only as far as
// reads need it, so memory stays bounded); other failures are reported.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/ffmpeg/ff_util.h"
#include "platform/ffmpeg/video_reader.h"

struct SwrContext;

namespace vantry {

class AudioSource {
 public:
  // Null with `error` set when the file cannot be opened or holds neither sound nor
  // picture: what a person is told, naming the file (failure()). A movie without sound
  // gives a source whose hasAudio() is false. `notAFile` as ff::openInput sets it.
  static std::unique_ptr<AudioSource> open(const std::string& path, int sampleRate,
                                           std::string* error, bool* notAFile = nullptr);
  // The sentence naming the sound file at `path`, followed by `reason` (as read() gives it).
  static std::string failure(const std::string& path, const std::string& reason);
  ~AudioSource();

  bool hasAudio() const { return stream_ >= 0; }
  int channels() const { return channels_; }
  int sampleRate() const { return rate_; }
  // Length of the sound in seconds.
  double duration() const { return duration_; }

  // Fills `out` (interleaved, frames × channels) with the samples from frame position
  // `start` on; positions past the end give silence. false with `error` (why, in words) on
  // a failure.
  bool read(int64_t start, int64_t frames, std::vector<float>& out, std::string* error);

 private:
  AudioSource() = default;
  bool seek(int64_t position, std::string* error);
  bool decodeMore(std::string* error);  // false at the end (error empty) or on failure
  bool restartResampler(std::string* error);
  // Moves the held frame into the buffer as far as the current read needs.
  void placeHeld();

  // Farthest sample position a timestamp is taken to mean (some thousand years).
  static constexpr int64_t kFarthest = int64_t{1} << 50;

  ff::InputFormatPtr fmt_;
  ff::CodecContextPtr codec_;
  SwrContext* swr_ = nullptr;
  int stream_ = -1;
  int rate_ = 48000;
  int channels_ = 1;
  double duration_ = 0;
  PacketPump pump_;
  ff::FramePtr frame_ = ff::makeFrame();
  std::deque<float> buffer_;  // interleaved samples from bufferStart_ on
  int64_t bufferStart_ = 0;
  int64_t coveredFrom_ = 0;  // [coveredFrom_, bufferStart_) is known silence
  // Sound decoded after a long gap, to go at heldStart_ once reads get near it.
  std::vector<float> held_;
  int64_t heldStart_ = 0;
  int64_t wantedStart_ = 0, wantedEnd_ = 0;  // the stretch the current read wants
  bool positioned_ = false;                  // bufferStart_ known since the last seek
  bool ended_ = false;
  std::vector<float> scratch_;
};

}  // namespace vantry
