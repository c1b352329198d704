// Draws the lane area (grid, ruler, the three lanes, hover line and playhead) from a plain
// description of what is shown, in lane content coordinates. Only what lies in the asked
// x range is drawn, with the same result as drawing everything.
#pragma once

#include <QRectF>

#include <functional>
#include <optional>

#include "model/clip.h"
#include "timeline/timeline_geometry.h"
#include "timeline/track_block.h"

class QPainter;

namespace vantry::timeline {

// The blocks of a document at one scale; rebuilt when either changes.
struct LaneShapes {
  double pps = 0;
  std::vector<SegmentShape> segments;
  std::vector<ZoomBlock> zoomBlocks;
  std::vector<ZoomShape> zooms;
  std::vector<PresenterShape> presenters;
};
LaneShapes laneShapes(const Clip& clip, double pps);

struct ZoomDrag {
  Uuid id;
  double dx = 0;
};
struct ZoomTrim {
  Uuid id;
  bool leading = true;
  double dx = 0;
};

struct LaneScene {
  const LaneShapes* shapes = nullptr;
  double width = 0;     // content width W
  double duration = 0;  // edited duration
  double time = 0;      // playhead
  double defaultAmount = 2.0;
  std::optional<Uuid> selectedSegment;
  std::optional<Uuid> selectedZoom;
  std::optional<PresenterBlock::ID> selectedPresenter;
  std::optional<Ghost> ghost;
  std::optional<double> hoverX;
  std::optional<ZoomDrag> drag;
  std::optional<ZoomTrim> trim;
  bool playhead = true;  // false: everything but the playhead
  // Hover and selection fades of each block; without it the look follows the selection.
  std::function<BlockLook(Row, std::size_t)> look;
};

// A zoom block where it is drawn now: offset by a move, resized by a trim.
Rect liveZoomRect(const LaneScene& scene, const ZoomShape& shape);
// The playhead's strip (with its glow) around x, in content coordinates.
QRectF playheadStrip(double x);

void paintLanes(QPainter& painter, const LaneScene& scene, double from, double to);
// The playhead alone, over lanes drawn without it.
void paintLanePlayhead(QPainter& painter, const LaneScene& scene, double from, double to);

// Pieces shared with the header column.
void paintLaneBackground(QPainter& painter, const QRectF& rect);

}  // namespace vantry::timeline
