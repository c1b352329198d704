// The camera bubble on the 1920 x 1080 canvas.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "model/camera_layout.h"

namespace vantry {
namespace {

void expectRect(const Rect& r, double x, double y, double w, double h, double tolerance = 1e-9) {
  EXPECT_NEAR(r.x, x, tolerance);
  EXPECT_NEAR(r.y, y, tolerance);
  EXPECT_NEAR(r.width, w, tolerance);
  EXPECT_NEAR(r.height, h, tolerance);
}

TEST(LayoutCameraRect, DefaultBubbleAndItsShrinkWithZoom) {
  const EditSettings defaults;
  expectRect(CameraLayout::rect(defaults, 1, 0), 1485.2, 622.16, 384, 407.04);
  expectRect(CameraLayout::rect(defaults, 2, 0), 1597.67, 741.38, 271.53, 287.82, 0.01);
  // From zoom 1/0.36 on the bubble stays at 0.6 of its size.
  const Rect four = CameraLayout::rect(defaults, 4, 0);
  EXPECT_NEAR(four.width, 230.4, 1e-9);
  EXPECT_NEAR(four.height, 244.224, 1e-9);
  const Rect big = CameraLayout::rect(defaults, 40, 0);
  EXPECT_EQ(big, four);
  // A zoom below 1 (or not a number) counts as 1.
  EXPECT_EQ(CameraLayout::rect(defaults, 0.3, 0), CameraLayout::rect(defaults, 1, 0));
  EXPECT_EQ(CameraLayout::rect(defaults, std::numeric_limits<double>::quiet_NaN(), 0),
            CameraLayout::rect(defaults, 1, 0));
}

TEST(LayoutCameraRect, CornersAndDraggedPosition) {
  EditSettings s;
  s.corner = CameraCorner::topLeft;
  expectRect(CameraLayout::rect(s, 1, 0), 50.8, 50.8, 384, 407.04);
  s.corner = CameraCorner::topRight;
  expectRect(CameraLayout::rect(s, 1, 0), 1485.2, 50.8, 384, 407.04);
  s.corner = CameraCorner::bottomLeft;
  expectRect(CameraLayout::rect(s, 1, 0), 50.8, 622.16, 384, 407.04);

  // A stored position replaces the corner; at (0, 0) it is clamped to the margin.
  s.cameraPosition = Point{0, 0};
  expectRect(CameraLayout::rect(s, 1, 0), 16, 16, 384, 407.04);
  s.cameraPosition = Point{0.5, 0.5};
  expectRect(CameraLayout::rect(s, 1, 0), 960 - 192, 540 - 203.52, 384, 407.04);
}

TEST(LayoutCameraRect, PresenterMixGrowsTowardTheWholeCanvas) {
  const EditSettings defaults;
  expectRect(CameraLayout::rect(defaults, 1, 0.5), 742.6, 311.08, 1152, 743.52);
  expectRect(CameraLayout::rect(defaults, 1, 1), 0, 0, 1920, 1080);
  expectRect(CameraLayout::rect(defaults, 3, 7), 0, 0, 1920, 1080);
  EXPECT_EQ(CameraLayout::rect(defaults, 1, -2), CameraLayout::rect(defaults, 1, 0));
  EXPECT_EQ(CameraLayout::rect(defaults, 1, std::numeric_limits<double>::quiet_NaN()),
            CameraLayout::rect(defaults, 1, 0));
}

TEST(LayoutCameraRect, HandEditedSettingsGiveAFiniteRectangle) {
  EditSettings s;
  s.cameraSize = 1e306;
  s.padding = 1e308;
  for (double mix : {0.0, 0.5}) {
    const Rect r = CameraLayout::rect(s, 1, mix);
    EXPECT_TRUE(std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) &&
                std::isfinite(r.height))
        << mix;
  }
  expectRect(CameraLayout::rect(s, 1, 1), 0, 0, 1920, 1080);
  s.cameraSize = -0.2;
  const Rect r = CameraLayout::rect(s, 1, 0);
  EXPECT_EQ(r.width, 0);
  EXPECT_EQ(r.height, 0);
}

TEST(LayoutCameraClamp, MarginsAndOversizedBoxes) {
  EXPECT_EQ(CameraLayout::clampedCenter({960, 540}, {100, 100}), (Point{960, 540}));
  EXPECT_EQ(CameraLayout::clampedCenter({5000, -5000}, {100, 100}), (Point{1854, 66}));
  // Larger than the canvas less two margins: the upper bound first, so it ends against
  // the left and top margins.
  EXPECT_EQ(CameraLayout::clampedCenter({960, 540}, {2000, 1200}), (Point{1016, 616}));
}

TEST(LayoutCameraDrag, ClampsWithTheUnzoomedBubble) {
  EditSettings s;
  const Point start = CameraLayout::rect(s, 1, 0).center();
  const Point far = CameraLayout::draggedPosition(start, {10000, 10000}, s);
  EXPECT_NEAR(far.x, (1920 - 192 - 16) / 1920.0, 1e-12);
  EXPECT_NEAR(far.y, (1080 - 203.52 - 16) / 1080.0, 1e-12);
  const Point origin = CameraLayout::draggedPosition({300, 300}, {-10000, -10000}, s);
  EXPECT_NEAR(origin.x, (192 + 16) / 1920.0, 1e-12);
  EXPECT_NEAR(origin.y, (203.52 + 16) / 1080.0, 1e-12);

  // A free drag lands where the pointer went, and storing it keeps the bubble there.
  const Point moved = CameraLayout::draggedPosition({960, 540}, {-100, 50}, s);
  EXPECT_NEAR(moved.x, 860 / 1920.0, 1e-12);
  EXPECT_NEAR(moved.y, 590 / 1080.0, 1e-12);
  s.cameraPosition = moved;
  const Point c = CameraLayout::rect(s, 1, 0).center();
  EXPECT_NEAR(c.x, 860, 1e-9);
  EXPECT_NEAR(c.y, 590, 1e-9);
}

}  // namespace
}  // namespace vantry
