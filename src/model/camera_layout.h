// Where the camera picture stands on the composition canvas: a bubble in a corner (or
// where the user dragged it), growing to the whole canvas for full-screen stretches.
// Canvas coordinates: 1920 x 1080, origin top left, y downward.
#pragma once

#include "model/clip.h"
#include "model/point.h"

namespace vantry {

struct Size {
  double width = 0;
  double height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  Point origin() const { return {x, y}; }
  Size size() const { return {width, height}; }
  Point center() const { return {x + width / 2, y + height / 2}; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct CameraLayout {
  CameraLayout() = delete;

  static constexpr Size canvas{1920, 1080};

  // The camera rectangle for the current zoom (the bubble shrinks as the screen zooms
  // in) and presenter mix (0 = bubble, 1 = the whole canvas).
  static Rect rect(const EditSettings& settings, double zoom, double presenterMix);
  // The centre moved so that a box of that size keeps a 16-point margin to every edge.
  static Point clampedCenter(Point center, Size size);
  // The normalised camera position after dragging the bubble from `start` by `delta`
  // (canvas points), always clamped with the unzoomed bubble.
  static Point draggedPosition(Point start, Point delta, const EditSettings& settings);
};

}  // namespace vantry
