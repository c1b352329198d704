#include "model/camera_layout.h"

#include <algorithm>
#include <cmath>

namespace vantry {

namespace {

constexpr double kEdgeMargin = 16;
constexpr double kCornerGap = 22;
constexpr double kSmallestShrink = 0.6;
constexpr double kHeightPerWidth = 1.06;

}  // namespace

Point CameraLayout::clampedCenter(Point center, Size size) {
  const double w = size.width;
  const double h = size.height;
  // The upper bound first: a box too large for the canvas ends against the left or top.
  const double x =
      std::max(std::min(center.x, canvas.width - w / 2 - kEdgeMargin), w / 2 + kEdgeMargin);
  const double y =
      std::max(std::min(center.y, canvas.height - h / 2 - kEdgeMargin), h / 2 + kEdgeMargin);
  return {x, y};
}

Rect CameraLayout::rect(const EditSettings& settings, double zoom, double presenterMix) {
  // A zoom below 1 (or not a number) counts as 1.
  const double z = zoom > 1 ? zoom : 1;
  // A bubble wider than the canvas means nothing; a hand-edited size near the top of the
  // double range would otherwise make the rectangle infinite and its origin NaN.
  const double cameraSize = std::clamp(settings.cameraSize, 0.0, 1.0);
  const double w = std::max(1 / std::sqrt(z), kSmallestShrink) * cameraSize * canvas.width;
  const double h = kHeightPerWidth * w;
  const double m = settings.usablePadding() * canvas.width + kCornerGap;

  Point center;
  switch (settings.corner) {
    case CameraCorner::bottomRight:
      center = {canvas.width - m - w / 2, canvas.height - m - h / 2};
      break;
    case CameraCorner::bottomLeft:
      center = {m + w / 2, canvas.height - m - h / 2};
      break;
    case CameraCorner::topRight:
      center = {canvas.width - m - w / 2, m + h / 2};
      break;
    case CameraCorner::topLeft:
      center = {m + w / 2, m + h / 2};
      break;
  }
  if (settings.cameraPosition) {
    center = {settings.cameraPosition->x * canvas.width,
              settings.cameraPosition->y * canvas.height};
  }
  center = clampedCenter(center, {w, h});
  const double bx = center.x - w / 2;
  const double by = center.y - h / 2;

  // A negative (or not-a-number) mix counts as 0, above 1 as 1.
  const double p = presenterMix > 0 ? std::min(presenterMix, 1.0) : 0;
  return {bx * (1 - p), by * (1 - p), w + p * (canvas.width - w), h + p * (canvas.height - h)};
}

Point CameraLayout::draggedPosition(Point start, Point delta, const EditSettings& settings) {
  const Size size = rect(settings, 1, 0).size();
  const Point center = clampedCenter({start.x + delta.x, start.y + delta.y}, size);
  return {center.x / canvas.width, center.y / canvas.height};
}

}  // namespace vantry
