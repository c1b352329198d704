#include "timeline/timeline_lanes.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "design/icons.h"
#include "design/menus.h"
#include "design/motion.h"
#include "design/number_text.h"
#include "design/painting.h"
#include "design/theme.h"
#include "localization/localization.h"
#include "localization/qt/qt_text.h"
#include "model/timeline_scale.h"
#include "studio/studio.h"
#include "timeline/timeline_accessibility.h"

namespace vantry::timeline {

namespace {

// The block of a lane whose rectangle holds content x (shapes ascend and never overlap).
template <typename Shape>
std::optional<std::size_t> blockAt(const std::vector<Shape>& shapes, double x) {
  const auto it = std::partition_point(shapes.begin(), shapes.end(),
                                       [&](const Shape& s) { return s.rect.right() <= x; });
  if (it == shapes.end() || !it->rect.contains(x)) return std::nullopt;
  return static_cast<std::size_t>(it - shapes.begin());
}

QString zoomHelp() {
  return QL("左键选中；拖动可改变缩放位置；拖动两端可调整时长；右键设置缩放倍数");
}

QString presenterHelp() {
  return QL("选中整段，再点击上方人物布局按钮修改；点刻度可返回播放头编辑");
}

}  // namespace

TimelineLanes::TimelineLanes(Studio& studio, QWidget* parent)
    : QAbstractScrollArea(parent), studio_(studio), shownClip_(studio.clip()) {
  setFrameShape(QFrame::NoFrame);
  // Tab reaches it (the arrows scroll it); a click on a block does not light it.
  setFocusPolicy(Qt::TabFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFixedHeight(static_cast<int>(areaHeight));
  viewport()->setAutoFillBackground(false);
  setAutoFillBackground(false);
  viewport()->setMouseTracking(true);
  viewport()->setAttribute(Qt::WA_AcceptTouchEvents, false);
  horizontalScrollBar()->setStyleSheet(QStringLiteral(
      "QScrollBar:horizontal { height: 8px; background: transparent; margin: 0 12px; }"
      "QScrollBar::handle:horizontal { background: rgba(255,255,255,46); border-radius: 4px;"
      " min-width: 24px; }"
      "QScrollBar::add-line, QScrollBar::sub-line { width: 0; }"
      "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }"));
  horizontalScrollBar()->setSingleStep(24);

  wheelIdle_ = new QTimer(this);
  wheelIdle_->setSingleShot(true);
  wheelIdle_->setInterval(300);
  connect(wheelIdle_, &QTimer::timeout, this, [this] { endWheelZoom(); });

  rebuildShapes();
  relayout();
  updateFades();
  lastPlayheadX_ = playheadX(studio_.time(), shapes_.pps, width_);
  installTimelineAccessibility();
}

TimelineLanes::~TimelineLanes() {
  releaseTimelineAccess(this);
}

double TimelineLanes::scrollOffset() const {
  return horizontalScrollBar()->value();
}

void TimelineLanes::scrollTo(double offset) {
  horizontalScrollBar()->setValue(timeline::wholePoints(offset));
}

double TimelineLanes::contentX(double viewportX) const {
  return viewportX - contentPadding + scrollOffset();
}

double TimelineLanes::viewportX(double contentX) const {
  return contentX + contentPadding - scrollOffset();
}

QPointF TimelineLanes::pointAt(double contentX, Row row) const {
  const Span span = rowSpan(row);
  return {viewportX(contentX), span.top + span.height / 2};
}

// --- Document and layout ------------------------------------------------------------------

bool TimelineLanes::documentChanged() const {
  const Clip& c = studio_.clip();
  return c.id != shownClip_.id || c.duration != shownClip_.duration ||
         c.keptRanges != shownClip_.keptRanges || c.presenterEvents != shownClip_.presenterEvents ||
         c.zoomEventsOverride != shownClip_.zoomEventsOverride ||
         !c.samples.sharesStorageWith(shownClip_.samples);
}

void TimelineLanes::rebuildShapes() {
  ++shapesBuilt_;
  shownClip_ = studio_.clip();
  duration_ = shownClip_.editedDuration();
  shapes_ =
      laneShapes(shownClip_, TimelineScale::pixelsPerSecond(clampZoom(studio_.timelineZoom())));
}

void TimelineLanes::relayout() {
  width_ = timeline::contentWidth(width(), shapes_.pps, duration_);
  QScrollBar* bar = horizontalScrollBar();
  bar->setPageStep(std::max(viewport()->width(), 1));
  bar->setRange(0, timeline::scrollRange(width_, viewport()->width()));
}

TimelineLanes::Shown TimelineLanes::shownState() const {
  return {studio_.selectedSegment(), studio_.selectedZoomID(), studio_.selectedPresenterID(),
          studio_.settings().zoomAmount};
}

void TimelineLanes::sync() {
  const double pps = TimelineScale::pixelsPerSecond(clampZoom(studio_.timelineZoom()));
  const bool rescaled = pps != shapes_.pps;
  const bool rebuilt = rescaled || documentChanged();
  if (rebuilt) {
    // The time under the anchor (the pointer of a pinch, else the middle) stays in place.
    const double anchor = anchorViewportX_.value_or(viewport()->width() / 2.0);
    const double t = shapes_.pps > 0 ? contentX(anchor) / shapes_.pps : 0;
    rebuildShapes();
    relayout();
    if (rescaled) scrollTo(t * shapes_.pps - anchor + contentPadding);
  }
  anchorViewportX_.reset();
  updateFades();
  // A block that vanished (undo, delete) takes its preview with it.
  bool previewGone = false;
  if (drag_ && !eventSpan(shapes_.zoomBlocks, drag_->id)) {
    drag_.reset();
    previewGone = true;
  }
  if (trim_ && !eventSpan(shapes_.zoomBlocks, trim_->id)) {
    trim_.reset();
    previewGone = true;
  }
  // Most published changes show nothing here (a notice, the busy state, the export's
  // progress): the lanes repaint only for what they draw. The playhead follows on its own.
  const Shown shown = shownState();
  if (!rebuilt && !previewGone && shown == shown_) return;
  shown_ = shown;
  lastPlayheadX_ = playheadX(studio_.time(), shapes_.pps, width_);
  viewport()->update();
}

void TimelineLanes::zoomAround(double zoom, double viewportX) {
  anchorViewportX_ = viewportX;
  studio_.setTimelineZoom(clampZoom(zoom));
  // The view follows through changed(); when nothing observes it (or the value was the
  // same), make sure the anchor does not linger.
  sync();
}

void TimelineLanes::playheadMoved() {
  const double x = playheadX(studio_.time(), shapes_.pps, width_);
  if (x == lastPlayheadX_) return;
  for (double at : {lastPlayheadX_, x}) {
    const QRectF strip = playheadStrip(at);
    viewport()->update(QRectF(viewportX(strip.left()), strip.top(), strip.width(), strip.height())
                           .toAlignedRect());
  }
  lastPlayheadX_ = x;
}

void TimelineLanes::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  relayout();
}

void TimelineLanes::scrollContentsBy(int, int) {
  viewport()->update();
}

void TimelineLanes::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::EnabledChange && !isEnabled()) {
    press_ = {};
    drag_.reset();
    trim_.reset();
    ghost_.reset();
    viewport()->update();
  }
}

