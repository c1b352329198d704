// The exact limits of the editing operations and of the motion rules: each case sits on a
// boundary that a slightly different rule would move.
#include <gtest/gtest.h>

#include <vector>

#include "model/clip.h"
#include "model/motion_engine.h"
#include "model/motion_timeline.h"

namespace vantry {
namespace {

ZoomEvent event(double start, double end, Point center = {0.5, 0.5}) {
  return ZoomEvent{Uuid::random(), start, end, center, std::nullopt};
}

Clip withEvents(double duration, std::vector<ZoomEvent> events) {
  Clip clip;
  clip.duration = duration;
  clip.zoomEventsOverride = std::move(events);
  return clip;
}

TEST(EditLimits, SplitRoundsToTheNearestFrameAndKeepsHalfAFrameFromEdges) {
  Clip clip;
  clip.duration = 2.004;  // an end off the frame grid
  // 1.009 s is frame 60.54: the cut goes to frame 61, not 60.
  ASSERT_TRUE(clip.split(1.009));
  EXPECT_EQ((*clip.keptRanges)[0].end, 61.0 / 60);
  // 2.0 lies within half a frame of the end at 2.004: refused; 1.99 rounds to 119/60.
  EXPECT_FALSE(clip.split(2.0));
  ASSERT_TRUE(clip.split(1.99));
  EXPECT_EQ((*clip.keptRanges)[1].end, 119.0 / 60);
  // Two thirds of a frame before the end is more than half a frame: the cut is made.
  Clip nearEnd;
  nearEnd.duration = 2.01;
  ASSERT_TRUE(nearEnd.split(2.0));
  EXPECT_EQ((*nearEnd.keptRanges)[0].end, 2.0);
}

TEST(EditLimits, PresenterSwitchReplacesOnlyWithinHalfAFrame) {
  Clip clip;
  clip.duration = 10;
  clip.presenterEvents = std::vector<PresenterEvent>{{Uuid::random(), 0, false}};
  clip.setPresenter(true, 1.0 / 120);  // exactly half a frame away: replaces
  ASSERT_EQ(clip.presenterEvents->size(), 1u);
  EXPECT_EQ((*clip.presenterEvents)[0].time, 1.0 / 120);
  clip.setPresenter(false, 1.0 / 120 + 0.0125);  // three quarters of a frame: kept
  EXPECT_EQ(clip.presenterEvents->size(), 2u);
}

TEST(EditLimits, ResizeAcceptsJustUnderTwoTenthsBetweenNeighbours) {
  for (const auto& [next, accepted] : {std::pair{1.1999999995, true}, {1.1999999985, false}}) {
    Clip clip = withEvents(10, {event(1.0, 1.1), event(next, 3)});
    const Uuid id = clip.zoomEvents()[0].id;
    EXPECT_EQ(clip.resizeZoom(id, std::nullopt, 1.15), accepted) << next;
    EXPECT_EQ(clip.zoomEvents()[0].end, accepted ? next : 1.1) << next;
  }
}

TEST(EditLimits, MoveFitsAGapShorterByLessThanANanosecond) {
  Clip clip = withEvents(10, {event(0, 1), event(1.9999999995, 2.5), event(3, 4)});
  const Uuid id = clip.zoomEvents()[2].id;
  ASSERT_TRUE(clip.moveZoom(id, 1.0));
  EXPECT_EQ(clip.zoom(1.5)->id, id);  // not pushed to the next gap at 2.5
  // Ten nanoseconds short is too short: the event goes to the nearest gap that holds it.
  Clip shorter = withEvents(10, {event(0, 1), event(1.99999999, 2.5), event(3, 4)});
  const Uuid moved = shorter.zoomEvents()[2].id;
  ASSERT_TRUE(shorter.moveZoom(moved, 1.0));
  EXPECT_FALSE(shorter.zoom(1.5));
  EXPECT_EQ(shorter.zoom(2.6)->id, moved);
  EXPECT_EQ(shorter.zoom(2.6)->start, 2.5);
}

TEST(EditLimits, AddNeedsAQuarterSecondOfRoom) {
  Clip room = withEvents(20, {event(5.25, 8)});
  EXPECT_TRUE(room.addZoom(5.0, 3, Point{0.5, 0.5}));
  Clip tight = withEvents(20, {event(5.24, 8)});
  EXPECT_FALSE(tight.addZoom(5.0, 3, Point{0.5, 0.5}));
}

TEST(EditLimits, FollowingPansToTheSmoothedPointer) {
  // The pointer jumps from the middle to the right edge: the pan heads for where the
  // smoothed pointer is after one step, not for the raw position.
  EditSettings s;
  s.follow = true;
  MotionEngine e;
  const double dt = 1.0 / 60;
  e.advance({0.5, 0.5}, {0.5, 0.5}, true, 0, s, dt);
  const MotionSpring panBefore = e.panX;
  e.advance({0.9, 0.5}, {0.5, 0.5}, true, 0, s, dt);
  ASSERT_LT(e.pointerX.value, 0.75);
  MotionSpring expected = panBefore;
  expected.advance(2 * (e.pointerX.value - 0.5), motion::panFrequency(s.smoothness), dt);
  EXPECT_DOUBLE_EQ(e.panX.value, expected.value);
}

TEST(EditLimits, AClickAtTheEventsStartIsItsFocus) {
  Clip clip;
  clip.duration = 5;
  clip.samples = std::vector<PointerSample>{
      {0.0, 0.5, 0.5, false}, {1.0, 0.9, 0.1, true}, {5.0, 0.5, 0.5, false}};
  clip.zoomEventsOverride = std::vector<ZoomEvent>{event(1.0, 3.0, {0.3, 0.7})};
  EditSettings s;
  s.follow = false;
  const MotionTimeline m(clip, s);
  EXPECT_GT(m.frames[100].center.x, 0.5);  // toward the click, not the event's centre
  EXPECT_LT(m.frames[100].center.y, 0.5);
}

}  // namespace
}  // namespace vantry
