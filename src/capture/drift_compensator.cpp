#include "capture/drift_compensator.h"

#include <algorithm>
#include <cmath>

namespace vantry {

void DriftCompensator::observe(uint64_t index, double time) {
  if (!std::isfinite(time)) return;
  if (!haveFirst_) {
    haveFirst_ = true;
    x0_ = double(index);
    y0_ = time;
  }
  const double x = double(index) - x0_;
  const double y = time - y0_;
  n_ += 1;
  sx_ += x;
  sy_ += y;
  sxx_ += x * x;
  sxy_ += x * y;
  syy_ += y * y;
  lastX_ = std::max(lastX_, x);
}

double DriftCompensator::ratio() const {
  if (n_ < 10 || lastX_ < kMinSpan * rate_) return 1.0;
  const double dxx = n_ * sxx_ - sx_ * sx_;
  if (!(dxx > 0)) return 1.0;
  const double slope = (n_ * sxy_ - sx_ * sy_) / dxx;  // host seconds per sample
  const double r = slope * rate_;
  // The fit's standard error: a deviation within three of it is noise, not drift.
  const double intercept = (sy_ - slope * sx_) / n_;
  const double residual = syy_ - 2 * slope * sxy_ - 2 * intercept * sy_ + slope * slope * sxx_ +
                          2 * slope * intercept * sx_ + n_ * intercept * intercept;
  const double variance = std::max(residual, 0.0) / std::max(n_ - 2, 1.0);
  const double stderrRatio = std::sqrt(variance * n_ / dxx) * rate_;
  const double deviation = std::abs(r - 1);
  if (deviation <= std::max(3 * stderrRatio, 1e-6) || deviation > 0.01) return 1.0;
  return r;
}

void DriftCompensator::process(const float* samples, int count, std::vector<float>& out) {
  if (count <= 0) return;
  const double r = ratio();
  if (!compensating_ && r == 1.0) {
    // Keeps time: the samples pass unchanged.
    out.insert(out.end(), samples, samples + count);
    consumed_ += count;
    produced_ += count;
    return;
  }
  if (!compensating_) {
    compensating_ = true;
    historyStart_ = consumed_;
    position_ = double(consumed_);
  }
  history_.insert(history_.end(), samples, samples + count);
  consumed_ += count;

  // What the host clock says should have been given for what was taken, against what was
  // given and what is still held: the step follows the measured ratio and closes that gap
  // within about a second.
  const double held = (double(consumed_) - position_) * r;
  const double error = double(consumed_) * r - (double(produced_) + held);
  const double correction = std::clamp(error / rate_, -kMaxCorrection, kMaxCorrection);
  const double step = 1.0 / (r + correction);

  auto at = [&](int64_t i) {
    i = std::clamp<int64_t>(i - historyStart_, 0, int64_t(history_.size()) - 1);
    return double(history_[size_t(i)]);
  };
  // Catmull-Rom between the two samples around the position; two samples of look-ahead.
  while (std::floor(position_) + 2 < double(consumed_)) {
    const auto i = int64_t(std::floor(position_));
    const double t = position_ - double(i);
    const double p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
    const double v =
        p1 +
        0.5 * t * (p2 - p0 + t * (2 * p0 - 5 * p1 + 4 * p2 - p3 + t * (3 * (p1 - p2) + p3 - p0)));
    out.push_back(float(v));
    ++produced_;
    position_ += step;
  }
  // Keep one sample before the position for the next interpolation.
  const int64_t keepFrom = int64_t(std::floor(position_)) - 1;
  if (keepFrom > historyStart_) {
    const auto drop = size_t(std::min<int64_t>(keepFrom - historyStart_, int64_t(history_.size())));
    history_.erase(history_.begin(), history_.begin() + drop);
    historyStart_ += int64_t(drop);
  }
}

void DriftCompensator::drain(std::vector<float>& out) {
  if (!compensating_) return;
  // The last samples, held back for look-ahead, at the final ratio.
  while (position_ < double(consumed_)) {
    const auto i = std::clamp<int64_t>(int64_t(std::llround(position_)) - historyStart_, 0,
                                       int64_t(history_.size()) - 1);
    if (history_.empty()) break;
    out.push_back(history_[size_t(i)]);
    ++produced_;
    position_ += 1.0 / ratio();
  }
}

}  // namespace vantry
