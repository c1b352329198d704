// The frame clock: recording time and the live pointer, the presenter spring, live
// motion, and the playhead while a project plays.
#include <algorithm>
#include <cmath>

#include "capture/capture_target.h"
#include "localization/localization.h"
#include "studio/frame_clock.h"
#include "studio/studio.h"

namespace vantry {

namespace {
constexpr double maxStep = 0.1;
constexpr double endTolerance = 1.0 / 600.0;

// Closer than this to its target, the presenter spring is drawn where it is going.
bool atRest(const MotionSpring& spring, double target) {
  return std::abs(spring.value - target) < 1e-4 && std::abs(spring.velocity) < 1e-3;
}
}  // namespace

bool Studio::clockRunning() const {
  return clock_->running();
}

void Studio::updateClock() {
  if (!services_.startClock) return;
  const double target = fullPresenter_ ? 1 : 0;
  const bool springing = live() && !atRest(presenterSpring_, target);
  const bool needed = recording_ || playing_ || springing;
  if (needed && !clock_->running()) {
    // The first tick after a pause steps from now, as a clock that never slept would.
    lastTick_ = now();
  } else if (!needed && clock_->running() && live() && presenterSpring_.value != target) {
    presenterSpring_ = MotionSpring{target, 0};
    emit frameTick();
  }
  clock_->setRunning(needed);
}

void Studio::tick() {
  double uptime = now();
  double raw = uptime - lastTick_;
  lastTick_ = uptime;

  if (recording_) {
    std::optional<double> started = recorder_ ? recorder_->startClock() : std::nullopt;
    double start = started ? *started : recordingStart_;
    setTime(std::max(0.0, uptime - start));
    if (recorder_ && recorder_->screenRect().width > 0) {
      platform::Rect rect = recorder_->screenRect();
      platform::PointerState pointer;
      if (pointer_)
        pointer = pointer_->read();
      else
        pointer.location = {};
      platform::Size canvas = recorder_->captureSize();
      if (!(canvas.width > 0) || !(canvas.height > 0)) canvas = {1920, 1080};
      livePointer_ = CaptureTarget::normalizedPointer(pointer.location, rect, canvas);
      bool pressed = pointer.leftDown;
      // A release and a new press between two ticks is a click too.
      bool edge = pressed && (!livePressed_ || pointer.pressesSinceLastRead > 0);
      if (edge && rect.contains(pointer.location)) {
        liveClick_ = uptime;
        liveFocus_ = livePointer_;
      }
      livePressed_ = pressed;
    }
  }

  double dt = std::min(raw, maxStep);

  if (standby_ || recording_) {
    presenterSpring_.advance(fullPresenter_ ? 1 : 0, 10, dt);
    emit frameTick();
  }

  if (recording_) {
    bool active = settings_.zoomEnabled && (uptime - liveClick_) < settings_.hold;
    liveState_ =
        liveMotion_.advance(livePointer_, liveFocus_, active, uptime - liveClick_, settings_, dt);
    emit frameTick();
    return;
  }

  if (!playing_ || seeking_) return updateClock();
  double end = clip_.editedDuration();
  if (voice_) {
    double seconds = voice_->currentTime();
    if (std::isfinite(seconds)) setTime(std::max(0.0, std::min(seconds, end)));
    std::string failure = voice_->error();
    if (!failure.empty()) {
      setPlaying(false);
      setError(L("播放失败：") + failure);
    }
  } else {
    setTime(std::min(playbackAnchorTime_ + (uptime - playbackAnchorHost_) * playbackRate_, end));
  }
  if (!(time_ < end - endTolerance)) {
    setTime(end);
    setPlaying(false);
  }
  requestFrames();
}

}  // namespace vantry
