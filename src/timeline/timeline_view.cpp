#include "timeline/timeline_view.h"

#include "design/buttons.h"
#include "design/motion.h"
#include "localization/qt/language_settings.h"
#include "studio/studio.h"
#include "timeline/lane_headers.h"
#include "timeline/timeline_geometry.h"
#include "timeline/timeline_lanes.h"
#include "timeline/timeline_render.h"
#include "timeline/timeline_toolbar.h"

namespace vantry {

using namespace timeline;

TimelineView::TimelineView(Studio& studio, QWidget* parent)
    : QWidget(parent),
      studio_(studio),
      toolbar_(new TimelineToolbar),
      headers_(new LaneHeaders),
      lanes_(new TimelineLanes(studio)),
      fit_(new Animated(studio.timelineZoom(), this)) {
  arrangeCard(this, toolbar_, headers_, lanes_);
  // Names by which tests and the end-to-end driver find the parts.
  setObjectName(QStringLiteral("timeline"));
  headers_->setObjectName(QStringLiteral("laneHeaders"));
  lanes_->setObjectName(QStringLiteral("lanes"));
  const std::pair<QAbstractButton*, const char*> tools[] = {
      {toolbar_->split, "split"},     {toolbar_->deleteSegment, "deleteSegment"},
      {toolbar_->addZoom, "addZoom"}, {toolbar_->removeZoom, "removeZoom"},
      {toolbar_->undo, "undo"},       {toolbar_->redo, "redo"},
      {toolbar_->zoomOut, "zoomOut"}, {toolbar_->zoomIn, "zoomIn"},
      {toolbar_->fit, "fit"}};
  for (const auto& [button, name] : tools)
    button->setObjectName(QString::fromLatin1(name));

  connect(toolbar_->split, &QAbstractButton::clicked, this, [this] { studio_.split(); });
  connect(toolbar_->deleteSegment, &QAbstractButton::clicked, this,
          [this] { studio_.deleteSelection(); });
  connect(toolbar_->addZoom, &QAbstractButton::clicked, this,
          [this] { studio_.addZoomAtPlayhead(); });
  connect(toolbar_->removeZoom, &QAbstractButton::clicked, this,
          [this] { studio_.removeSelectedZoom(); });
  connect(toolbar_->undo, &QAbstractButton::clicked, this, [this] { studio_.undoEdit(); });
  connect(toolbar_->redo, &QAbstractButton::clicked, this, [this] { studio_.redoEdit(); });
  connect(toolbar_->zoomOut, &QAbstractButton::clicked, this,
          [this] { setZoom(studio_.timelineZoom() / 1.5); });
  connect(toolbar_->zoomIn, &QAbstractButton::clicked, this,
          [this] { setZoom(studio_.timelineZoom() * 1.5); });
  connect(toolbar_->fit, &QAbstractButton::clicked, this, [this] { fitToWidth(); });
  connect(toolbar_, &TimelineToolbar::zoomRequested, this, [this](double z) { setZoom(z); });
  connect(fit_, &Animated::changed, this, [this] { setZoom(fit_->value()); });

  connect(&studio_, &Studio::changed, this, [this] { sync(); });
  connect(&studio_, &Studio::timeChanged, lanes_, &TimelineLanes::playheadMoved);
  connect(&LanguageSettings::shared(), &LanguageSettings::changed, this, [this] { retranslate(); });
  sync();
}

void TimelineView::setZoom(double zoom) {
  studio_.setTimelineZoom(clampZoom(zoom));
}

void TimelineView::fitToWidth() {
  const auto zoom = fitToWidthZoom(lanes_->width(), studio_.duration());
  if (!zoom) return;
  fit_->jumpTo(studio_.timelineZoom());
  fit_->animateTo(*zoom, Curve::easeOut(0.2));
}

void TimelineView::sync() {
  setEnabled(!studio_.exporting());
  toolbar_->showZoom(studio_.timelineZoom());
  toolbar_->showStates(studio_.selectedSegment() && studio_.clip().ranges().size() >= 2,
                       studio_.selectedZoomID().has_value(), studio_.canUndo(), studio_.canRedo());
  lanes_->sync();
}

void TimelineView::retranslate() {
  toolbar_->retranslate();
  headers_->update();
  lanes_->viewport()->update();
}

}  // namespace vantry
