// Places microphone samples on the host clock. The sound server reports, with every chunk,
// when its first sample was captured; those reports are noisy while a stream settles, so
// the instant of each sample comes from the median of the settled reports. A track is
// begun at a host-clock instant: the samples captured from then on go to the sink, the
// first of them at time 0 (earlier ones are dropped; if the stream's first sound came
// later, silence fills the track up to it). The sound server's clock is measured against
// the host clock all along and its drift resampled away (DriftCompensator), so the voice
// stays with the picture over long recordings.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "capture/drift_compensator.h"
#include "platform/audio_source.h"

namespace vantry {

// Host-clock instant of stream sample 0, estimated from the chunks' timing reports.
class SampleOriginEstimator {
 public:
  explicit SampleOriginEstimator(int rate) : rate_(rate) {}

  void add(const platform::AudioChunk& chunk);
  // True once enough reports came from the stream's settled part.
  bool settled() const;
  // The best estimate so far: settled reports, else any report, else arrival times.
  std::optional<double> origin() const;
  // The measured clock ratio applied so far (1: none).
  double driftRatio() const;

  // Reports from the first second of a stream are not trusted: a sound server's timing
  // jumps while the stream starts.
  static constexpr double kSettleSeconds = 1.0;
  static constexpr size_t kSettledReports = 20;
  static constexpr size_t kMaxReports = 2048;

 private:
  int rate_;
  std::vector<double> early_;
  std::vector<double> settled_;
  std::optional<double> arrivalBound_;
};

class MicrophoneTrack {
 public:
  // Samples, their count, and their time in seconds on the track (0 = the begin instant).
  using Sink = std::function<void(const float* samples, int count, double time)>;

  MicrophoneTrack(int rate, Sink sink);

  // From the audio thread.
  void add(const platform::AudioChunk& chunk);
  // Samples captured at or after `hostTime` go to the sink.
  void begin(double hostTime);
  // Places and hands over whatever is still held back (at stop). No sample reaches the
  // sink after this.
  void flush();

  // Seconds from the track's time 0 to the newest sample received (the file's position);
  // nullopt before the track began or while no sound has arrived to place it.
  std::optional<double> position() const;
  double currentTime() const { return position().value_or(0.0); }
  std::optional<double> beginTime() const;
  // Host-clock instant of the stream's sample 0, when known.
  std::optional<double> origin() const;
  // The measured clock ratio applied so far (1: none).
  double driftRatio() const;

  // Samples kept while waiting for the begin instant or a settled clock.
  static constexpr double kHoldSeconds = 10.0;
  // Begun but still unsettled after this much sound: place with the best estimate.
  static constexpr double kPlaceAnywayAfter = 5.0;

 private:
  void placeLocked();
  void deliverPendingLocked();
  void emitLocked(const float* samples, int count);

  mutable std::mutex mutex_;
  int rate_;
  Sink sink_;
  SampleOriginEstimator estimator_;
  std::deque<float> pending_;
  uint64_t pendingIndex_ = 0;  // stream index of pending_.front()
  uint64_t nextIndex_ = 0;     // stream index after the last sample added
  std::optional<double> begin_;
  std::optional<int64_t> firstIndex_;  // stream index at track time 0
  bool started_ = false;               // a chunk has arrived
  bool flushed_ = false;
  int64_t delivered_ = 0;  // samples handed to the sink, silence included
  DriftCompensator drift_;
  std::vector<float> compensated_;
};

}  // namespace vantry
