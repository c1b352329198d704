#include "timeline/timeline_accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QScrollBar>

#include "design/accessibility.h"
#include "localization/qt/qt_text.h"
#include "studio/studio.h"
#include "timeline/timeline_geometry.h"
#include "timeline/timeline_lanes.h"

namespace vantry::timeline {

std::vector<LaneElement> laneElements(const TimelineLanes& lanes) {
  using Kind = LaneElement::Kind;
  const LaneShapes& s = lanes.shapes();
  std::vector<LaneElement> out;
  for (std::size_t i = 0; i < s.segments.size(); ++i)
    out.push_back({Kind::segment, i});
  const auto& selected = lanes.studio().selectedZoomID();
  for (std::size_t i = 0; i < s.zooms.size(); ++i) {
    out.push_back({Kind::zoom, i});
    if (selected != s.zooms[i].block.id.eventID) continue;
    if (s.zooms[i].firstPiece) out.push_back({Kind::leadingHandle, i});
    if (s.zooms[i].lastPiece) out.push_back({Kind::trailingHandle, i});
  }
  for (std::size_t i = 0; i < s.presenters.size(); ++i)
    out.push_back({Kind::presenter, i});
  return out;
}

namespace {

bool valid(const TimelineLanes& lanes, const LaneElement& e) {
  const LaneShapes& s = lanes.shapes();
  switch (e.kind) {
    case LaneElement::Kind::segment:
      return e.index < s.segments.size();
    case LaneElement::Kind::presenter:
      return e.index < s.presenters.size();
    default:
      return e.index < s.zooms.size();
  }
}

QRectF elementRect(const TimelineLanes& lanes, const LaneElement& e) {
  const LaneShapes& s = lanes.shapes();
  Rect r;
  Row row = Row::zoom;
  switch (e.kind) {
    case LaneElement::Kind::segment:
      r = s.segments[e.index].rect;
      row = Row::video;
      break;
    case LaneElement::Kind::presenter:
      r = s.presenters[e.index].rect;
      row = Row::presenter;
      break;
    case LaneElement::Kind::zoom:
      r = s.zooms[e.index].rect;
      break;
    case LaneElement::Kind::leadingHandle:
      r = {s.zooms[e.index].rect.x, trimHandleWidth};
      break;
    case LaneElement::Kind::trailingHandle:
      r = {s.zooms[e.index].rect.right() - trimHandleWidth, trimHandleWidth};
      break;
  }
  const Span span = rowSpan(row);
  return QRectF(lanes.viewportX(r.x), span.top, r.width, span.height);
}

}  // namespace

QString elementName(const TimelineLanes& lanes, const LaneElement& e) {
  if (!valid(lanes, e)) return {};
  const LaneShapes& s = lanes.shapes();
  switch (e.kind) {
    case LaneElement::Kind::segment: {
      const SegmentShape& seg = s.segments[e.index];
      return QL("片段 {0}，{1} 秒", seg.number, fixed(seg.duration, 2));
    }
    case LaneElement::Kind::zoom: {
      const ZoomBlock& b = s.zooms[e.index].block;
      return QL("缩放片段，{0} 至 {1} 秒", fixed(b.outputStart, 2), fixed(b.outputEnd(), 2));
    }
    case LaneElement::Kind::leadingHandle:
      return QL("调整缩放开始");
    case LaneElement::Kind::trailingHandle:
      return QL("调整缩放结束");
    case LaneElement::Kind::presenter: {
      const PresenterBlock& b = s.presenters[e.index].block;
      return (b.fullScreen ? QL("人物全屏") : QL("屏幕＋人物")) +
             QLF("，%.2f 至 %.2f 秒", b.outputStart, b.outputEnd());
    }
  }
  return {};
}

bool elementSelected(const TimelineLanes& lanes, const LaneElement& e) {
  if (!valid(lanes, e)) return false;
  const Studio& studio = lanes.studio();
  const LaneShapes& s = lanes.shapes();
  switch (e.kind) {
    case LaneElement::Kind::segment:
      return studio.selectedSegment() == s.segments[e.index].id;
    case LaneElement::Kind::zoom:
      return studio.selectedZoomID() == s.zooms[e.index].block.id.eventID;
    case LaneElement::Kind::presenter:
      return studio.selectedPresenterID() == s.presenters[e.index].block.id;
    default:
      return false;
  }
}

QString elementValue(const TimelineLanes& lanes, const LaneElement& e) {
  if (e.kind != LaneElement::Kind::presenter || !valid(lanes, e)) return {};
  return elementSelected(lanes, e) ? QL("已选中") : QL("未选中");
}

namespace {

class ElementAccess : public PartAccess {
 public:
  ElementAccess(TimelineLanes* lanes, int position) : PartAccess(lanes), position_(position) {}

