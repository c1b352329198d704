// The baked motion timeline and its lookup.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "model/motion_engine.h"
#include "model/motion_timeline.h"

namespace vantry {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Clip clipOf(double duration, std::vector<PointerSample> samples = {}) {
  Clip clip;
  clip.title = "t";
  clip.duration = duration;
  clip.samples = std::move(samples);
  return clip;
}

ZoomEvent event(double start, double end, Point center, std::optional<double> amount = {}) {
  ZoomEvent e;
  e.start = start;
  e.end = end;
  e.center = center;
  e.amount = amount;
  return e;
}

EditSettings noFollow() {
  EditSettings s;
  s.follow = false;
  return s;
}

bool allFinite(const MotionTimeline& timeline) {
  for (const FrameState& f : timeline.frames) {
    if (!std::isfinite(f.zoom) || !std::isfinite(f.center.x) || !std::isfinite(f.center.y) ||
        !std::isfinite(f.pointer.x) || !std::isfinite(f.pointer.y) || !std::isfinite(f.pulse)) {
      return false;
    }
  }
  return true;
}

TEST(MotionBake, FrameCountFollowsTheDuration) {
  EXPECT_EQ(MotionTimeline(clipOf(16), {}).frames.size(), 961u);
  EXPECT_EQ(MotionTimeline(clipOf(0.01), {}).frames.size(), 2u);
  EXPECT_EQ(MotionTimeline(clipOf(0), {}).frames.size(), 1u);
  EXPECT_EQ(MotionTimeline(clipOf(-3), {}).frames.size(), 1u);
  EXPECT_EQ(MotionTimeline().frames.size(), 1u);
  // Hand-edited durations: not finite gives one frame, huge stops at a day.
  EXPECT_EQ(MotionTimeline(clipOf(kNaN), {}).frames.size(), 1u);
  EXPECT_EQ(MotionTimeline(clipOf(kInf), {}).frames.size(), 1u);
  EXPECT_EQ(MotionTimeline::frameCount(-kInf), 1u);
  EXPECT_EQ(MotionTimeline::frameCount(1e300), MotionTimeline::kMaxFrames);
  EXPECT_EQ(MotionTimeline::frameCount(24.0 * 3600), MotionTimeline::kMaxFrames);
  EXPECT_EQ(MotionTimeline::frameCount(3600), 216001u);
}

TEST(MotionBake, PointerFromSamples) {
  // No samples: the centre everywhere.
  MotionTimeline empty(clipOf(2), {});
  for (const FrameState& f : empty.frames)
    ASSERT_EQ(f.pointer, (Point{0.5, 0.5}));

  // Frame 0 is the raw pointer exactly (the first sample's position before it starts).
  MotionTimeline late(clipOf(2, {{0.1, 0.2, 0.3, false}, {1.0, 0.8, 0.9, false}}), {});
  EXPECT_EQ(late.frames[0].pointer, (Point{0.2, 0.3}));
  // The smoothed pointer ends on the last sample.
  EXPECT_NEAR(late.frames.back().pointer.x, 0.8, 1e-6);
  EXPECT_NEAR(late.frames.back().pointer.y, 0.9, 1e-6);

  // Two samples with one time: no division by zero, the first one's position until then.
  MotionTimeline same(clipOf(1, {{1, 0.1, 0.1, false}, {1, 0.9, 0.9, false}}), {});
  EXPECT_EQ(same.frames[0].pointer, (Point{0.1, 0.1}));
  EXPECT_TRUE(allFinite(same));

  // Unsorted samples are sorted stably: of two at time 0 the later in the file wins.
  MotionTimeline unsorted(
      clipOf(1, {{1, 0.5, 0.5, false}, {0, 0.2, 0.2, false}, {0, 0.8, 0.8, false}}), {});
  EXPECT_EQ(unsorted.frames[0].pointer, (Point{0.8, 0.8}));
}

TEST(MotionBake, EventWithoutClickZoomsFromItsStart) {
  Clip clip = clipOf(5);
  clip.zoomEventsOverride = std::vector<ZoomEvent>{event(1.0, 3.0, {0.3, 0.7})};
  const MotionTimeline m(clip, noFollow());
  for (int i = 0; i < 60; ++i) {
    ASSERT_EQ(m.frames[i].pulse, -1) << i;
    ASSERT_EQ(m.frames[i].zoom, 1) << i;
    ASSERT_EQ(m.frames[i].center, (Point{0.5, 0.5})) << i;
  }
  EXPECT_EQ(m.frames[60].pulse, 0);
  EXPECT_GT(m.frames[60].zoom, 1);
  EXPECT_DOUBLE_EQ(m.frames[90].pulse, 90.0 / 60 - 1.0);
  // The view pans toward the event's centre: left (x < 0.5) and down (y > 0.5).
  EXPECT_LT(m.frames[120].center.x, 0.5);
  EXPECT_GT(m.frames[120].center.y, 0.5);
  EXPECT_EQ(m.frames[179].pulse, 179.0 / 60 - 1.0);
  // The end is exclusive: at t = 3.0 the zoom releases.
  EXPECT_EQ(m.frames[180].pulse, -1);
  EXPECT_LT(m.frames[181].zoom, m.frames[180].zoom);
  EXPECT_NEAR(m.frames.back().zoom, 1, 1e-3);
}

TEST(MotionBake, ClicksInsideTheEventMoveFocusAndRestartThePulse) {
  // Clicks at 0.5 s (before the event) and 1.5 s (inside it).
  Clip clip = clipOf(5, {{0.0, 0.5, 0.5, false},
                         {0.5, 0.9, 0.9, true},
                         {1.5, 0.9, 0.1, true},
                         {5.0, 0.5, 0.5, false}});
  clip.zoomEventsOverride = std::vector<ZoomEvent>{event(1.0, 3.0, {0.3, 0.7})};
  const MotionTimeline m(clip, noFollow());
  // The click at 0.5 s lies before the event's start: the event's own centre and start.
  EXPECT_EQ(m.frames[60].pulse, 0);
  EXPECT_LT(m.frames[85].center.x, 0.5);
  EXPECT_GT(m.frames[85].center.y, 0.5);
  EXPECT_DOUBLE_EQ(m.frames[89].pulse, 89.0 / 60 - 1.0);
  // From 1.5 s the focus is the click at (0.9, 0.1): the pan turns right and up.
  EXPECT_EQ(m.frames[90].pulse, 0);
  EXPECT_DOUBLE_EQ(m.frames[100].pulse, 100.0 / 60 - 1.5);
  EXPECT_GT(m.frames[170].center.x, 0.5);
  EXPECT_LT(m.frames[170].center.y, 0.5);
}

TEST(MotionBake, ZoomSwitchedOffKeepsThePulses) {
  Clip clip = clipOf(4);
  clip.zoomEventsOverride = std::vector<ZoomEvent>{event(1.0, 3.0, {0.3, 0.7}, 3.0)};
  EditSettings off;
  off.zoomEnabled = false;
  const MotionTimeline m(clip, off);
  const MotionTimeline on(clip, {});
  for (std::size_t i = 0; i < m.frames.size(); ++i) {
    ASSERT_EQ(m.frames[i].zoom, 1) << i;
    ASSERT_EQ(m.frames[i].center, (Point{0.5, 0.5})) << i;
    ASSERT_EQ(m.frames[i].pulse, on.frames[i].pulse) << i;
  }
  EXPECT_EQ(m.frames[60].pulse, 0);
}

TEST(MotionBake, EventAmountWinsOverTheSettings) {
  Clip clip = clipOf(12);
  clip.zoomEventsOverride = std::vector<ZoomEvent>{event(1.0, 11.0, {0.5, 0.5}, 3.5)};
  EditSettings settings;
  settings.zoomAmount = 1.5;
  const MotionTimeline m(clip, settings);
  EXPECT_NEAR(m.frames[600].zoom, 3.5, 1e-6);
  for (const FrameState& f : m.frames)
    ASSERT_GE(f.zoom, 1);

  clip.zoomEventsOverride = std::vector<ZoomEvent>{event(1.0, 11.0, {0.5, 0.5})};
  EXPECT_NEAR(MotionTimeline(clip, settings).frames[600].zoom, 1.5, 1e-6);
}

TEST(MotionBake, AutomaticEventsFromClicksGiveThePulses) {
  // A click every 5 s for a minute: each opens an event of hold + 0.65 s.
  std::vector<PointerSample> samples;
  for (int i = 0; i <= 3600; ++i) {
    const double t = i / 60.0;
    samples.push_back({t, 0.5 + 0.3 * std::sin(t), 0.5, i % 300 == 150});
  }
  const Clip clip = clipOf(60, samples);
  const MotionTimeline m(clip, {});
  ASSERT_EQ(m.frames.size(), 3601u);
  for (std::size_t i = 0; i < m.frames.size(); ++i) {
    const double t = i / 60.0;
    // Clicks at 2.5, 7.5, ...; events run 2.95 s from each.
    const int k = static_cast<int>(std::floor((i + 150.0) / 300.0)) - 1;
    double expected = -1;
    if (k >= 0) {
      const double click = (300.0 * k + 150) / 60;
      if (t >= click && t < std::min(2.3 + click + 0.65, 60.0)) expected = t - click;
    }
    ASSERT_NEAR(m.frames[i].pulse, expected, 1e-9) << i;
  }
}

TEST(MotionBake, MatchesTheLiveEngineStepForStep) {
  // One event over the whole clip and a resting pointer: the baked frames are what the
  // live engine produces at 60 ticks a second.
  Clip clip = clipOf(3, {{0, 0.8, 0.3, false}});
  clip.zoomEventsOverride = std::vector<ZoomEvent>{event(0, 3, {0.5, 0.5})};
  const MotionTimeline baked(clip, {});
  MotionEngine live;
  for (std::size_t i = 0; i < baked.frames.size(); ++i) {
    const FrameState s = live.advance({0.8, 0.3}, {0.5, 0.5}, i < 180, 0, {}, 1.0 / 60);
    ASSERT_NEAR(baked.frames[i].zoom, s.zoom, 1e-12) << i;
    ASSERT_NEAR(baked.frames[i].center.x, s.center.x, 1e-12) << i;
    ASSERT_NEAR(baked.frames[i].center.y, s.center.y, 1e-12) << i;
    ASSERT_EQ(baked.frames[i].pointer, s.pointer) << i;
  }
}

TEST(MotionBake, HandEditedValuesStayFinite) {
  Clip clip = clipOf(6, {{0, 1e308, -1e308, false}, {2, 0.4, 0.4, true}});
  clip.zoomEventsOverride =
      std::vector<ZoomEvent>{event(1, 3, {0.5, 0.5}, 1e308), event(3, 5, {0.5, 0.5}, kInf)};
  EditSettings settings;
  settings.smoothness = 9;
  const MotionTimeline m(clip, settings);
  EXPECT_TRUE(allFinite(m));

  // A smoothness past 1 bakes like 1; a non-finite amount like no amount.
  EditSettings one;
  one.smoothness = 1;
  Clip plain = clipOf(6);
  plain.zoomEventsOverride = std::vector<ZoomEvent>{event(1, 3, {0.5, 0.5}, kNaN)};
  Clip absent = plain;
  absent.zoomEventsOverride = std::vector<ZoomEvent>{event(1, 3, {0.5, 0.5})};
  EXPECT_EQ(MotionTimeline(plain, settings).frames, MotionTimeline(absent, one).frames);
}

TEST(MotionLookup, InterpolatesBetweenFramesAndClampsOutside) {
  Clip clip = clipOf(2, {{0, 0.1, 0.1, false}, {2, 0.9, 0.6, false}});
  clip.zoomEventsOverride = std::vector<ZoomEvent>{event(0.5, 1.5, {0.3, 0.3})};
  const MotionTimeline m(clip, {});
  EXPECT_EQ(m.state(-1), m.frames[0]);
  EXPECT_EQ(m.state(kNaN), m.frames[0]);
  EXPECT_EQ(m.state(50), m.frames.back());
  EXPECT_EQ(m.state(kInf), m.frames.back());

  const FrameState mid = m.state(0.5 / 60);
  const FrameState& a = m.frames[0];
  const FrameState& b = m.frames[1];
  EXPECT_NEAR(mid.pointer.x, (a.pointer.x + b.pointer.x) / 2, 1e-12);
  EXPECT_NEAR(mid.pointer.y, (a.pointer.y + b.pointer.y) / 2, 1e-12);
  EXPECT_NEAR(mid.pulse, a.pulse + 1.0 / 120, 1e-12);
  EXPECT_LT(mid.pulse, 0);  // -1 stays negative between frames

  // Inside the event the pulse keeps counting; zoom and centre blend.
  const FrameState z = m.state(1.0 + 0.25 / 60);
  EXPECT_NEAR(z.pulse, m.frames[60].pulse + 0.25 / 60, 1e-12);
  EXPECT_NEAR(z.zoom, m.frames[60].zoom + 0.25 * (m.frames[61].zoom - m.frames[60].zoom), 1e-12);
  EXPECT_EQ(z.presenterMix, 0);
}

}  // namespace
}  // namespace vantry