// --- Fades ---------------------------------------------------------------------------------

std::string TimelineLanes::keyOf(Row row, std::size_t index) const {
  switch (row) {
    case Row::video:
      return "v" + shapes_.segments[index].id.toString();
    case Row::zoom: {
      const ZoomBlock& b = shapes_.zooms[index].block;
      return "z" + b.id.eventID.toString() + b.id.rangeID.toString() +
             std::to_string(b.id.sourceStart);
    }
    case Row::presenter: {
      const PresenterBlock& b = shapes_.presenters[index].block;
      return "p" + b.id.rangeID.toString() + std::to_string(b.id.sourceStart);
    }
    case Row::ruler:
      break;
  }
  return {};
}

bool TimelineLanes::selectedBlock(Row row, std::size_t index) const {
  switch (row) {
    case Row::video:
      return studio_.selectedSegment() == shapes_.segments[index].id;
    case Row::zoom:
      return studio_.selectedZoomID() == shapes_.zooms[index].block.id.eventID;
    case Row::presenter:
      return studio_.selectedPresenterID() == shapes_.presenters[index].block.id;
    case Row::ruler:
      break;
  }
  return false;
}

void TimelineLanes::fade(std::unordered_map<std::string, Animated*>& fades, const std::string& key,
                         double target, double seconds) {
  if (key.empty()) return;
  auto it = fades.find(key);
  if (it == fades.end()) {
    if (target == 0) return;  // never shown: nothing to fade out
    auto* a = new Animated(0, this);
    connect(a, &Animated::changed, viewport(), qOverload<>(&QWidget::update));
    it = fades.emplace(key, a).first;
  }
  if (it->second->target() != target) it->second->animateTo(target, Curve::easeOut(seconds));
}

