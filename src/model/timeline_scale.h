// The timeline editor's horizontal scale and the spacing of its ruler ticks.
#pragma once

namespace vantry::TimelineScale {

inline constexpr double defaultZoom = 7;

// Points per second of output time.
constexpr double pixelsPerSecond(double zoom) {
  return zoom * 8;
}

// Seconds between minor ticks: the first candidate at least 12 points wide.
double minorStep(double pixelsPerSecond);
// Seconds between labelled major ticks: the first candidate at least 65 points wide.
double majorStep(double pixelsPerSecond);

}  // namespace vantry::TimelineScale
