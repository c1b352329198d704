#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "model/camera_layout.h"
#include "render/composition_geometry.h"
#include "render/export_compositor.h"
#include "render/frame_renderer.h"

namespace vantry {
namespace {

QImage solid(int w, int h, QColor c) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  image.fill(c);
  return image;
}

// Colour at a canvas point of a composed frame.
QColor at(const QImage& frame, double x, double y) {
  const double s = frame.width() / 1920.0;
  return frame.pixelColor(static_cast<int>(x * s), static_cast<int>(y * s));
}

bool near(QColor a, QColor b, int tolerance = 6) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

class Compositor : public ::testing::TestWithParam<int> {
 protected:
  QSize size() const { return QSize(GetParam() * 16 / 9, GetParam()); }
  const QImage screen_ = solid(1600, 900, Qt::red);
  const QImage camera_ = solid(480, 520, Qt::green);
};

TEST_P(Compositor, CardScreenAndBackground) {
  EditSettings s;
  s.showCursor = false;
  ExportCompositor c(s, size());
  const QImage frame = c.image(&screen_, nullptr, FrameState{});
  ASSERT_EQ(frame.size(), size());
  EXPECT_TRUE(near(at(frame, 960, 540), Qt::red));
  EXPECT_TRUE(near(at(frame, 51.2 + 25, 28.8 + 25), Qt::red));
  // The rounded corner leaves the very corner of the card to the background.
  EXPECT_FALSE(near(at(frame, 51.2 + 1.5, 28.8 + 1.5), Qt::red, 60));
  // The padding shows the gradient; the shadow falls downwards, so the margin under the
  // card is darker than the background there while the margin above it is not.
  const QImage bg = CompositionGeometry::background(0, size());
  const QColor above = at(frame, 960, 10), bgAbove = at(bg, 960, 10);
  const QColor below = at(frame, 960, 1070), bgBelow = at(bg, 960, 1070);
  EXPECT_TRUE(near(above, bgAbove, 8));
  EXPECT_LT(below.lightness(), bgBelow.lightness() - 8);
}

TEST_P(Compositor, PointerRingAndClipping) {
  EditSettings s;
  s.showClicks = true;
  ExportCompositor c(s, size());
  FrameState state;
  state.pointer = {0.5, 0.5};
  state.pulse = 0;
  const QImage frame = c.image(&screen_, nullptr, state);
  // Arrow body just below its tip, in the arrow's navy.
  EXPECT_TRUE(near(at(frame, 960 + 3 * 1.4, 540 + 14 * 1.4), QColor(0x14, 0x26, 0x3D), 40));
  // The ring at radius 18 around the pointer, width 6, fully opaque blue at pulse 0.
  EXPECT_TRUE(near(at(frame, 960 - 18, 540), QColor(0x4A, 0x85, 0xFF), 30));
  state.pulse = 0.55;
  EXPECT_TRUE(near(at(c.image(&screen_, nullptr, state), 960 - 18, 540), Qt::red));
  state.pulse = 0;
  s.showCursor = false;
  ExportCompositor off(s, size());
  const QImage plain = off.image(&screen_, nullptr, state);
  EXPECT_TRUE(near(at(plain, 960 + 3 * 1.4, 540 + 14 * 1.4), Qt::red));
  EXPECT_TRUE(near(at(plain, 960 - 18, 540), Qt::red));
  // A pointer outside the card is cut at the card's edge.
  s.showCursor = true;
  ExportCompositor edge(s, size());
  state.zoom = 2;
  state.center = {0.75, 0.75};
  state.pointer = {1, 1};
  const QImage cut = edge.image(&screen_, nullptr, state);
  EXPECT_FALSE(near(at(cut, 1920 - 51.2 + 12, 1080 - 28.8 + 10), QColor(0x4A, 0x85, 0xFF), 60));
}

TEST_P(Compositor, CameraBubbleMirroredAndFullScreen) {
  EditSettings s;
  ExportCompositor c(s, size());
  QImage camera = solid(480, 520, Qt::blue);
  QPainter(&camera).fillRect(240, 0, 240, 520, Qt::yellow);
  const QImage frame = c.image(&screen_, &camera, FrameState{});
  // Bubble (1485.2, 622.16, 384, 407.04): mirrored by default, so the yellow right half of
  // the picture shows on the left.
  EXPECT_TRUE(near(at(frame, 1485.2 + 60, 622.16 + 200), Qt::yellow));
  EXPECT_TRUE(near(at(frame, 1485.2 + 320, 622.16 + 200), Qt::blue));
  s.mirrorCamera = false;
  ExportCompositor plain(s, size());
  EXPECT_TRUE(
      near(at(plain.image(&screen_, &camera, FrameState{}), 1485.2 + 60, 622.16 + 200), Qt::blue));
  FrameState full;
  full.presenterMix = 1;
  const QImage whole = c.image(&screen_, &camera_, full);
  EXPECT_TRUE(near(at(whole, 1, 1), Qt::green));
  EXPECT_TRUE(near(at(whole, 1918, 1078), Qt::green));
  s.showCamera = false;
  ExportCompositor hidden(s, size());
  EXPECT_TRUE(near(at(hidden.image(&screen_, &camera_, FrameState{}), 1485.2 + 190, 622.16 + 200),
                   Qt::red));
}

TEST_P(Compositor, EmptyCardFullBleedAndBaseCache) {
  EditSettings s;
  ExportCompositor c(s, size());
  const QImage empty = c.image(nullptr, nullptr, FrameState{});
  EXPECT_TRUE(near(at(empty, 960, 540), Qt::white));
  EXPECT_EQ(c.baseBuilds(), 1);
  c.image(&screen_, nullptr, FrameState{});
  c.image(&screen_, nullptr, FrameState{});
  EXPECT_EQ(c.baseBuilds(), 1);  // 1600x900 has the same aspect as no picture (16:9)
  const QImage wide = solid(1600, 1000, Qt::red);
  c.image(&wide, nullptr, FrameState{});
  EXPECT_EQ(c.baseBuilds(), 2);
  s.padding = 0;
  s.showCursor = false;
  ExportCompositor bleed(s, size());
  const QImage full = bleed.image(&screen_, nullptr, FrameState{});
  EXPECT_TRUE(near(at(full, 0, 0), Qt::red));
  EXPECT_TRUE(near(at(full, 1919, 1079), Qt::red));
}

INSTANTIATE_TEST_SUITE_P(Resolutions, Compositor, ::testing::Values(720, 1080, 2160));

TEST(DemoArtwork, SizesAndSprite) {
  auto screen = drawDemoScreen();
  auto camera = drawDemoCamera();
  ASSERT_TRUE(screen && camera);
  EXPECT_EQ(screen->size(), QSize(1600, 900));
  EXPECT_EQ(camera->size(), QSize(480, 520));
  // The highlighted second sidebar entry and the button colours.
  EXPECT_EQ(screen->pixelColor(100, 250).rgb() & 0xFFFFFF, 0xD8E5FAu);
  EXPECT_EQ(screen->pixelColor(1290, 140).rgb() & 0xFFFFFF, 0x2E69BAu);
  EXPECT_EQ(camera->pixelColor(5, 5).rgb() & 0xFFFFFF, 0xC5D4D9u);
  // The arrow at (8, 8) scaled 1.4 stays inside a 64 x 72 sprite.
  QImage sprite(64, 72, QImage::Format_ARGB32_Premultiplied);
  sprite.fill(Qt::transparent);
  QPainter p(&sprite);
  drawCursor(p, QPointF(8, 8), 1.4);
  p.end();
  EXPECT_GT(sprite.pixelColor(10, 20).alpha(), 200);
  EXPECT_EQ(sprite.pixelColor(63, 5).alpha(), 0);
}

}  // namespace
}  // namespace vantry
