#include "design/theme.h"

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

}  // namespace vantry::Theme
