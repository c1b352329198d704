#include "render/video_color.h"

#include <algorithm>

namespace vantry {

const QColorSpace& VideoColor::space() {
  static const QColorSpace srgb(QColorSpace::SRgb);
  return srgb;
}

QColor VideoColor::fromHex(uint32_t hex, double alpha) {
  return QColor::fromRgbF(static_cast<float>(((hex >> 16) & 0xFF) / 255.0),
                          static_cast<float>(((hex >> 8) & 0xFF) / 255.0),
                          static_cast<float>((hex & 0xFF) / 255.0),
                          static_cast<float>(std::clamp(alpha, 0.0, 1.0)));
}

}  // namespace vantry
