#include "timeline/timeline_render.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "design/chrome.h"
#include "design/motion.h"
#include "studio/studio.h"
#include "timeline/lane_headers.h"
#include "timeline/lane_painter.h"
#include "timeline/timeline_geometry.h"
#include "timeline/timeline_toolbar.h"

namespace vantry::timeline {

void arrangeCard(QWidget* card, QWidget* toolbar, QWidget* headers, QWidget* lanes) {
  auto* column = new QVBoxLayout(card);
  column->setContentsMargins(12, 12, 12, 12);
  column->setSpacing(10);
  column->addWidget(toolbar);
  auto* row = new QHBoxLayout;
  row->setSpacing(8);
  row->addWidget(headers, 0, Qt::AlignTop);
  row->addWidget(lanes, 1, Qt::AlignTop);
  column->addLayout(row);
  lanes->setFixedHeight(static_cast<int>(areaHeight));
  GlassStyle style;
  style.radius = 16;
  glass(card, style);
}

namespace {

// The lane area as a still picture of one state.
class StillLanes : public QWidget {
 public:
  StillLanes(const Clip& clip, const CardState& state) : clip_(clip), state_(state) {
    settings_ = clip.savedSettings.value_or(EditSettings{});
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    const double pps = TimelineScale::pixelsPerSecond(clampZoom(state_.zoom));
    const double duration = clip_.editedDuration();
    const LaneShapes shapes = laneShapes(clip_, pps);
    LaneScene scene;
    scene.shapes = &shapes;
    scene.width = contentWidth(width(), pps, duration);
    scene.duration = duration;
    scene.time = state_.time;
    scene.defaultAmount = settings_.zoomAmount;
    const auto pick = [](const auto& list, std::optional<int> index) {
      return index && *index >= 0 && *index < static_cast<int>(list.size()) ? &list[*index]
                                                                            : nullptr;
    };
    if (const auto* s = pick(shapes.segments, state_.selectedSegment))
      scene.selectedSegment = s->id;
    if (const auto* z = pick(shapes.zooms, state_.selectedZoom))
      scene.selectedZoom = z->block.id.eventID;
    if (const auto* b = pick(shapes.presenters, state_.selectedPresenter))
      scene.selectedPresenter = b->block.id;
    if (state_.ghost)
      scene.ghost = ghostAt(*state_.ghost, shapes.zoomBlocks, duration, pps, Studio::newZoomLength);
    scene.hoverX = state_.hoverX;
    QPainter p(this);
    p.translate(contentPadding - state_.scroll, 0);
    paintLanes(p, scene, state_.scroll - contentPadding, state_.scroll + width());
  }

 private:
  const Clip& clip_;
  CardState state_;
  EditSettings settings_;
};

}  // namespace

std::vector<CardShot> cardShots(const Clip& clip) {
  const double duration = clip.editedDuration();
  const std::vector<ZoomBlock> blocks = clip.zoomBlocks();
  std::optional<double> free;
  for (double t = 0.5; t < duration && !free; t += 0.25) {
    if (ghostAt(t, blocks, duration, TimelineScale::pixelsPerSecond(TimelineScale::defaultZoom),
                Studio::newZoomLength))
      free = t;
  }
  std::vector<CardShot> shots;
  CardState segment;
  segment.selectedSegment = 0;
  segment.time = 0;
  shots.push_back({"selected-segment", segment});
  CardState zoom;
  zoom.selectedZoom = 0;
  if (!blocks.empty()) zoom.time = blocks[0].outputStart;
  shots.push_back({"selected-zoom", zoom});
  CardState ghost;
  ghost.ghost = free.value_or(duration);
  ghost.hoverX = TimelineScale::pixelsPerSecond(ghost.zoom) * *ghost.ghost;
  shots.push_back({"zoom-ghost", ghost});
  CardState presenter;
  presenter.selectedPresenter = 0;
  presenter.time = 0.5;
  shots.push_back({"selected-presenter", presenter});
  return shots;
}

QImage renderCard(const Clip& clip, const CardState& state, double width, double scale) {
  const bool frozen = animationsFrozen();
  setAnimationsFrozen(true);
  QWidget ground;
  ground.setAttribute(Qt::WA_DontShowOnScreen);
  auto* ambient = new AmbientBackground(&ground);
  auto* card = new QWidget(&ground);
  auto* toolbar = new TimelineToolbar;
  toolbar->showZoom(state.zoom);
  const bool segmentSelected = state.selectedSegment.has_value();
  toolbar->showStates(segmentSelected && clip.ranges().size() >= 2, state.selectedZoom.has_value(),
                      state.canUndo, state.canRedo);
  arrangeCard(card, toolbar, new LaneHeaders, new StillLanes(clip, state));
  const int w = static_cast<int>(width);
  card->setFixedWidth(w);
  card->adjustSize();
  const int margin = 24;
  ground.resize(w + 2 * margin, card->height() + 2 * margin);
  ambient->resize(ground.size());
  card->move(margin, margin);
  ground.show();
  QCoreApplication::processEvents();
  QImage image(ground.size() * scale, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(Qt::black);
  ground.render(&image);
  setAnimationsFrozen(frozen);
  return image;
}

}  // namespace vantry::timeline
