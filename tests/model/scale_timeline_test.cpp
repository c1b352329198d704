// Timeline scale: points per second and the ruler's tick spacing.
#include <gtest/gtest.h>

#include <limits>

#include "model/timeline_scale.h"

namespace vantry {
namespace {

using namespace TimelineScale;

TEST(ScaleTimeline, StepsAtTheUsualZoomLevels) {
  EXPECT_EQ(pixelsPerSecond(defaultZoom), 56);
  EXPECT_EQ(minorStep(56), 0.25);
  EXPECT_EQ(majorStep(56), 2);
  EXPECT_EQ(minorStep(720), 1.0 / 60);  // exactly 12 points: taken
  EXPECT_EQ(majorStep(720), 0.1);
  EXPECT_EQ(minorStep(pixelsPerSecond(1)), 2);
  EXPECT_EQ(majorStep(pixelsPerSecond(1)), 10);
  EXPECT_EQ(minorStep(360), 1.0 / 30);
  EXPECT_EQ(majorStep(650), 0.1);
  EXPECT_EQ(majorStep(649.99), 0.2);
  EXPECT_EQ(minorStep(48), 0.25);  // 0.25 is on the minor list only
  EXPECT_EQ(majorStep(48), 2);
}

TEST(ScaleTimeline, FallbacksWhenNothingIsWideEnough) {
  EXPECT_EQ(minorStep(0.01), 600);
  EXPECT_EQ(majorStep(0.01), 1800);
  EXPECT_EQ(minorStep(0), 600);
  EXPECT_EQ(majorStep(-5), 1800);
  EXPECT_EQ(minorStep(std::numeric_limits<double>::quiet_NaN()), 600);
  EXPECT_EQ(majorStep(0.11), 600);  // 600 s at 0.11 points per second is 66 points
  EXPECT_EQ(minorStep(0.04), 300);
}

}  // namespace
}  // namespace vantry
