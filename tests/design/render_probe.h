#pragma once

// Helpers for pixel probes: a control placed on the ambient ground (which also paints its
// shadows), grabbed at device scale 1.

#include <QApplication>
#include <QImage>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>

#include "design/chrome.h"

namespace vantry {

// Puts `control` at (20, 20) on an ambient ground with room around it; the ground owns it.
inline QWidget* probeHost(QWidget* control, QSize size = {}) {
  auto* ground = new AmbientBackground;
  ground->setAttribute(Qt::WA_DontShowOnScreen);
  control->setParent(ground);
  control->move(20, 20);
  const QSize s = control->size().isEmpty() ? control->sizeHint() : control->size();
  control->resize(s);
  ground->resize(size.isEmpty() ? s + QSize(40, 40) : size);
  ground->show();
  control->show();
  QCoreApplication::processEvents();
  return ground;
}

inline QImage grabOnGround(QWidget* host) {
  return host->grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// The ground's own colour at a point, for comparisons.
inline QRgb groundAt(QWidget* host, QPoint p) {
  return AmbientBackground::drawGround(host->size()).pixel(p);
}

// Contrast of two opaque colours as WCAG computes it, from 1 (none) to 21.
inline double contrastRatio(const QColor& a, const QColor& b) {
  const auto luminance = [](const QColor& c) {
    const auto linear = [](double v) {
      return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A control's focus ring as a person sees it, measured on each side of `ring` (control
// coordinates) at a quarter of its length: `band` is the widest run of pixels, from the edge
// inward, that lighting the control changed by 3:1 or more; `outside` is how much the ring's
// edge stands out from the pixel just outside it. Each is the least of the four sides.
struct RingMeasure {
  bool lit = false;  // the platform gave the control the focus
  int band = 1000;
  double outside = 1000;
};

inline RingMeasure measureFocusRing(QWidget* host, QWidget* control, QRect ring) {
  const QImage before = grabOnGround(host);
  QApplication::setActiveWindow(host);
  control->setFocus(Qt::TabFocusReason);
  QCoreApplication::processEvents();
  RingMeasure m;
  m.lit = control->hasFocus();
  const QImage after = grabOnGround(host);
  control->clearFocus();
  const QRect r = ring.translated(control->mapTo(host, QPoint(0, 0)));
  const int x = r.left() + r.width() / 4, y = r.center().y();
  const std::pair<QPoint, QPoint> sides[] = {{{x, r.top()}, {0, 1}},
                                             {{x, r.bottom()}, {0, -1}},
                                             {{r.left(), y}, {1, 0}},
                                             {{r.right(), y}, {-1, 0}}};
  for (const auto& [edge, inward] : sides) {
    int run = 0, widest = 0;
    for (int i = 0; i < 6; ++i) {
      const QPoint p = edge + inward * i;
      run = contrastRatio(after.pixelColor(p), before.pixelColor(p)) >= 3 ? run + 1 : 0;
      widest = std::max(widest, run);
    }
    m.band = std::min(m.band, widest);
    m.outside = std::min(
        m.outside, contrastRatio(after.pixelColor(edge + inward), after.pixelColor(edge - inward)));
  }
  return m;
}

}  // namespace vantry
