// The demonstration pictures (a made-up workspace application and a drawn presenter)
// and the pointer arrow. All drawing uses top-left origin, y downward.
#pragma once

#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QRectF>
#include <cstdint>
#include <optional>
#include <string>

namespace vantry {

// 1600 x 900 demonstration screen; texts in the interface language of the moment.
std::optional<QImage> drawDemoScreen();
// 480 x 520 demonstration presenter.
std::optional<QImage> drawDemoCamera();
// The pointer arrow with its tip at `tip`, scaled uniformly.
void drawCursor(QPainter& painter, QPointF tip, double scale);
// A filled rounded rectangle in an opaque sRGB colour.
void round(QPainter& painter, const QRectF& rect, double radius, uint32_t hex);
// Text wrapped into a rectangle with the interface font.
void text(QPainter& painter, const std::string& string, const QRectF& rect, double size,
          uint32_t hex, QFont::Weight weight = QFont::Normal, Qt::Alignment align = Qt::AlignLeft);

class FrameRenderer {
 public:
  FrameRenderer();

  const int width = 1920;
  const int height = 1080;
  const std::optional<QImage>& demoScreen() const { return demoScreen_; }
  const std::optional<QImage>& demoCamera() const { return demoCamera_; }

 private:
  std::optional<QImage> demoScreen_;
  std::optional<QImage> demoCamera_;
};

}  // namespace vantry
