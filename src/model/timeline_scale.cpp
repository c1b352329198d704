#include "model/timeline_scale.h"

#include <span>

namespace vantry::TimelineScale {

namespace {

constexpr double kMinorSteps[] = {1.0 / 60, 1.0 / 30, 0.1, 0.2, 0.25, 0.5, 1,
                                  2,        5,        10,  30,  60,   120, 300};
constexpr double kMajorSteps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 30, 60, 120, 300, 600};

double firstWideEnough(std::span<const double> steps, double pixelsPerSecond, double minimum,
                       double fallback) {
  for (double step : steps) {
    if (pixelsPerSecond * step >= minimum) return step;
  }
  return fallback;
}

}  // namespace

double minorStep(double pixelsPerSecond) {
  return firstWideEnough(kMinorSteps, pixelsPerSecond, 12, 600);
}

double majorStep(double pixelsPerSecond) {
  return firstWideEnough(kMajorSteps, pixelsPerSecond, 65, 1800);
}

}  // namespace vantry::TimelineScale
