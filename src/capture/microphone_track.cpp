#include "capture/microphone_track.h"

#include <algorithm>
#include <cmath>

namespace vantry {

namespace {

double median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

}  // namespace

void SampleOriginEstimator::add(const platform::AudioChunk& chunk) {
  if (chunk.count == 0) return;
  if (chunk.arrivalTime > 0) {
    // The chunk's last sample was captured before the chunk arrived.
    const double bound =
        chunk.arrivalTime - double(chunk.firstIndex + chunk.count - 1) / double(rate_);
    if (!arrivalBound_ || bound < *arrivalBound_) arrivalBound_ = bound;
  }
  if (!std::isfinite(chunk.firstSampleTime)) return;
  const double estimate = chunk.firstSampleTime - double(chunk.firstIndex) / double(rate_);
  if (double(chunk.firstIndex) >= kSettleSeconds * rate_) {
    if (settled_.size() < kMaxReports) settled_.push_back(estimate);
  } else if (early_.size() < kMaxReports) {
    early_.push_back(estimate);
  }
}

bool SampleOriginEstimator::settled() const {
  return settled_.size() >= kSettledReports;
}

std::optional<double> SampleOriginEstimator::origin() const {
  if (!settled_.empty()) return median(settled_);
  if (!early_.empty()) {
    // The latest reports of a young stream are the least disturbed.
    return median(std::vector<double>(early_.begin() + early_.size() / 2, early_.end()));
  }
  return arrivalBound_;
}

MicrophoneTrack::MicrophoneTrack(int rate, Sink sink)
    : rate_(rate), sink_(std::move(sink)), estimator_(rate), drift_(rate) {}

void MicrophoneTrack::add(const platform::AudioChunk& chunk) {
  std::lock_guard lock(mutex_);
  if (flushed_ || chunk.count == 0 || !chunk.samples) return;
  if (started_ && chunk.firstIndex < nextIndex_) return;  // a repeat of what we have
  estimator_.add(chunk);
  if (std::isfinite(chunk.firstSampleTime) &&
      double(chunk.firstIndex) >= SampleOriginEstimator::kSettleSeconds * rate_)
    drift_.observe(chunk.firstIndex, chunk.firstSampleTime);
  if (!started_) {
    started_ = true;
    pendingIndex_ = chunk.firstIndex;
  } else if (chunk.firstIndex > nextIndex_) {
    // A gap in the stream: keep the timeline with silence.
    const uint64_t gap = chunk.firstIndex - nextIndex_;
    if (pending_.empty()) pendingIndex_ = nextIndex_;
    pending_.insert(pending_.end(), gap, 0.0f);
  } else if (pending_.empty()) {
    pendingIndex_ = chunk.firstIndex;
  }
  pending_.insert(pending_.end(), chunk.samples, chunk.samples + chunk.count);
  nextIndex_ = chunk.firstIndex + chunk.count;

  if (begin_ && !firstIndex_) {
    const double heldSince = double(nextIndex_) / rate_;
    if (estimator_.settled() ||
        heldSince >= kPlaceAnywayAfter + SampleOriginEstimator::kSettleSeconds) {
      placeLocked();
    }
  }
  if (firstIndex_) {
    deliverPendingLocked();
  } else {
    const size_t hold = size_t(kHoldSeconds * rate_);
    if (pending_.size() > hold) {
      const size_t drop = pending_.size() - hold;
      pending_.erase(pending_.begin(), pending_.begin() + drop);
      pendingIndex_ += drop;
    }
  }
}

void MicrophoneTrack::begin(double hostTime) {
  std::lock_guard lock(mutex_);
  if (begin_ || flushed_) return;
  begin_ = hostTime;
  if (estimator_.settled()) {
    placeLocked();
    deliverPendingLocked();
  }
}

void MicrophoneTrack::placeLocked() {
  if (!begin_ || firstIndex_) return;
  const auto origin = estimator_.origin();
  if (!origin) return;
  firstIndex_ = std::llround((*begin_ - *origin) * rate_);
}

void MicrophoneTrack::deliverPendingLocked() {
  if (!firstIndex_ || pending_.empty()) return;
  // Samples captured before the begin instant are not part of the track.
  if (int64_t(pendingIndex_) < *firstIndex_) {
    const uint64_t drop =
        std::min<uint64_t>(uint64_t(*firstIndex_ - int64_t(pendingIndex_)), pending_.size());
    pending_.erase(pending_.begin(), pending_.begin() + drop);
    pendingIndex_ += drop;
  }
  if (pending_.empty()) return;
  if (delivered_ == 0 && int64_t(pendingIndex_) > *firstIndex_) {
    // The stream's first sound came after the begin instant: the track still starts at
    // time 0, with silence until then.
    int64_t silent = int64_t(pendingIndex_) - *firstIndex_;
    const std::vector<float> zeros(size_t(std::min<int64_t>(silent, rate_)), 0.0f);
    while (silent > 0) {
      const int n = int(std::min<int64_t>(silent, int64_t(zeros.size())));
      emitLocked(zeros.data(), n);
      silent -= n;
    }
  }
  const std::vector<float> samples(pending_.begin(), pending_.end());
  emitLocked(samples.data(), int(samples.size()));
  pendingIndex_ += samples.size();
  pending_.clear();
}

void MicrophoneTrack::emitLocked(const float* samples, int count) {
  compensated_.clear();
  if (count > 0)
    drift_.process(samples, count, compensated_);
  else
    drift_.drain(compensated_);
  if (compensated_.empty()) return;
  // The track is continuous from time 0: each piece starts where the previous one ended.
  if (sink_) sink_(compensated_.data(), int(compensated_.size()), double(delivered_) / rate_);
  delivered_ += int64_t(compensated_.size());
}

double MicrophoneTrack::driftRatio() const {
  std::lock_guard lock(mutex_);
  return drift_.compensating() ? drift_.ratio() : 1.0;
}

void MicrophoneTrack::flush() {
  std::lock_guard lock(mutex_);
  if (flushed_) return;
  if (begin_) {
    placeLocked();
    if (!firstIndex_) firstIndex_ = int64_t(pendingIndex_);  // no timing at all
    deliverPendingLocked();
    if (delivered_ > 0) emitLocked(nullptr, 0);  // what the resampler still holds
  }
  flushed_ = true;
}

std::optional<double> MicrophoneTrack::position() const {
  std::lock_guard lock(mutex_);
  if (!begin_ || !started_) return std::nullopt;
  // The track position of the newest sample received, also while samples are still held
  // back for the clock to settle.
  std::optional<int64_t> first = firstIndex_;
  if (!first) {
    const auto origin = estimator_.origin();
    if (!origin) return std::nullopt;
    first = std::llround((*begin_ - *origin) * rate_);
  }
  // No sound since the begin instant: the file has no position yet.
  if (int64_t(nextIndex_) <= *first) return std::nullopt;
  return double(int64_t(nextIndex_) - *first) / rate_;
}

std::optional<double> MicrophoneTrack::beginTime() const {
  std::lock_guard lock(mutex_);
  return begin_;
}

std::optional<double> MicrophoneTrack::origin() const {
  std::lock_guard lock(mutex_);
  return estimator_.origin();
}

}  // namespace vantry