double TimelineLanes::fadeValue(const std::unordered_map<std::string, Animated*>& fades,
                                const std::string& key, double fallback) const {
  const auto it = fades.find(key);
  return it == fades.end() ? fallback : it->second->value();
}

void TimelineLanes::updateFades() {
  // Faded-out entries are dropped; the selection of the moment is faded in.
  for (auto* fades : {&selectionFades_, &hoverFades_}) {
    for (auto it = fades->begin(); it != fades->end();) {
      if (it->second->target() == 0 && !it->second->running() && it->first != hovered_) {
        it->second->deleteLater();
        it = fades->erase(it);
      } else {
        ++it;
      }
    }
  }
  std::unordered_map<std::string, bool> wanted;
  for (auto& [key, a] : selectionFades_)
    wanted[key] = false;
  for (Row row : {Row::video, Row::zoom, Row::presenter}) {
    const std::size_t n = row == Row::video  ? shapes_.segments.size()
                          : row == Row::zoom ? shapes_.zooms.size()
                                             : shapes_.presenters.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (selectedBlock(row, i)) wanted[keyOf(row, i)] = true;
    }
  }
  for (const auto& [key, on] : wanted)
    fade(selectionFades_, key, on ? 1 : 0, kSelectionFade);
}

LaneScene TimelineLanes::scene() const {
  LaneScene s;
  s.shapes = &shapes_;
  s.width = width_;
  s.duration = duration_;
  s.time = studio_.time();
  s.defaultAmount = studio_.settings().zoomAmount;
  s.selectedSegment = studio_.selectedSegment();
  s.selectedZoom = studio_.selectedZoomID();
  s.selectedPresenter = studio_.selectedPresenterID();
  if (ghost_)
    s.ghost = ghostAt(*ghost_, shapes_.zoomBlocks, duration_, shapes_.pps, Studio::newZoomLength);
  s.hoverX = hoverX_;
  s.drag = drag_;
  s.trim = trim_;
  s.look = [this](Row row, std::size_t index) {
    const std::string key = keyOf(row, index);
    return BlockLook{fadeValue(hoverFades_, key, 0),
                     fadeValue(selectionFades_, key, selectedBlock(row, index) ? 1 : 0), false};
  };
  return s;
}

TimelineLanes::PictureKey TimelineLanes::pictureKey() const {
  PictureKey key{viewport()->size(),
                 viewport()->devicePixelRatioF(),
                 scrollOffset(),
                 shapesBuilt_,
                 width_,
                 static_cast<int>(AppLanguage::Value(currentLanguage())),
                 shownState(),
                 ghost_,
                 hoverX_};
  if (drag_) key.drag = std::make_pair(drag_->id, drag_->dx);
  if (trim_) key.trim = std::make_tuple(trim_->id, trim_->leading, trim_->dx);
  for (const auto* fades : {&hoverFades_, &selectionFades_}) {
    for (const auto& [name, fade] : *fades)
      key.fades.emplace_back(name, fade->value());
    key.fades.emplace_back(std::string(), -1);  // between the two kinds
  }
  return key;
}

