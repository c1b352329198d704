// The one colour space of every picture: sRGB, 8 bits per channel. Pictures are
// QImage::Format_ARGB32_Premultiplied (B, G, R, A in memory) tagged as sRGB.
#pragma once

#include <QColor>
#include <QColorSpace>
#include <cstdint>

namespace vantry {

struct VideoColor {
  // The shared sRGB colour space.
  static const QColorSpace& space();
  // An sRGB colour from 0xRRGGBB; bits above the low 24 are ignored.
  static QColor fromHex(uint32_t hex, double alpha = 1.0);
};

}  // namespace vantry
