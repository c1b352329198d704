#include "design/theme.h"

#include <cmath>

namespace vantry::Theme {

const QFont& mono() {
  static const QFont font = [] {
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f.setPixelSize(11);
    f.setWeight(QFont::Medium);
    return f;
  }();
  return font;
}

QFont mono(double pixels, QFont::Weight weight) {
  QFont f = mono();
  f.setPixelSize(static_cast<int>(std::lround(pixels)));
  f.setWeight(weight);
  return f;
}

}  // namespace vantry::Theme
