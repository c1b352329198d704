#include <algorithm>
#include <mutex>

#include "platform/screen_source.h"
#include "platform/sound_output.h"

namespace vantry::platform {

namespace {

// Consumes samples at the nominal rate of its clock. Like a device that never waits for
// data, it keeps running through an underrun; what arrives late is simply not heard.
class NullSoundOutput final : public SoundOutput {
 public:
  NullSoundOutput(int rate, int channels, std::function<double()> clock, SoundTap tap,
                  double bufferSeconds)
      : rate_(rate),
        channels_(channels),
        clock_(clock ? std::move(clock) : std::function<double()>(hostTime)),
        tap_(std::move(tap)),
        capacity_(std::max(1.0, bufferSeconds * rate)) {}

  int sampleRate() const override { return rate_; }
  int channels() const override { return channels_; }
  bool audible() const override { return false; }
  bool healthy() override { return true; }

  bool restart(std::string*) override {
    std::lock_guard lock(mutex_);
    written_ = 0;
    base_ = 0;
    running_ = false;
    return true;
  }

  size_t writable() override {
    std::lock_guard lock(mutex_);
    const double ahead = double(written_) - playedLocked();
    return ahead >= capacity_ ? 0 : size_t(capacity_ - ahead);
  }

  bool write(const float* samples, size_t frames, std::string*) override {
    std::lock_guard lock(mutex_);
    if (tap_) tap_(samples, frames, written_);
    written_ += static_cast<long long>(frames);
    return true;
  }

  void setRunning(bool running) override {
    std::lock_guard lock(mutex_);
    if (running == running_) return;
    base_ = playedLocked();
    anchor_ = clock_();
    running_ = running;
  }

  double playedFrames() override {
    std::lock_guard lock(mutex_);
    return playedLocked();
  }

  void syncTiming() override {}

 private:
  double playedLocked() const {
    return running_ ? base_ + std::max(0.0, clock_() - anchor_) * rate_ : base_;
  }

  const int rate_;
  const int channels_;
  const std::function<double()> clock_;
  const SoundTap tap_;
  const double capacity_;
  std::mutex mutex_;
  long long written_ = 0;
  double base_ = 0;    // frames heard when the clock was last anchored
  double anchor_ = 0;  // clock at that moment
  bool running_ = false;
};

}  // namespace

std::unique_ptr<SoundOutput> makeNullSoundOutput(int rate, int channels,
                                                 std::function<double()> clock, SoundTap tap,
                                                 double bufferSeconds) {
  return std::make_unique<NullSoundOutput>(rate, channels, std::move(clock), std::move(tap),
                                           bufferSeconds);
}

}  // namespace vantry::platform