void TimelineLanes::paintScene(QPainter& p, const QRect& area, bool playhead) const {
  p.translate(contentPadding - scrollOffset(), 0);
  LaneScene s = scene();
  s.playhead = playhead;
  paintLanes(p, s, contentX(area.left()), contentX(area.right() + 1));
}

bool TimelineLanes::prepare() {
  if (!viewport()->isVisible() || viewport()->size().isEmpty()) return false;
  PictureKey key = pictureKey();
  // The playhead is not in the picture: while it moves alone (playback) the paint copies
  // its strips and draws it over them.
  if (pictureKey_ == key) return false;
  const double scale = key.scale;
  const QSize pixels(int(std::ceil(key.size.width() * scale)),
                     int(std::ceil(key.size.height() * scale)));
  if (picture_.size() != pixels) picture_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
  picture_.setDevicePixelRatio(scale);
  picture_.fill(Qt::transparent);
  QPainter p(&picture_);
  paintScene(p, viewport()->rect(), false);
  pictureKey_ = std::move(key);
  return true;
}

void TimelineLanes::paintEvent(QPaintEvent* event) {
  QPainter p(viewport());
  const QRect r = event->rect();
  // Drawn ahead for what the lanes show now: copied, with the playhead over it.
  if (pictureKey_ && *pictureKey_ == pictureKey()) {
    const double scale = picture_.devicePixelRatio();
    p.drawImage(r, picture_, QRectF(QPointF(r.topLeft()) * scale, QSizeF(r.size()) * scale));
    LaneScene playhead;
    playhead.shapes = &shapes_;
    playhead.width = width_;
    playhead.time = studio_.time();
    p.save();
    p.translate(contentPadding - scrollOffset(), 0);
    paintLanePlayhead(p, playhead, contentX(r.left()), contentX(r.right() + 1));
    p.restore();
  } else {
    p.save();
    paintScene(p, r);
    p.restore();
  }
  p.setRenderHint(QPainter::Antialiasing);
  paintFocusRing(p, this, QRectF(viewport()->rect()), 6);
}

void TimelineLanes::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TimelineLanes::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

// --- Hit testing and hover -----------------------------------------------------------------

TimelineLanes::Hit TimelineLanes::hitTest(QPointF pos) const {
  Hit hit;
  hit.row = rowAt(pos.y());
  if (!hit.row) return hit;
  const double x = contentX(pos.x());
  switch (*hit.row) {
    case Row::ruler:
      break;
    case Row::video:
      hit.block = blockAt(shapes_.segments, x);
      break;
    case Row::presenter:
      hit.block = blockAt(shapes_.presenters, x);
      break;
    case Row::zoom: {
      const auto& selected = studio_.selectedZoomID();
      if (selected) {
        LaneScene live;
        live.drag = drag_;
        live.trim = trim_;
        for (std::size_t i = 0; i < shapes_.zooms.size(); ++i) {
          const ZoomShape& z = shapes_.zooms[i];
          if (z.block.id.eventID != *selected) continue;
          const Rect r = liveZoomRect(live, z);
          if (z.firstPiece && x >= r.x && x < r.x + trimHandleWidth) {
            hit.block = i;
            hit.handleLeading = true;
          } else if (z.lastPiece && x >= r.right() - trimHandleWidth && x < r.right()) {
            hit.block = i;
            hit.handleLeading = false;
          }
          if (hit.handleLeading) return hit;
        }
      }
      hit.block = blockAt(shapes_.zooms, x);
      break;
    }
  }
  return hit;
}

