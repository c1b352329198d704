// The timeline card driven with the mouse against a real controller on a synthetic project.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCoreApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPaintEvent>
#include <QPointingDevice>
#include <QScrollBar>
#include <QWheelEvent>

#include <limits>
#include <memory>

#include "design/buttons.h"
#include "localization/qt/qt_text.h"
#include "studio/studio.h"
#include "timeline/timeline_accessibility.h"
#include "timeline/timeline_lanes.h"
#include "timeline/timeline_toolbar.h"
#include "timeline/timeline_view.h"
#include "timeline/track_block.h"

namespace vantry::timeline {
namespace {

constexpr double kPps = 56;  // the default timeline zoom, 7

struct Spans {
  std::vector<std::pair<double, double>> kept;
  std::vector<std::pair<double, double>> zooms;
};

Clip synthetic(const Spans& spans) {
  Clip clip;
  clip.title = "synthetic";
  clip.duration = 12;
  if (!spans.kept.empty()) {
    std::vector<SourceRange> ranges;
    for (auto [s, e] : spans.kept)
      ranges.push_back({Uuid::random(), s, e});
    clip.keptRanges = ranges;
  }
  std::vector<ZoomEvent> events;
  for (auto [s, e] : spans.zooms)
    events.push_back({Uuid::random(), s, e, {0.5, 0.5}, std::nullopt});
  clip.zoomEventsOverride = events;
  clip.presenterEvents =
      std::vector<PresenterEvent>{{Uuid::random(), 2, true}, {Uuid::random(), 5, false}};
  return clip;
}

class TimelineGestures : public ::testing::Test {
 protected:
  void open(const Spans& spans = {{}, {{2, 5}, {8, 10}}}) {
    StudioServices services;
    services.startClock = false;
    studio = std::make_unique<Studio>(services);
    ASSERT_TRUE(studio->load(synthetic(spans)));
    view = std::make_unique<TimelineView>(*studio);
    view->setAttribute(Qt::WA_DontShowOnScreen);
    // 92 headers + 8 spacing + 24 padding around a 700-point lane area.
    view->resize(824, 240);
    view->show();
    QCoreApplication::processEvents();
    lanes = view->lanes();
    ASSERT_EQ(lanes->width(), 700);
  }
  void TearDown() override {
    view.reset();
    studio.reset();
  }

  QPointF at(double seconds, Row row) const { return lanes->pointAt(seconds * kPps, row); }
  void send(QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QWidget* target = lanes->viewport();
    QMouseEvent e(type, pos, target->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &e);
  }
  void press(QPointF p) { send(QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton); }
  void move(QPointF p) { send(QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton); }
  void release(QPointF p) { send(QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton); }
  void hover(QPointF p) { send(QEvent::MouseMove, p, Qt::NoButton, Qt::NoButton); }
  void click(QPointF p) {
    press(p);
    release(p);
  }
  void drag(QPointF from, double dx) {
    press(from);
    for (int i = 1; i <= 4; ++i)
      move(from + QPointF(dx * i / 4, 0));
    release(from + QPointF(dx, 0));
  }
  std::vector<ZoomEvent> zooms() const { return studio->clip().zoomEvents(); }

