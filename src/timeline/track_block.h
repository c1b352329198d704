// The one block shape of the timeline: a gradient bar with a sheen, a border that reports
// hover and selection, a glow in its top colour when selected and a raised look while it is
// dragged. The lanes place it and draw its label row.
#pragma once

#include <QRectF>

#include <functional>

#include "design/theme.h"

class QPainter;

namespace vantry::timeline {

// Where the block is on its way between states: 0 = not hovered / not selected, 1 = fully.
struct BlockLook {
  double hover = 0;
  double selection = 0;
  bool lifted = false;
};

inline constexpr double kHoverFade = 0.12;
inline constexpr double kSelectionFade = 0.15;
inline constexpr double kLiftScale = 1.03;

// Paints the block into `rect` (the glow and lift shadow reach beyond it); `content` draws
// the label row, clipped to the block, with the painter's pen set to the label colour.
void paintTrackBlock(QPainter& painter, const QRectF& rect, const TrackColors& colors,
                     double radius, const BlockLook& look,
                     const std::function<void(QPainter&)>& content = {});

// What the block's edge looks like in a state (for tests and the painter alike).
struct BlockEdge {
  QColor border;
  double borderWidth;
  double sheenOpacity;
  double glowOpacity;
};
BlockEdge blockEdge(const BlockLook& look);

}  // namespace vantry::timeline