void TimelineLanes::updateCursor(const Hit& hit) {
  Qt::CursorShape shape = Qt::ArrowCursor;
  if (hit.handleLeading) {
    shape = Qt::SizeHorCursor;
  } else if (hit.block || hit.row == Row::ruler) {
    shape = Qt::PointingHandCursor;
  }
  if (viewport()->cursor().shape() != shape) viewport()->setCursor(shape);
}

void TimelineLanes::hoverAt(std::optional<QPointF> pos) {
  std::string hovered;
  std::optional<double> ghost;
  if (pos) {
    const double x = contentX(pos->x());
    hoverX_ = std::clamp(x, 0.0, width_);
    const Hit hit = hitTest(*pos);
    if (hit.row && hit.block && *hit.row != Row::ruler) hovered = keyOf(*hit.row, *hit.block);
    if (hit.row == Row::zoom && !drag_ && !trim_ && press_.kind == PressKind::none) {
      const double t = x / shapes_.pps;
      if (ghostAt(t, shapes_.zoomBlocks, duration_, shapes_.pps, Studio::newZoomLength)) ghost = t;
    }
    updateCursor(hit);
  } else {
    hoverX_.reset();
  }
  // During a press the lane's own rules decide about the ghost.
  if (press_.kind == PressKind::none || !pos) ghost_ = ghost;
  if (hovered != hovered_) {
    fade(hoverFades_, hovered_, 0, kHoverFade);
    hovered_ = hovered;
    fade(hoverFades_, hovered_, 1, kHoverFade);
  }
  viewport()->update();
}

std::optional<QString> TimelineLanes::toolTipAt(QPointF pos) const {
  const Hit hit = hitTest(pos);
  if (!hit.block) return std::nullopt;
  if (hit.row == Row::zoom) return zoomHelp();
  if (hit.row == Row::presenter) return presenterHelp();
  return std::nullopt;
}

// --- Presses -------------------------------------------------------------------------------

void TimelineLanes::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    event->ignore();
    return;
  }
  const QPointF pos = event->position();
  const Hit hit = hitTest(pos);
  press_ = {};
  press_.startX = contentX(pos.x());
  press_.startY = pos.y();
  const double t = press_.startX / shapes_.pps;
  if (!hit.row) return;
  switch (*hit.row) {
    case Row::ruler:
      press_.kind = PressKind::scrub;
      studio_.seek(t);
      break;
    case Row::video:
      if (hit.block) {
        press_.kind = PressKind::segment;
        press_.index = *hit.block;
      } else {
        press_.kind = PressKind::scrub;
        studio_.seek(t);
      }
      break;
    case Row::presenter:
      if (hit.block) {
        press_.kind = PressKind::presenterBlock;
        press_.index = *hit.block;
      } else {
        press_.kind = PressKind::scrub;
        studio_.seek(t);
      }
      break;
    case Row::zoom:
      if (hit.block) {
        press_.kind = hit.handleLeading ? PressKind::trim : PressKind::zoomBlock;
        press_.index = *hit.block;
        press_.eventID = shapes_.zooms[*hit.block].block.id.eventID;
        press_.leading = hit.handleLeading.value_or(false);
      } else {
        press_.kind = PressKind::zoomLane;
      }
      break;
  }
  event->accept();
}

void TimelineLanes::pressMoved(QPointF pos) {
  const double x = contentX(pos.x());
  const double dx = x - press_.startX;
  const double distance = std::hypot(dx, pos.y() - press_.startY);
  const double pps = shapes_.pps;
  switch (press_.kind) {
    case PressKind::none:
      return;
    case PressKind::scrub:
      studio_.seek(x / pps);
      break;
    case PressKind::segment: {
      if (distance >= segmentDragSlop) press_.active = true;
      if (!press_.active || press_.index >= shapes_.segments.size()) break;
      const SegmentShape s = shapes_.segments[press_.index];
      studio_.setSelectedSegment(s.id);
      studio_.setSelectedZoomID(std::nullopt);
      studio_.seek(s.start + (x - s.rect.x) / pps);
      break;
    }
    case PressKind::zoomLane:
      // Once it scrubs, the press follows the pointer to its end, back near the start too.
      if (press_.scrubbed || std::abs(dx) > laneClickSlop) {
        press_.scrubbed = true;
        ghost_.reset();
        studio_.seek(x / pps);
      }
      break;
    case PressKind::zoomBlock:
      if (distance >= zoomMoveSlop) press_.active = true;
      if (!press_.active) break;
      if (studio_.selectedZoomID() != press_.eventID) studio_.selectZoom(press_.eventID);
      drag_ = ZoomDrag{press_.eventID, dx};
      ghost_.reset();
      break;
    case PressKind::trim:
      if (distance >= trimSlop) press_.active = true;
      if (!press_.active) break;
      trim_ = ZoomTrim{press_.eventID, press_.leading, dx};
      ghost_.reset();
      break;
    case PressKind::presenterBlock:
      if (distance >= segmentDragSlop) press_.active = true;
      break;
  }
  viewport()->update();
}