  std::optional<LaneElement> element() const {
    if (!lanes()) return std::nullopt;
    const auto all = laneElements(*lanes());
    if (position_ >= static_cast<int>(all.size())) return std::nullopt;
    return all[position_];
  }

  bool isValid() const override { return element().has_value(); }
  QString text(QAccessible::Text t) const override {
    const auto e = element();
    if (!e) return {};
    if (t == QAccessible::Name) return elementName(*lanes(), *e);
    if (t == QAccessible::Value) return elementValue(*lanes(), *e);
    return {};
  }
  QRect rect() const override {
    const auto e = element();
    if (!e) return {};
    const QRect r = elementRect(*lanes(), *e).toAlignedRect();
    return QRect(lanes()->viewport()->mapToGlobal(r.topLeft()), r.size());
  }
  QAccessible::Role role() const override { return QAccessible::Button; }
  QAccessible::State state() const override {
    QAccessible::State s;
    const auto e = element();
    s.disabled = !lanes() || !lanes()->isEnabled();
    if (e && e->kind == LaneElement::Kind::zoom) {
      s.selectable = true;
      s.selected = elementSelected(*lanes(), *e);
    }
    return s;
  }

  int position() const { return position_; }

 protected:
  void press() override {
    const auto e = element();
    if (!e || !lanes()->isEnabled()) return;
    Studio& studio = lanes()->studio();
    const LaneShapes& s = lanes()->shapes();
    switch (e->kind) {
      case LaneElement::Kind::segment:
        studio.setSelectedSegment(s.segments[e->index].id);
        studio.setSelectedZoomID(std::nullopt);
        studio.seek(s.segments[e->index].start);
        break;
      case LaneElement::Kind::zoom:
        studio.selectZoom(s.zooms[e->index].block.id.eventID);
        break;
      case LaneElement::Kind::presenter:
        studio.selectPresenterBlock(s.presenters[e->index].block.id);
        break;
      default:
        break;
    }
  }

 private:
  TimelineLanes* lanes() const { return static_cast<TimelineLanes*>(owner()); }

  int position_;
};

class LanesAccess : public QAccessibleWidget {
 public:
  explicit LanesAccess(TimelineLanes* lanes) : QAccessibleWidget(lanes, QAccessible::Pane) {}

  TimelineLanes* lanes() const { return static_cast<TimelineLanes*>(widget()); }
  int childCount() const override { return static_cast<int>(laneElements(*lanes()).size()); }
  QAccessibleInterface* child(int index) const override {
    if (index < 0 || index >= childCount()) return nullptr;
    // One view per position, reading the element at that position when asked.
    return registeredChild(lanes(), "vantryLaneElement", index,
                           [&] { return new ElementAccess(lanes(), index); });
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (const auto* e = dynamic_cast<const ElementAccess*>(child)) return e->position();
    return -1;
  }
};

QAccessibleInterface* factory(const QString& className, QObject* object) {
  if (className == QLatin1String("vantry::timeline::TimelineLanes"))
    return new LanesAccess(static_cast<TimelineLanes*>(object));
  return nullptr;
}

}  // namespace

void releaseTimelineAccess(TimelineLanes* lanes) {
  releaseRegisteredChildren(lanes, "vantryLaneElement");
}

void installTimelineAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(factory);
    return true;
  }();
  (void)installed;
}

}  // namespace vantry::timeline
