#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>
#include <vector>

#include "design/motion.h"

namespace vantry {
namespace {

// Runs real animations for the length of one test.
struct Unfrozen {
  Unfrozen() { setAnimationsFrozen(false); }
  ~Unfrozen() { setAnimationsFrozen(true); }
};

void runUntil(const std::function<bool()>& done, int timeoutMs = 2000) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
}

TEST(Easing, CurvesRunFromZeroToOne) {
  EXPECT_DOUBLE_EQ(easeOutAt(0), 0);
  EXPECT_DOUBLE_EQ(easeOutAt(1), 1);
  EXPECT_GT(easeOutAt(0.5), 0.6);  // fast start, slow end
  EXPECT_NEAR(easeInOutAt(0.5), 0.5, 1e-6);
  EXPECT_NEAR(easeInOutAt(0.2) + easeInOutAt(0.8), 1.0, 1e-6);
  double previous = 0;
  for (int i = 1; i <= 100; ++i) {
    const double v = easeOutAt(i / 100.0);
    EXPECT_GE(v, previous);
    previous = v;
  }
  EXPECT_DOUBLE_EQ(easeOutAt(-1), 0);
  EXPECT_DOUBLE_EQ(easeOutAt(2), 1);
}

TEST(Springs, SettleWithinAFewResponsesAndBarelyOvershoot) {
  // Released one unit away from rest: response 0.28 s, damping 0.85 (the pill's spring).
  EXPECT_DOUBLE_EQ(springAt(0.28, 0.85, 1, 0, 0).position, 1);
  double minimum = 1;
  for (int i = 0; i <= 300; ++i)
    minimum = std::min(minimum, springAt(0.28, 0.85, 1, 0, i / 300.0).position);
  EXPECT_LT(minimum, 0);  // a damping fraction below 1 overshoots a little
  EXPECT_GT(minimum, -0.02);
  EXPECT_LT(std::abs(springAt(0.28, 0.85, 1, 0, 0.6).position), 0.01);
  // Velocity is the derivative of position.
  const double t = 0.1, dt = 1e-6;
  const double numeric =
      (springAt(0.25, 0.8, 1, 2, t + dt).position - springAt(0.25, 0.8, 1, 2, t - dt).position) /
      (2 * dt);
  EXPECT_NEAR(springAt(0.25, 0.8, 1, 2, t).velocity, numeric, 1e-4);
  // Critically damped springs never cross.
  for (int i = 0; i <= 100; ++i)
    EXPECT_GE(springAt(0.3, 1.0, 1, 0, i / 50.0).position, 0);
}

TEST(AnimatedValue, FrozenJumpsToTheTarget) {
  Animated value(0);
  int changes = 0;
  QObject::connect(&value, &Animated::changed, [&] { ++changes; });
  value.animateTo(5, Curve::spring(0.3, 0.8));
  EXPECT_EQ(value.value(), 5);
  EXPECT_FALSE(value.running());
  EXPECT_EQ(changes, 1);
  value.animateTo(5, Curve::easeOut(0.1));
  EXPECT_EQ(changes, 1);
}

TEST(AnimatedValue, EasesToItsTargetOverTime) {
  Unfrozen real;
  Animated value(0);
  std::vector<double> seen;
  QObject::connect(&value, &Animated::changed, [&] { seen.push_back(value.value()); });
  value.animateTo(1, Curve::easeOut(0.08));
  EXPECT_TRUE(value.running());
  EXPECT_EQ(value.value(), 0);  // nothing moves before the first frame
  runUntil([&] { return !value.running(); });
  EXPECT_EQ(value.value(), 1);
  ASSERT_GE(seen.size(), 2u);
  for (size_t i = 1; i < seen.size(); ++i)
    EXPECT_GE(seen[i], seen[i - 1]);
}

TEST(AnimatedValue, RetargetedSpringMovesOnWithoutAJump) {
  Unfrozen real;
  Animated value(0);
  value.animateTo(100, Curve::spring(0.25, 0.8));
  runUntil([&] { return value.value() > 30; });
  const double before = value.value();
  value.animateTo(0, Curve::spring(0.25, 0.8));
  EXPECT_EQ(value.value(), before);  // continues from where it was
  runUntil([&] { return !value.running(); });
  EXPECT_EQ(value.value(), 0);
}

TEST(RepeatingPhase, StartsOnceAndRestsAtItsEndWhenFrozen) {
  Repeating pulse(1.4, false);
  EXPECT_FALSE(pulse.started());
  EXPECT_EQ(pulse.phase(), 0);
  pulse.start();
  EXPECT_TRUE(pulse.started());
  EXPECT_EQ(pulse.phase(), 1);
  pulse.stop();
  EXPECT_TRUE(pulse.started());  // paused, not reset
}

TEST(RepeatingPhase, BreathesBackAndForth) {
  Unfrozen real;
  Repeating breath(0.05, true);
  breath.start();
  double high = 0, low = 1;
  int frames = 0;
  QObject::connect(&breath, &Repeating::changed, [&] {
    high = std::max(high, breath.phase());
    low = std::min(low, breath.phase());
    ++frames;
  });
  runUntil([&] { return frames > 20; });
  EXPECT_GT(high, 0.8);
  EXPECT_LT(low, 0.2);
}

}  // namespace
}  // namespace vantry