void TimelineLanes::pressEnded(QPointF pos) {
  const Press press = press_;
  press_ = {};
  const double x = contentX(pos.x());
  const double dx = x - press.startX;
  const double pps = shapes_.pps;
  switch (press.kind) {
    case PressKind::none:
    case PressKind::scrub:
      break;
    case PressKind::segment:
      if (!press.active && press.index < shapes_.segments.size()) {
        const SegmentShape s = shapes_.segments[press.index];
        studio_.setSelectedSegment(s.id);
        studio_.setSelectedZoomID(std::nullopt);
        studio_.seek(s.start);
      }
      break;
    case PressKind::zoomLane:
      // A press that scrubbed never adds, even when it came back to where it started.
      if (!press.scrubbed && std::abs(dx) <= laneClickSlop) {
        ghost_.reset();
        studio_.addZoom(x / pps);
      }
      break;
    case PressKind::zoomBlock:
      if (press.active) {
        drag_.reset();
        if (const auto event = eventSpan(shapes_.zoomBlocks, press.eventID))
          studio_.moveZoom(press.eventID, moveTarget(*event, dx, pps, duration_));
      } else {
        studio_.selectZoom(press.eventID);
      }
      break;
    case PressKind::trim:
      if (press.active) {
        trim_.reset();
        if (const auto event = eventSpan(shapes_.zoomBlocks, press.eventID))
          studio_.resizeZoom(press.eventID, press.leading,
                             trimTarget(*event, press.leading, dx, pps));
      } else {
        studio_.selectZoom(press.eventID);
      }
      break;
    case PressKind::presenterBlock:
      if (!press.active && press.index < shapes_.presenters.size())
        studio_.selectPresenterBlock(shapes_.presenters[press.index].block.id);
      break;
  }
  viewport()->update();
}

void TimelineLanes::mouseMoveEvent(QMouseEvent* event) {
  if (press_.kind != PressKind::none && (event->buttons() & Qt::LeftButton))
    pressMoved(event->position());
  hoverAt(event->position());
}

void TimelineLanes::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || press_.kind == PressKind::none) return;
  // The release's own position counts as the drag's last change.
  pressMoved(event->position());
  pressEnded(event->position());
  hoverAt(event->position());
}

// --- Menu ----------------------------------------------------------------------------------

QMenu* TimelineLanes::zoomMenu(std::size_t index) {
  if (index >= shapes_.zooms.size()) return nullptr;
  const ZoomBlock block = shapes_.zooms[index].block;
  const Uuid e = block.id.eventID;
  QMenu* menu = darkMenu(this);
  addSectionTitle(menu, QL("缩放倍数"));
  const std::optional<int> ticked = tickedMagnification(block.amount);
  for (int i = 0; i < static_cast<int>(std::size(kMagnifications)); ++i) {
    const double v = kMagnifications[i];
    QAction* item = addChoice(menu, magnificationText(v), ticked == i);
    connect(item, &QAction::triggered, this, [this, e, v] { studio_.setZoomAmount(e, v); });
  }
  QAction* follow =
      addChoice(menu,
                QL("跟随默认") + QStringLiteral(" (") +
                    magnificationText(studio_.settings().zoomAmount) + QStringLiteral(")"),
                !block.amount);
  connect(follow, &QAction::triggered, this, [this, e] { studio_.setZoomAmount(e, std::nullopt); });
  menu->addSeparator();
  QAction* remove =
      menu->addAction(menuSymbol(QStringLiteral("trash"), Theme::rec), QL("删除缩放"));
  connect(remove, &QAction::triggered, this, [this, e] {
    studio_.selectZoom(e);
    studio_.removeSelectedZoom();
  });
  return menu;
}

