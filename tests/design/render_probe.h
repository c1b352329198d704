#pragma once

// Helpers for pixel probes: a control placed on the ambient ground (which also paints its
// shadows), grabbed at device scale 1.

#include <QApplication>
#include <QImage>
#include <QVBoxLayout>
#include <QWidget>

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

}  // namespace vantry
