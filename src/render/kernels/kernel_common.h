// What the kernel families share: coverage as a weight, the source row of an output row,
// the distance to a rounded rectangle and the blend of two bytes. Inline, so that each
// family's loops inline them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "render/kernels/pixel_kernels.h"

namespace vantry::kernels {

inline uint32_t coverageWeight(uint8_t e) {
  return e + (e >> 7);
}  // 0..255 -> 0..256

// The source row above output row y and the weight (0..256) of the one below it.
inline std::pair<int, uint32_t> sourceRow(const Placement& p, int y, int srcH) {
  double v = (y + 0.5 - p.originY) * p.scaleY - 0.5;
  v = std::clamp(v, 0.0, static_cast<double>(srcH - 1));
  const int i = static_cast<int>(v);
  if (i >= srcH - 1) return {srcH - 1, 0};
  return {i, static_cast<uint32_t>(std::lround((v - i) * 256))};
}

// Signed distance from a point to a rounded rectangle (negative inside).
inline double signedDistance(const RoundedRect& r, double px, double py) {
  const double hw = (r.x1 - r.x0) * 0.5, hh = (r.y1 - r.y0) * 0.5;
  const double rad = std::clamp(r.radius, 0.0, std::min(hw, hh));
  const double qx = std::abs(px - (r.x0 + hw)) - (hw - rad);
  const double qy = std::abs(py - (r.y0 + hh)) - (hh - rad);
  const double ox = std::max(qx, 0.0), oy = std::max(qy, 0.0);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - rad;
}

inline uint8_t lerpByte(uint32_t a, uint32_t b, uint32_t w) {
  return static_cast<uint8_t>((a * (256 - w) + b * w) >> 8);
}

}  // namespace vantry::kernels
