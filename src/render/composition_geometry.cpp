#include "render/composition_geometry.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

#include "model/frame_state.h"
#include "render/video_color.h"

namespace vantry {

QRectF CompositionGeometry::screenRect(double ratio, const EditSettings& settings) {
  const double p = settings.usablePadding() * canvasWidth;
  const QRectF inner = canvas().adjusted(p, p, -p, -p);
  double w = 0, h = 0;
  if (!fullBleed(settings)) {
    w = std::min(inner.width(), inner.height() * ratio);
    h = std::min(inner.height(), inner.width() / ratio);
  } else {
    w = std::max(inner.width(), inner.height() * ratio);
    h = std::max(inner.height(), inner.width() / ratio);
  }
  const QPointF c = inner.center();
  return {c.x() - w / 2, c.y() - h / 2, w, h};
}

double CompositionGeometry::screenRadius(const EditSettings& settings) {
  if (fullBleed(settings)) return 0;
  return std::min(settings.usablePadding() * canvasWidth * 0.7, 20.0);
}

QRectF CompositionGeometry::sourceRect(const QRectF& r, double zoom, Point center) {
  const double w = zoom * r.width();
  const double h = zoom * r.height();
  return {r.center().x() - center.x * w, r.center().y() - center.y * h, w, h};
}

QRectF CompositionGeometry::sourceRect(const QRectF& rect, const FrameState& state) {
  return sourceRect(rect, state.zoom, state.center);
}

const std::array<uint32_t, 3>& CompositionGeometry::palette(int64_t index) {
  return palettes[static_cast<size_t>(std::max<int64_t>(index, 0) % 3)];
}

QImage CompositionGeometry::background(int64_t index, QSize size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) return image;
  image.setColorSpace(VideoColor::space());
  const auto& colours = palette(index);
  QLinearGradient gradient(QPointF(0, 0), QPointF(size.width(), size.height()));
  gradient.setColorAt(0, VideoColor::fromHex(colours[0]));
  gradient.setColorAt(0.55, VideoColor::fromHex(colours[1]));
  gradient.setColorAt(1, VideoColor::fromHex(colours[2]));
  QPainter painter(&image);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(image.rect(), gradient);
  return image;
}

}  // namespace vantry
