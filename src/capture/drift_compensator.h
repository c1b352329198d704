// A sound source's sample clock measured against the host clock, and its samples resampled
// so that the number handed on follows the host clock: a microphone whose clock runs
// 200 ppm fast would otherwise put the voice 0.72 s behind the picture after an hour.
//
// The rate is a least-squares fit of the sound server's timing reports (stream sample index
// against host time) over the whole recording, so the reports' jitter averages out. It is
// applied only once the reports span kMinSpan seconds and the measured deviation is clear
// of the fit's own uncertainty; a source that keeps time is passed through unchanged.
// The correction is a cubic interpolation at a ratio within kMaxCorrection of one, steered
// so that the samples given stay with the host clock.
#pragma once

#include <cstdint>
#include <vector>

namespace vantry {

class DriftCompensator {
 public:
  explicit DriftCompensator(int rate) : rate_(rate) {}

  // A timing report: stream sample `index` was captured at host-clock `time`.
  void observe(uint64_t index, double time);
  // Appends to `out` what `count` input samples (the next ones of the stream) become.
  void process(const float* samples, int count, std::vector<float>& out);
  // Appends what is still held back (at the end of the recording).
  void drain(std::vector<float>& out);

  // Host seconds per nominal sample period times the rate: below 1 for a fast source.
  // 1 until the measurement is trusted.
  double ratio() const;
  bool compensating() const { return compensating_; }

  static constexpr double kMinSpan = 20.0;         // seconds of reports before any correction
  static constexpr double kMaxCorrection = 0.002;  // 2000 ppm beyond the measured ratio

 private:
  int rate_;
  bool compensating_ = false;
  // The fit, on offsets from the first report to keep the sums exact enough.
  bool haveFirst_ = false;
  double x0_ = 0, y0_ = 0;
  double n_ = 0, sx_ = 0, sy_ = 0, sxx_ = 0, sxy_ = 0, syy_ = 0;
  double lastX_ = 0;
  int64_t consumed_ = 0;  // input samples taken
  int64_t produced_ = 0;  // output samples given
  // While compensating: the input not yet fully used, history_[0] being input sample
  // `historyStart_`, and the input position of the next output sample.
  std::vector<float> history_;
  int64_t historyStart_ = 0;
  double position_ = 0;
};

}  // namespace vantry
