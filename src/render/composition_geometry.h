// The layout rules shared by the preview and the export compositor, on the 1920 x 1080
// canvas (origin top left, y downward).
#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>
#include <array>
#include <cstdint>

#include "model/clip.h"
#include "model/point.h"

namespace vantry {

struct FrameState;

struct CompositionGeometry {
  static constexpr double canvasWidth = 1920;
  static constexpr double canvasHeight = 1080;
  static QRectF canvas() { return {0, 0, canvasWidth, canvasHeight}; }

  static constexpr std::array<std::array<uint32_t, 3>, 3> palettes{{
      {0x234D69, 0x8179B6, 0xD5ABBE},
      {0x163D42, 0x4E8F84, 0xC1D6BF},
      {0x212A44, 0x3A4C75, 0x8C9CB8},
  }};

  static bool fullBleed(const EditSettings& settings) { return settings.usablePadding() < 0.0005; }
  // The whole screen picture at zoom 1 for a width-to-height ratio.
  static QRectF screenRect(double ratio, const EditSettings& settings);
  // The visible card: the rectangle cut to the canvas.
  static QRectF screenClip(const QRectF& rect) { return rect.intersected(canvas()); }
  static double screenRadius(const EditSettings& settings);
  // Where the whole screen picture is drawn so that `center` lands on the middle of the
  // rectangle, magnified `zoom` times.
  static QRectF sourceRect(const QRectF& rect, double zoom, Point center);
  static QRectF sourceRect(const QRectF& rect, const FrameState& state);
  // The palette of an index: index mod 3, negatives count as 0.
  static const std::array<uint32_t, 3>& palette(int64_t index);
  // The background gradient at 1920 x 1080, or at any other size (the export draws it
  // straight at the output resolution).
  static QImage background(int64_t index, QSize size = QSize(1920, 1080));
};

}  // namespace vantry