void TimelineLanes::contextMenuEvent(QContextMenuEvent* event) {
  const Hit hit = hitTest(event->pos());
  if (hit.row != Row::zoom || !hit.block) return;
  QMenu* menu = zoomMenu(*hit.block);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

// --- Wheel and pinch -----------------------------------------------------------------------

void TimelineLanes::endWheelZoom() {
  wheelBase_.reset();
  wheelSteps_ = 0;
}

void TimelineLanes::wheelEvent(QWheelEvent* event) {
  const QPoint angle = event->angleDelta();
  if (event->modifiers() & Qt::ControlModifier) {
    // One gesture zooms from the zoom it started at; a change from elsewhere starts anew.
    if (!wheelBase_ || studio_.timelineZoom() != wheelZoomSet_) {
      wheelBase_ = studio_.timelineZoom();
      wheelSteps_ = 0;
    }
    wheelSteps_ += angle.y() != 0 ? angle.y() : angle.x();
    // Turning past either limit is not stored up: turning back zooms at once.
    const double notch = std::log(1.25) / 120;
    wheelSteps_ = std::clamp(wheelSteps_, std::log(minZoom / *wheelBase_) / notch,
                             std::log(maxZoom / *wheelBase_) / notch);
    const double zoom = clampZoom(*wheelBase_ * std::exp(wheelSteps_ * notch));
    zoomAround(zoom, event->position().x());
    wheelZoomSet_ = studio_.timelineZoom();
    if (event->phase() == Qt::ScrollEnd) {
      endWheelZoom();
    } else {
      wheelIdle_->start();
    }
    event->accept();
    return;
  }
  // A plain wheel and Shift+wheel both scroll the timeline sideways.
  const QPoint pixels = event->pixelDelta();
  double delta = 0;
  if (!pixels.isNull()) {
    delta = pixels.x() != 0 ? pixels.x() : pixels.y();
  } else {
    delta = (angle.x() != 0 ? angle.x() : angle.y()) / 120.0 * 48;
  }
  scrollTo(scrollOffset() - delta);
  event->accept();
}

bool TimelineLanes::viewportEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::NativeGesture: {
      auto* g = static_cast<QNativeGestureEvent*>(event);
      switch (g->gestureType()) {
        case Qt::BeginNativeGesture:
          pinchBase_ = studio_.timelineZoom();
          pinchScale_ = 1;
          break;
        case Qt::ZoomNativeGesture:
          if (!pinchBase_) {
            pinchBase_ = studio_.timelineZoom();
            pinchScale_ = 1;
          }
          pinchScale_ *= 1 + g->value();
          zoomAround(*pinchBase_ * pinchScale_, g->position().x());
          break;
        case Qt::EndNativeGesture:
          pinchBase_.reset();
          break;
        default:
          break;
      }
      event->accept();
      return true;
    }
    case QEvent::ToolTip: {
      auto* help = static_cast<QHelpEvent*>(event);
      if (const auto text = toolTipAt(help->pos())) {
        QToolTip::showText(help->globalPos(), *text, viewport());
      } else {
        QToolTip::hideText();
        event->ignore();
      }
      return true;
    }
    case QEvent::Leave:
      hoverAt(std::nullopt);
      viewport()->unsetCursor();
      break;
    default:
      break;
  }
  return QAbstractScrollArea::viewportEvent(event);
}

}  // namespace vantry::timeline
