// Springs and the live motion engine.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/motion_engine.h"
#include "model/motion_spring.h"

namespace vantry {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(MotionSpringStep, ExactCriticallyDampedStep) {
  MotionSpring s{1, 0};
  s.advance(2, 10, 0.1);
  const double e = std::exp(-1.0);
  EXPECT_NEAR(s.value, 2 - 2 * e, 1e-15);  // ≈ 1.2642
  EXPECT_NEAR(s.velocity, 10 * e, 1e-14);  // ≈ 3.6788
  EXPECT_NEAR(s.value, 1.2642, 1e-4);
  EXPECT_NEAR(s.velocity, 3.6788, 1e-4);
}

TEST(MotionSpringStep, NonPositiveOrNaNStepChangesNothing) {
  for (double dt : {0.0, -0.5, kNaN}) {
    MotionSpring s{1, 3};
    s.advance(5, 10, dt);
    EXPECT_EQ(s.value, 1);
    EXPECT_EQ(s.velocity, 3);
  }
}

TEST(MotionSpringStep, SameResultWhateverTheTickLength) {
  MotionSpring once{0, 0};
  once.advance(1, 12, 0.5);
  MotionSpring many{0, 0};
  for (int i = 0; i < 50; ++i)
    many.advance(1, 12, 0.01);
  EXPECT_NEAR(once.value, many.value, 1e-12);
  EXPECT_NEAR(once.velocity, many.velocity, 1e-11);
}

TEST(MotionSpringStep, NeverOvershootsFromRestAndStableForLongSteps) {
  MotionSpring s{0, 0};
  double previous = 0;
  for (int i = 0; i < 600; ++i) {
    s.advance(1, 18, 1.0 / 60);
    EXPECT_LE(s.value, 1);
    EXPECT_GE(s.value, previous);
    previous = s.value;
  }
  MotionSpring big{0, 0};
  big.advance(1, 18, 1e6);
  EXPECT_DOUBLE_EQ(big.value, 1);
  EXPECT_EQ(big.velocity, 0);
}

TEST(MotionFrequencies, FollowSmoothnessAndClampHandEditedValues) {
  EXPECT_DOUBLE_EQ(motion::zoomFrequency(0.72), 10.8);
  EXPECT_DOUBLE_EQ(motion::panFrequency(0.72), 12.24);
  EXPECT_EQ(motion::zoomFrequency(0), 18);
  EXPECT_EQ(motion::panFrequency(0), 18);
  EXPECT_EQ(motion::zoomFrequency(1), 8);
  EXPECT_EQ(motion::panFrequency(1), 10);
  // Past 1.8 the zoom frequency would turn negative and the spring run away.
  EXPECT_EQ(motion::zoomFrequency(2.5), 8);
  EXPECT_EQ(motion::panFrequency(3), 10);
  EXPECT_EQ(motion::zoomFrequency(-4), 18);
  EXPECT_EQ(motion::zoomFrequency(kInf), 8);
  EXPECT_TRUE(std::isfinite(motion::zoomFrequency(kNaN)));
}

// --- Live engine ---

EditSettings settingsWith(double zoomAmount, bool follow) {
  EditSettings s;
  s.zoomAmount = zoomAmount;
  s.follow = follow;
  return s;
}

TEST(MotionEngineLive, FirstCallPlacesThePointerEvenWithoutTime) {
  MotionEngine engine;
  const FrameState state = engine.advance({0.9, 0.1}, {0.5, 0.5}, false, -1, {}, 0);
  EXPECT_TRUE(engine.initialized);
  EXPECT_EQ(state.pointer, (Point{0.9, 0.1}));
  EXPECT_EQ(engine.pointerX.velocity, 0);
  EXPECT_EQ(engine.zoom.value, 1);
  EXPECT_EQ(engine.panX.value, 0);
  EXPECT_EQ(state.zoom, 1);
  EXPECT_EQ(state.center, (Point{0.5, 0.5}));

  MotionEngine stepped;
  const FrameState first = stepped.advance({0.9, 0.1}, {0.5, 0.5}, true, 0, {}, 0.25);
  EXPECT_EQ(first.pointer, (Point{0.9, 0.1}));

  // A later call with dt 0 leaves every spring where it is.
  const MotionEngine before = stepped;
  stepped.advance({0.1, 0.9}, {0.2, 0.2}, true, 0.5, {}, 0);
  EXPECT_EQ(stepped.pointerX.value, before.pointerX.value);
  EXPECT_EQ(stepped.zoom.value, before.zoom.value);
  EXPECT_EQ(stepped.panY.value, before.panY.value);
}

TEST(MotionEngineLive, ZoomTargetFromAmountSettingsOrOne) {
  const double dt = 1.0 / 60;
  const double wz = motion::zoomFrequency(0.72);
  const auto expectedAfterOneStep = [&](double target) {
    MotionSpring s{1, 0};
    s.advance(target, wz, dt);
    return s.value;
  };
  const EditSettings settings = settingsWith(2, true);
  {
    MotionEngine e;
    e.advance({0.5, 0.5}, {0.5, 0.5}, true, 0, settings, dt, 3.0);
    EXPECT_DOUBLE_EQ(e.zoom.value, expectedAfterOneStep(3));
  }
  {
    MotionEngine e;
    e.advance({0.5, 0.5}, {0.5, 0.5}, true, 0, settings, dt);
    EXPECT_DOUBLE_EQ(e.zoom.value, expectedAfterOneStep(2));
  }
  {
    MotionEngine e;
    e.advance({0.5, 0.5}, {0.5, 0.5}, false, 0, settings, dt, 3.0);
    EXPECT_EQ(e.zoom.value, 1);
  }
}

TEST(MotionEngineLive, PanSourceIsPointerWhenFollowingElseFocus) {
  const double dt = 1.0 / 60;
  const double wp = motion::panFrequency(0.72);
  const auto panAfterOneStep = [&](double target) {
    MotionSpring s{0, 0};
    s.advance(target, wp, dt);
    return s.value;
  };
  {
    // Follow off: the pointer far away does not matter; focus x 0.6 gives target 0.2.
    MotionEngine e;
    e.advance({0.05, 0.95}, {0.6, 0.5}, true, 0, settingsWith(2, false), dt);
    EXPECT_NEAR(e.panX.value, panAfterOneStep(0.2), 1e-15);
    EXPECT_EQ(e.panY.value, 0);
  }
  {
    // Follow on: the focus is ignored; pointer x 0.9 saturates at 0.5.
    MotionEngine e;
    e.advance({0.9, 0.5}, {0.1, 0.1}, true, 0, settingsWith(2, true), dt);
    EXPECT_DOUBLE_EQ(e.panX.value, panAfterOneStep(0.5));
    EXPECT_EQ(e.panY.value, 0);
  }
  {
    // Inactive: both targets 0 whatever the pointer.
    MotionEngine e;
    e.panX.value = 0.3;
    e.advance({0.9, 0.9}, {0.9, 0.9}, false, 0, settingsWith(2, true), dt);
    MotionSpring s{0.3, 0};
    s.advance(0, wp, dt);
    EXPECT_DOUBLE_EQ(e.panX.value, s.value);
  }
}

TEST(MotionEngineLive, OutputKeepsTheViewInsideTheFrame) {
  MotionEngine e;
  e.initialized = true;
  e.zoom.value = 0.8;  // a spring that dipped below 1
  FrameState s = e.advance({0.5, 0.5}, {0.5, 0.5}, false, 1.25, {}, 0);
  EXPECT_EQ(s.zoom, 1);
  EXPECT_EQ(s.center, (Point{0.5, 0.5}));
  EXPECT_EQ(s.pulse, 1.25);
  EXPECT_EQ(s.presenterMix, 0);

  // Zoomed in with pans past the edge: the centre stays within 0.5 ± (1 - 1/z)/2.
  e.zoom.value = 4;
  e.panX.value = 3;
  e.panY.value = -3;
  s = e.advance({0.5, 0.5}, {0.5, 0.5}, true, -1, {}, 0);
  EXPECT_DOUBLE_EQ(s.center.x, 0.5 + 0.75 * 0.5);
  EXPECT_DOUBLE_EQ(s.center.y, 0.5 - 0.75 * 0.5);
  EXPECT_EQ(s.pulse, -1);
  EXPECT_EQ(s.presenterMix, 0);
}

TEST(MotionEngineLive, HandEditedValuesNeverRunAway) {
  // A smoothness far past 1 behaves like 1; unusable amounts fall back.
  EditSettings wild;
  wild.smoothness = 7;
  EditSettings one;
  one.smoothness = 1;
  MotionEngine a;
  MotionEngine b;
  for (int i = 0; i < 600; ++i) {
    const FrameState sa = a.advance({0.8, 0.2}, {0.5, 0.5}, true, 0, wild, 1.0 / 60);
    const FrameState sb = b.advance({0.8, 0.2}, {0.5, 0.5}, true, 0, one, 1.0 / 60);
    ASSERT_EQ(sa, sb);
  }
  EXPECT_NEAR(a.zoom.value, 2, 1e-6);

  for (double amount : {kNaN, kInf, -kInf}) {
    MotionEngine e;
    FrameState s;
    for (int i = 0; i < 600; ++i) {
      s = e.advance({0.5, 0.5}, {0.5, 0.5}, true, 0, settingsWith(3, true), 1.0 / 60, amount);
    }
    EXPECT_NEAR(s.zoom, 3, 1e-6) << amount;
  }
  EditSettings brokenDefault = settingsWith(kNaN, true);
  MotionEngine e;
  FrameState s;
  for (int i = 0; i < 600; ++i)
    s = e.advance({0.5, 0.5}, {0.5, 0.5}, true, 0, brokenDefault, 1.0 / 60);
  EXPECT_NEAR(s.zoom, EditSettings{}.zoomAmount, 1e-6);

  MotionEngine huge;
  for (int i = 0; i < 600; ++i) {
    s = huge.advance({0.5, 0.5}, {0.5, 0.5}, true, 0, settingsWith(1e308, true), 1.0 / 60);
  }
  EXPECT_TRUE(std::isfinite(s.zoom));
  EXPECT_TRUE(std::isfinite(s.center.x));
}

}  // namespace
}  // namespace vantry