  std::unique_ptr<Studio> studio;
  std::unique_ptr<TimelineView> view;
  TimelineLanes* lanes = nullptr;
};

TEST_F(TimelineGestures, ClicksInTheZoomLaneAddOrSelect) {
  open();
  // The ghost follows the hover over free space and hides inside a block.
  hover(at(6.0, Row::zoom));
  ASSERT_TRUE(lanes->ghostTime());
  EXPECT_NEAR(*lanes->ghostTime(), 6.0, 1e-9);
  hover(at(3.0, Row::zoom));
  EXPECT_FALSE(lanes->ghostTime());

  // A click inside a zoom selects it.
  click(at(3.0, Row::zoom));
  EXPECT_EQ(studio->selectedZoomID(), zooms()[0].id);

  // A click on free space adds a 3-second zoom there (cut at the next zoom).
  click(at(5.5, Row::zoom));
  ASSERT_EQ(zooms().size(), 3u);
  EXPECT_NEAR(zooms()[1].start, 5.5, 1e-9);
  EXPECT_EQ(studio->selectedZoomID(), zooms()[1].id);
  EXPECT_EQ(studio->notice(), L("已添加缩放片段 · 可拖动位置或删除"));

  // Near the end the zoom is cut at the end of the edit; a click inside it selects it.
  click(at(10.1, Row::zoom));
  ASSERT_EQ(zooms().size(), 4u);
  EXPECT_NEAR(zooms()[3].end, 12, 1e-9);
  click(at(11.95, Row::zoom));
  EXPECT_EQ(zooms().size(), 4u);
  EXPECT_EQ(studio->selectedZoomID(), zooms()[3].id);
}

TEST_F(TimelineGestures, NoRoomToAddShowsTheNotice) {
  open({{}, {{2, 5}, {5.1, 10}}});
  click(at(5.02, Row::zoom));
  EXPECT_EQ(zooms().size(), 2u);
  EXPECT_EQ(studio->notice(), L("这里空间不足，无法添加缩放"));
}

TEST_F(TimelineGestures, ZoomLanePressEitherAddsOrScrubs) {
  open();
  // Released after 2 points: a click at the release point.
  const QPointF start = at(6.0, Row::zoom);
  press(start);
  move(start + QPointF(2, 0));
  release(start + QPointF(2, 0));
  ASSERT_EQ(zooms().size(), 3u);
  EXPECT_NEAR(zooms()[1].start, 6.0 + 2 / kPps, 1e-9);
  studio->undoEdit();

  // Past 3 points it scrubs, and a press that scrubbed never adds, even when it returns.
  press(start);
  move(start + QPointF(20, 0));
  EXPECT_NEAR(studio->time(), 6.0 + 20 / kPps, 1e-9);
  EXPECT_FALSE(lanes->ghostTime());
  move(start + QPointF(1, 0));
  release(start + QPointF(1, 0));
  EXPECT_EQ(zooms().size(), 2u);
  EXPECT_NEAR(studio->time(), 6.0 + 1 / kPps, 1e-9);
}

TEST_F(TimelineGestures, MovingAndTrimmingAZoom) {
  open();
  const Uuid first = zooms()[0].id;
  // A drag of N points moves by N / (8 x zoom) seconds; the document changes at release.
  const QPointF grip = at(3.0, Row::zoom);
  press(grip);
  move(grip + QPointF(3, 0));
  EXPECT_FALSE(lanes->zoomDrag());  // under 4 points it is still a click
  move(grip + QPointF(56, 0));
  ASSERT_TRUE(lanes->zoomDrag());
  EXPECT_EQ(lanes->zoomDrag()->dx, 56);
  EXPECT_EQ(studio->selectedZoomID(), first);
  EXPECT_EQ(zooms()[0].start, 2);
  release(grip + QPointF(56, 0));
  EXPECT_FALSE(lanes->zoomDrag());
  EXPECT_NEAR(zooms()[0].start, 3.0, 1e-9);
  EXPECT_NEAR(zooms()[0].end, 6.0, 1e-9);

  // Dragging the trailing handle far left previews 8 points and trims to 0.2 s.
  const ZoomShape& shape = lanes->shapes().zooms[0];
  const QPointF handle(lanes->viewportX(shape.rect.right() - 3), at(0, Row::zoom).y());
  press(handle);
  move(handle + QPointF(-400, 0));
  ASSERT_TRUE(lanes->zoomTrim());
  EXPECT_FALSE(lanes->zoomTrim()->leading);
  EXPECT_EQ(liveZoomRect(lanes->scene(), lanes->shapes().zooms[0]).width, 8);
  release(handle + QPointF(-400, 0));
  EXPECT_NEAR(zooms()[0].start, 3.0, 1e-9);
  EXPECT_NEAR(zooms()[0].end, 3.2, 1e-9);
  EXPECT_EQ(studio->undoStack().size(), 2u);
}

TEST_F(TimelineGestures, ACutZoomMovesAndTrimsAsOne) {
  open({{{0, 4}, {4, 12}}, {{2, 6}}});
  ASSERT_EQ(lanes->shapes().zooms.size(), 2u);
  const Uuid e = zooms()[0].id;

  // Clicking the second piece selects the whole event; handles only at its ends.
  click(at(5.0, Row::zoom));
  EXPECT_EQ(studio->selectedZoomID(), e);
  std::vector<LaneElement::Kind> handles;
  for (const LaneElement& el : laneElements(*lanes))
    if (el.kind == LaneElement::Kind::leadingHandle || el.kind == LaneElement::Kind::trailingHandle)
      handles.push_back(el.kind);
  EXPECT_EQ(handles, (std::vector<LaneElement::Kind>{LaneElement::Kind::leadingHandle,
                                                     LaneElement::Kind::trailingHandle}));

  // Dragging the second piece moves both previews, and the event from its own start.
  const QPointF grip = at(5.0, Row::zoom);
  press(grip);
  move(grip + QPointF(28, 0));
  const LaneScene scene = lanes->scene();
  EXPECT_EQ(liveZoomRect(scene, lanes->shapes().zooms[0]).x, 2 * kPps + 28);
  EXPECT_EQ(liveZoomRect(scene, lanes->shapes().zooms[1]).x, 4 * kPps + 28);
  release(grip + QPointF(28, 0));
  ASSERT_EQ(zooms().size(), 1u);
  EXPECT_NEAR(zooms()[0].start, 2.5, 1e-9);
  EXPECT_NEAR(zooms()[0].end, 6.5, 1e-9);

  // The leading handle sits on the first piece and trims the event's start.
  const QPointF lead(lanes->viewportX(lanes->shapes().zooms[0].rect.x + 3), grip.y());
  press(lead);
  move(lead + QPointF(-28, 0));
  release(lead + QPointF(-28, 0));
  EXPECT_NEAR(zooms()[0].start, 2.0, 1e-9);
  EXPECT_NEAR(zooms()[0].end, 6.5, 1e-9);
}

TEST_F(TimelineGestures, SegmentsPresenterBlocksAndTheRuler) {
  open({{{0, 4}, {4, 10}}, {{2, 5}}});
  // Clicking the second segment selects it, clears the zoom and seeks to its start.
  studio->selectZoom(zooms()[0].id);
  click(at(6.0, Row::video));
  EXPECT_EQ(studio->selectedSegment(), studio->clip().ranges()[1].id);
  EXPECT_FALSE(studio->selectedZoomID());
  EXPECT_EQ(studio->time(), 4.0);
  EXPECT_TRUE(view->toolbar()->deleteSegment->isEnabled());

  // Dragging across it from 10 points inside follows the pointer.
  const QPointF inside(lanes->viewportX(lanes->shapes().segments[1].rect.x + 10),
                       at(0, Row::video).y());
  press(inside);
  move(inside + QPointF(2, 0));  // under 3 points: still a click
  EXPECT_EQ(studio->time(), 4.0);
  move(inside + QPointF(40, 0));
  EXPECT_NEAR(studio->time(), 4 + 50 / kPps, 1e-9);
  release(inside + QPointF(40, 0));

  // A presenter block: the playhead goes 0.65 s in and the block is selected.
  click(at(3.0, Row::presenter));
  ASSERT_TRUE(studio->selectedPresenterID());
  EXPECT_NEAR(studio->time(), 2.65, 1e-9);
  const auto& blocks = lanes->shapes().presenters;
  for (std::size_t i = 0; i < blocks.size(); ++i)
    EXPECT_EQ(elementValue(*lanes, {LaneElement::Kind::presenter, i}),
              blocks[i].block.outputStart == 2 ? QL("已选中") : QL("未选中"));
  // A click on the ruler seeks there and ends the block selection.
  click(at(7.0, Row::ruler));
  EXPECT_NEAR(studio->time(), 7.0, 1e-9);
  EXPECT_FALSE(studio->selectedPresenterID());

  // Screen readers hear the segments with their lengths and each piece of a cut zoom.
  QAccessibleInterface* access = QAccessible::queryAccessibleInterface(lanes);
  ASSERT_TRUE(access);
  EXPECT_EQ(access->childCount(), static_cast<int>(laneElements(*lanes).size()));
  EXPECT_EQ(access->child(0)->text(QAccessible::Name), QL("片段 {0}，{1} 秒", 1, "4.00"));
  EXPECT_EQ(access->child(0)->role(), QAccessible::Button);
  EXPECT_EQ(access->child(2)->text(QAccessible::Name),
            QL("缩放片段，{0} 至 {1} 秒", "2.00", "4.00"));

  // One kept range left: delete stays disabled even with the segment selected.
  click(at(6.0, Row::video));
  view->toolbar()->deleteSegment->click();
  ASSERT_EQ(studio->clip().ranges().size(), 1u);
  click(at(1.0, Row::video));
  EXPECT_FALSE(view->toolbar()->deleteSegment->isEnabled());
  studio->setExporting(true);
  EXPECT_FALSE(view->isEnabled());
}

TEST_F(TimelineGestures, MenuTicksAndItems) {
  open();
  std::unique_ptr<QMenu> menu(lanes->zoomMenu(0));
  ASSERT_TRUE(menu);
  QStringList titles;
  QStringList checked;
  // A checkmark beside the current item only: no item is a check box.
  auto ticked = [](const QAction* a) { return !a->icon().isNull() && a->text() != QL("删除缩放"); };
  for (QAction* a : menu->actions()) {
    if (a->isSeparator() && a->text().isEmpty()) continue;
    EXPECT_FALSE(a->isCheckable()) << a->text().toStdString();
    titles << a->text();
    if (ticked(a)) checked << a->text();
  }
  const QString follow = QL("跟随默认") + " (2\u00D7)";
  EXPECT_EQ(titles, (QStringList{QL("缩放倍数"), "1.25\u00D7", "1.5\u00D7", "1.75\u00D7", "2\u00D7",
                                 "2.5\u00D7", "3\u00D7", "3.5\u00D7", follow, QL("删除缩放")}));
  EXPECT_EQ(checked, QStringList{follow});

  menu->actions()[5]->trigger();  // 2.5×
  EXPECT_EQ(zooms()[0].amount, 2.5);
  menu.reset(lanes->zoomMenu(0));
  EXPECT_TRUE(ticked(menu->actions()[5]));
  EXPECT_FALSE(ticked(menu->actions()[8]));

  // Removing from the menu of an unselected block selects it, then removes it.
  menu.reset(lanes->zoomMenu(1));
  menu->actions().back()->trigger();
  ASSERT_EQ(zooms().size(), 1u);
  EXPECT_EQ(zooms()[0].start, 2);
  EXPECT_FALSE(studio->selectedZoomID());
}

TEST_F(TimelineGestures, PinchAndCtrlWheelStayWithinOneToThirtyTwo) {
  open();
  const QPointF p = at(1.0, Row::zoom);
  const auto gesture = [&](Qt::NativeGestureType type, double value) {
    QNativeGestureEvent e(type, QPointingDevice::primaryPointingDevice(), 2, p, p,
                          lanes->viewport()->mapToGlobal(p), value, QPointF());
    QCoreApplication::sendEvent(lanes->viewport(), &e);
  };
  studio->setTimelineZoom(4);
  gesture(Qt::BeginNativeGesture, 0);
  gesture(Qt::ZoomNativeGesture, 0.5);
  gesture(Qt::ZoomNativeGesture, 1.0 / 3);  // 1.5 x 4/3 = 2 from the pinch's start
  EXPECT_NEAR(studio->timelineZoom(), 8, 1e-9);
  gesture(Qt::EndNativeGesture, 0);
  gesture(Qt::BeginNativeGesture, 0);
  gesture(Qt::ZoomNativeGesture, 1.0);
  EXPECT_NEAR(studio->timelineZoom(), 16, 1e-9);  // the second pinch starts from 8
  gesture(Qt::ZoomNativeGesture, 9.0);
  EXPECT_EQ(studio->timelineZoom(), 32);
  gesture(Qt::EndNativeGesture, 0);

  const auto wheel = [&](int notches, Qt::KeyboardModifiers mods) {
    QWheelEvent e(p, lanes->viewport()->mapToGlobal(p), QPoint(), QPoint(0, 120 * notches),
                  Qt::NoButton, mods, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(lanes->viewport(), &e);
  };
  wheel(-40, Qt::ControlModifier);
  EXPECT_EQ(studio->timelineZoom(), 1);
  wheel(-1, Qt::ControlModifier);
  EXPECT_EQ(studio->timelineZoom(), 1);

  // The time under the pointer stays where it was while zooming in.
  const double before = lanes->contentX(p.x()) / lanes->pointsPerSecond();
  wheel(15, Qt::ControlModifier);
  EXPECT_GT(studio->timelineZoom(), 1);
  EXPECT_NEAR(lanes->contentX(p.x()) / lanes->pointsPerSecond(), before, 1.0 / 8);

  // A plain wheel scrolls instead.
  studio->setTimelineZoom(32);
  const double zoom = studio->timelineZoom();
  const double scroll = lanes->scrollOffset();
  wheel(-2, Qt::NoModifier);
  EXPECT_EQ(studio->timelineZoom(), zoom);
  EXPECT_GT(lanes->scrollOffset(), scroll);

  // The toolbar's buttons clamp too, and fit to width on 12 s in 700 points.
  for (int i = 0; i < 3; ++i)
    view->toolbar()->zoomIn->click();
  EXPECT_EQ(studio->timelineZoom(), 32);
  view->fitToWidth();
  EXPECT_NEAR(studio->timelineZoom(), (700 - 24) / 12.0 / 8, 1e-9);
}

// Collects the regions the viewport paints.
class PaintLog : public QObject {
 public:
  std::vector<QRegion> regions;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      regions.push_back(static_cast<QPaintEvent*>(event)->region());
    return false;
  }
};

TEST(TimelineHostile, AnEditLongerThanTimeScrollsAndPaints) {
  // A hand-edited document: its width overflowed the scroll bar's range and its zoom block,
  // 1e300 seconds long, crashed the painter.
  Clip clip = synthetic({{}, {{1, 1e300}}});
  clip.duration = 1e300;
  clip.presenterEvents = std::vector<PresenterEvent>{{Uuid::random(), 3, true}};
  StudioServices services;
  services.startClock = false;
  Studio studio(services);
  ASSERT_TRUE(studio.load(clip));
  TimelineView view(studio);
  view.setAttribute(Qt::WA_DontShowOnScreen);
  view.resize(824, 240);
  view.show();
  QCoreApplication::processEvents();
  TimelineLanes* lanes = view.lanes();
  EXPECT_EQ(lanes->horizontalScrollBar()->maximum(), std::numeric_limits<int>::max());
  for (double at : {0.0, 5e11, 1e299}) {
    lanes->scrollTo(at * kPps);
    const QImage shot = view.grab().toImage();
    // The zoom block fills the lane across the view.
    const QPointF middle = lanes->pointAt(lanes->scrollOffset() + 350, Row::zoom);
    const QColor c = shot.pixelColor(lanes->viewport()->mapTo(&view, middle.toPoint()));
    EXPECT_GT(c.blue(), 150) << at;
    EXPECT_GT(c.blue(), c.green() + 50) << at;
  }
}

TEST_F(TimelineGestures, PlaybackRepaintsOnlyThePlayheadStrips) {
  open();
  view->setAttribute(Qt::WA_DontShowOnScreen, false);
  view->show();
  QCoreApplication::processEvents();
  PaintLog log;
  lanes->viewport()->installEventFilter(&log);
  studio->setTime(3.0);
  QCoreApplication::processEvents();
  ASSERT_FALSE(log.regions.empty());
  const QRect painted = log.regions.back().boundingRect();
  // From x 0 to x 168: two strips 28 points wide, not the 700-point lane area.
  EXPECT_EQ(log.regions.back().rectCount(), 2);
  EXPECT_GE(painted.left(), lanes->viewportX(0) - 15);
  EXPECT_LE(painted.right(), lanes->viewportX(3.0 * kPps) + 15);
  lanes->viewport()->removeEventFilter(&log);
}

TEST_F(TimelineGestures, CursorsAndBlockLooks) {
  open();
  hover(at(0.5, Row::ruler));
  EXPECT_EQ(lanes->viewport()->cursor().shape(), Qt::PointingHandCursor);
  hover(at(3.0, Row::zoom));
  EXPECT_EQ(lanes->viewport()->cursor().shape(), Qt::PointingHandCursor);
  hover(at(6.5, Row::zoom));
  EXPECT_EQ(lanes->viewport()->cursor().shape(), Qt::ArrowCursor);
  studio->selectZoom(zooms()[0].id);
  hover(QPointF(lanes->viewportX(2 * kPps + 3), at(0, Row::zoom).y()));
  EXPECT_EQ(lanes->viewport()->cursor().shape(), Qt::SizeHorCursor);

  // A selected block: white border of 1.6 hovered or not, glow, full sheen.
  for (double hover : {0.0, 1.0}) {
    const BlockEdge selected = blockEdge({hover, 1, false});
    EXPECT_EQ(selected.border, Color(0xFFFFFF, 1));
    EXPECT_EQ(selected.borderWidth, 1.6);
    EXPECT_EQ(selected.sheenOpacity, 1);
    EXPECT_EQ(selected.glowOpacity, 0.85);
  }
  const BlockEdge rest = blockEdge({0, 0, false}), hovered = blockEdge({1, 0, false});
  EXPECT_EQ(rest.border, Color(0xFFFFFF, 0.14));
  EXPECT_EQ(hovered.border, Color(0xFFFFFF, 0.32));
  EXPECT_DOUBLE_EQ(rest.sheenOpacity, 0.6);
  EXPECT_EQ(hovered.sheenOpacity, 1);
  EXPECT_EQ(rest.glowOpacity, 0);
}

}  // namespace
}  // namespace vantry::timeline
