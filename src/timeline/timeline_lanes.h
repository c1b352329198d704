// The timeline's lane area: ruler, video, zoom and presenter lanes in one painted,
// horizontally scrolling surface. Each lane runs its own press state machine; a move or
// trim only previews until the pointer is released, when the lane makes one controller call.
#pragma once

#include <QAbstractScrollArea>
#include <QPointF>

#include <QImage>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/clip.h"
#include "timeline/lane_painter.h"
#include "timeline/timeline_geometry.h"

class QMenu;
class QTimer;

namespace vantry {

class Animated;
class Studio;

namespace timeline {

class TimelineLanes : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TimelineLanes(Studio& studio, QWidget* parent = nullptr);
  ~TimelineLanes() override;

  Studio& studio() const { return studio_; }
  double pointsPerSecond() const { return shapes_.pps; }
  double contentWidth() const { return width_; }
  // Points scrolled from the content's leading edge.
  double scrollOffset() const;
  void scrollTo(double offset);
  // Lane content x of a viewport x, and back.
  double contentX(double viewportX) const;
  double viewportX(double contentX) const;
  // The viewport point at content x in the middle of a row (for tests and accessibility).
  QPointF pointAt(double contentX, Row row) const;

  // What is drawn now: the blocks, the ghost, the hover line, the move and trim previews.
  const LaneShapes& shapes() const { return shapes_; }
  std::optional<double> ghostTime() const { return ghost_; }
  std::optional<double> hoverX() const { return hoverX_; }
  const std::optional<ZoomDrag>& zoomDrag() const { return drag_; }
  const std::optional<ZoomTrim>& zoomTrim() const { return trim_; }
  LaneScene scene() const;

  // Sets the timeline zoom (clamped to 1...32) keeping the time under viewport x in place.
  void zoomAround(double zoom, double viewportX);

  // The context menu of zoom block `index` (the caller owns it).
  QMenu* zoomMenu(std::size_t index);

  // Repaints the viewport strips of the old and new playhead (on timeChanged).
  void playheadMoved();
  // Re-reads the controller after a published change.
  void sync();
  // Draws what the lanes show now into a picture ahead of a paint, which then only copies
  // it (a window paints its views in a turn of the event loop of its own); true when it
  // drew.
  bool prepare();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool viewportEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  enum class PressKind { none, scrub, segment, zoomLane, zoomBlock, trim, presenterBlock };
  struct Press {
    PressKind kind = PressKind::none;
    double startX = 0;  // content x at the press
    double startY = 0;
    std::size_t index = 0;  // the block pressed
    Uuid eventID;
    bool leading = false;
    bool active = false;    // moved past the threshold
    bool scrubbed = false;  // zoom lane: once scrubbed, never adds
  };
  struct Hit {
    std::optional<Row> row;
    std::optional<std::size_t> block;
    std::optional<bool> handleLeading;  // a trim handle of the selected zoom
  };

  Hit hitTest(QPointF viewportPos) const;
  void pressMoved(QPointF viewportPos);
  void pressEnded(QPointF viewportPos);
  void hoverAt(std::optional<QPointF> viewportPos);
  void updateCursor(const Hit& hit);
  void relayout();
  void rebuildShapes();
  bool documentChanged() const;
  void updateFades();
  void fade(std::unordered_map<std::string, Animated*>& fades, const std::string& key,
            double target, double seconds);
  double fadeValue(const std::unordered_map<std::string, Animated*>& fades, const std::string& key,
                   double fallback) const;
  std::string keyOf(Row row, std::size_t index) const;
  // What the lanes draw of the controller besides the document and the playhead.
  struct Shown {
    std::optional<Uuid> segment;
    std::optional<Uuid> zoom;
    std::optional<PresenterBlock::ID> presenter;
    double defaultAmount = 0;
    friend bool operator==(const Shown&, const Shown&) = default;
  };
  Shown shownState() const;
  bool selectedBlock(Row row, std::size_t index) const;
  // Everything a paint of the lanes depends on but the playhead: a picture drawn for an equal
  // key is what a paint would draw under it.
  struct PictureKey {
    QSize size;
    double scale = 1;
    double scroll = 0;
    std::uint64_t shapes = 0;
    double width = 0;
    int language = 0;
    Shown shown;
    std::optional<double> ghost;
    std::optional<double> hoverX;
    std::optional<std::pair<Uuid, double>> drag;
    std::optional<std::tuple<Uuid, bool, double>> trim;
    std::vector<std::pair<std::string, double>> fades;
    friend bool operator==(const PictureKey&, const PictureKey&) = default;
  };
  PictureKey pictureKey() const;
  void paintScene(QPainter& painter, const QRect& area, bool playhead = true) const;
  void endWheelZoom();
  std::optional<QString> toolTipAt(QPointF viewportPos) const;

  Studio& studio_;
  Clip shownClip_;  // the document the shapes were built from
  LaneShapes shapes_;
  double width_ = 0;
  double duration_ = 0;
  double lastPlayheadX_ = -1;
  Shown shown_;
  std::uint64_t shapesBuilt_ = 0;  // counts the shapes built, for the picture's key
  QImage picture_;
  std::optional<PictureKey> pictureKey_;
  std::optional<double> anchorViewportX_;  // where the next zoom change stays in place

  Press press_;
  std::optional<double> ghost_;
  std::optional<double> hoverX_;
  std::optional<ZoomDrag> drag_;
  std::optional<ZoomTrim> trim_;

  std::optional<double> pinchBase_;
  double pinchScale_ = 1;
  std::optional<double> wheelBase_;
  double wheelSteps_ = 0;
  double wheelZoomSet_ = 0;
  QTimer* wheelIdle_;

  std::string hovered_;
  std::unordered_map<std::string, Animated*> hoverFades_;
  std::unordered_map<std::string, Animated*> selectionFades_;
};

}  // namespace timeline
}  // namespace vantry
