#include "timeline/track_block.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "design/painting.h"
#include "design/shadow.h"

namespace vantry::timeline {

BlockEdge blockEdge(const BlockLook& look) {
  const double h = std::clamp(look.hover, 0.0, 1.0);
  const double s = std::clamp(look.selection, 0.0, 1.0);
  const double restingAlpha = 0.14 + (0.32 - 0.14) * h;
  BlockEdge edge;
  edge.border = Color(0xFFFFFF, restingAlpha + (1.0 - restingAlpha) * s);
  edge.borderWidth = 1.0 + 0.6 * s;
  edge.sheenOpacity = 0.6 + 0.4 * std::max(h, s);
  edge.glowOpacity = 0.85 * s;
  return edge;
}

void paintTrackBlock(QPainter& painter, const QRectF& rect, const TrackColors& colors,
                     double radius, const BlockLook& look,
                     const std::function<void(QPainter&)>& content) {
  if (rect.isEmpty()) return;
  painter.save();
  if (look.lifted) scaleAbout(painter, rect, kLiftScale);
  const BlockEdge edge = blockEdge(look);
  if (edge.glowOpacity > 0.001)
    paintShadow(painter, rect, radius, {faded(colors[0], edge.glowOpacity), 9, {0, 0}});
  if (look.lifted) paintShadow(painter, rect, radius, {Color(0x000000, 0.5), 8, {0, 4}});

  const QPainterPath shape = continuousRoundedRect(rect, radius);
  QLinearGradient fill(rect.topLeft(), rect.bottomLeft());
  fill.setColorAt(0, colors[0]);
  fill.setColorAt(1, colors[1]);
  painter.setPen(Qt::NoPen);
  painter.setBrush(fill);
  painter.drawPath(shape);

  QLinearGradient sheen(rect.topLeft(), QPointF(rect.left(), rect.center().y()));
  sheen.setColorAt(0, Color(0xFFFFFF, 0.22 * edge.sheenOpacity));
  sheen.setColorAt(1, Color(0xFFFFFF, 0));
  painter.setBrush(sheen);
  painter.drawPath(shape);

  if (content) {
    painter.save();
    // Labels keep a margin from the rounded ends, so the block's rectangle clips them as its
    // outline would, at a fraction of the cost.
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.setPen(Color(0xFFFFFF, 0.95));
    content(painter);
    painter.restore();
  }
  strokeRoundedInside(painter, rect, radius, edge.border, edge.borderWidth);
  painter.restore();
}

}  // namespace vantry::timeline
