#include "model/motion_engine.h"

#include <algorithm>
#include <cmath>

namespace vantry::motion {

namespace {

// Larger magnifications make no picture anyone could use, and near the top of the
// double range the spring step itself overflows.
constexpr double kMaxAmount = 1e6;

double clampedSmoothness(double smoothness) {
  if (std::isnan(smoothness)) return EditSettings{}.smoothness;
  return std::clamp(smoothness, 0.0, 1.0);
}

}  // namespace

double zoomFrequency(double smoothness) {
  return 18 - 10 * clampedSmoothness(smoothness);
}

double panFrequency(double smoothness) {
  return 18 - 8 * clampedSmoothness(smoothness);
}

std::optional<double> usableAmount(std::optional<double> amount) {
  if (!amount || !std::isfinite(*amount)) return std::nullopt;
  return std::clamp(*amount, -kMaxAmount, kMaxAmount);
}

double settingsAmount(const EditSettings& settings) {
  return usableAmount(settings.zoomAmount).value_or(EditSettings{}.zoomAmount);
}

double panTarget(double position) {
  return std::clamp(2 * (position - 0.5), -0.5, 0.5);
}

FrameState frameFor(double zoomValue, double panX, double panY, Point pointer, double pulse) {
  const double z = std::max(zoomValue, 1.0);
  const double k = 1 - 1 / z;
  FrameState state;
  state.zoom = z;
  state.center = {0.5 + k * std::clamp(panX, -0.5, 0.5), 0.5 + k * std::clamp(panY, -0.5, 0.5)};
  state.pointer = pointer;
  state.pulse = pulse;
  state.presenterMix = 0;
  return state;
}

}  // namespace vantry::motion

namespace vantry {

FrameState MotionEngine::advance(Point pointer, Point focus, bool active, double pulse,
                                 const EditSettings& settings, double dt,
                                 std::optional<double> amount) {
  if (!initialized) {
    pointerX.value = pointer.x;
    pointerY.value = pointer.y;
    initialized = true;
  }
  if (dt > 0) {
    pointerX.advance(pointer.x, motion::kPointerFrequency, dt);
    pointerY.advance(pointer.y, motion::kPointerFrequency, dt);
  }

  double zoomTarget = 1;
  if (active) {
    zoomTarget = motion::usableAmount(amount).value_or(motion::settingsAmount(settings));
  }
  zoom.advance(zoomTarget, motion::zoomFrequency(settings.smoothness), dt);

  const Point source = settings.follow ? Point{pointerX.value, pointerY.value} : focus;
  const double targetX = active ? motion::panTarget(source.x) : 0;
  const double targetY = active ? motion::panTarget(source.y) : 0;
  const double wp = motion::panFrequency(settings.smoothness);
  panX.advance(targetX, wp, dt);
  panY.advance(targetY, wp, dt);

  return motion::frameFor(zoom.value, panX.value, panY.value, {pointerX.value, pointerY.value},
                          pulse);
}

}  // namespace vantry
