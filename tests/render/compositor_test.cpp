#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "model/camera_layout.h"
#include "render/composition_geometry.h"
#include "render/export_compositor.h"
#include "render/frame_renderer.h"
#include "render/kernels/pixel_kernels.h"

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

TEST(CompositorProbes, ClickRingGrowsThinsAndFadesOverItsDuration) {
  // At 1080p canvas points are pixels; the ring is centred on the pointer at (960, 540).
  EditSettings s;
  s.showClicks = true;
  ExportCompositor c(s, QSize(1920, 1080));
  const QImage screen = solid(1600, 900, Qt::red);
  FrameState state;
  state.pointer = {0.5, 0.5};
  state.pulse = 0.275;
  // Half-way (pulse 0.275 of 0.55): radius 18 + 46 / 2 = 41, width 1 + 5 / 2 = 3.5, half
  // opaque.
  const QImage frame = c.image(&screen, nullptr, state);
  const QColor half((0x4A + 0xFF) / 2, 0x85 / 2, 0xFF / 2);
  EXPECT_TRUE(near(at(frame, 960 - 41, 540), half, 12))
      << at(frame, 960 - 41, 540).name().toStdString();
  EXPECT_TRUE(near(at(frame, 960, 540 - 41), half, 12));
  EXPECT_TRUE(near(at(frame, 960 - 41 - 3, 540), Qt::red, 12));  // outside the 3.5 width
  EXPECT_TRUE(near(at(frame, 960 - 41 + 3, 540), Qt::red, 12));
  EXPECT_TRUE(near(at(frame, 960 - 18, 540), Qt::red, 12));  // where it started
  // At the click: 18 points out, 6 wide (15 to 21), fully opaque.
  state.pulse = 0;
  const QImage start = c.image(&screen, nullptr, state);
  for (int x : {960 - 21, 960 + 20, 960 - 16, 960 + 15})
    EXPECT_TRUE(near(at(start, x, 540), QColor(0x4A, 0x85, 0xFF), 16)) << x;
  for (int x : {960 - 23, 960 + 22, 960 - 14, 960 + 13})
    EXPECT_TRUE(near(at(start, x, 540), Qt::red, 16)) << x;
}

TEST(CompositorProbes, CardShadowOffsetAndBlurFromItsOwnProfile) {
  // The shadow is the card moved 18 down and blurred by 27.5. Four points above the card it
  // is as dark as 22 points beside the card; beside it the darkening falls from 3 to 30
  // points out by the ratio of the Gaussian edge, Φ(−3 / 27.5) / Φ(−30 / 27.5).
  EditSettings s;
  s.showCursor = false;
  s.showCamera = false;
  ExportCompositor c(s, QSize(1920, 1080));
  const QImage screen = solid(1600, 900, Qt::red);
  const QImage frame = c.image(&screen, nullptr, FrameState{});
  const QImage bg = CompositionGeometry::background(0, QSize(1920, 1080));
  auto darkening = [&](double x, double y) {
    return 1.0 - static_cast<double>(at(frame, x, y).value()) / at(bg, x, y).value();
  };
  // Averaged along the edge, away from the corners.
  auto above = [&](double e) {
    double sum = 0;
    for (int x = 400; x <= 1500; x += 50)
      sum += darkening(x, 28.8 - e);
    return sum / 23;
  };
  auto beside = [&](double e) {
    double sum = 0;
    for (int y = 250; y <= 800; y += 25)
      sum += darkening(51.2 - e, y);
    return sum / 23;
  };
  EXPECT_NEAR(above(4), beside(22), 0.004);
  auto phi = [](double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); };
  EXPECT_NEAR(beside(3) / beside(30), phi(-3 / 27.5) / phi(-30 / 27.5), 0.2);
}

TEST(CompositorProbes, ShadowsOfCardAndBubble) {
  // Each shadow is its shape moved down and blurred, a Gaussian edge of the blur as its
  // spread: at a distance d inside (d > 0) or outside the moved edge it darkens by
  // opacity · Φ(d / blur). Card: blur 27.5, 18 down, 35 %; bubble: 17.5, 12 down, 40 %.
  auto shadow = [](double opacity, double blur, double d) {
    return opacity * 0.5 * std::erfc(-d / blur / std::sqrt(2.0));
  };
  EditSettings s;
  s.showCursor = false;
  ExportCompositor c(s, QSize(1920, 1080));
  const QImage screen = solid(1600, 900, Qt::red);
  const QImage camera = solid(480, 520, Qt::green);
  const QImage frame = c.image(&screen, &camera, FrameState{});
  const QImage bg = CompositionGeometry::background(0, QSize(1920, 1080));
  auto darkening = [&](double x, double y) {
    return 1.0 - static_cast<double>(at(frame, x, y).value()) / at(bg, x, y).value();
  };
  // The card is (51.2, 28.8, 1817.6, 1022.4); its shadow's bottom edge lies at 1069.2.
  EXPECT_NEAR(darkening(960, 1060), shadow(0.35, 27.5, 1069.2 - 1060), 0.015);
  EXPECT_NEAR(darkening(30, 540), shadow(0.35, 27.5, 30 - 51.2), 0.015);
  EXPECT_NEAR(darkening(960, 12), shadow(0.35, 27.5, 12 - 46.8), 0.015);
  // The bubble (1485.2, 622.16, 384, 407.04) darkens the red screen below it.
  const double under = 1.0 - at(frame, 1677, 622.16 + 407.04 + 8).redF();
  EXPECT_NEAR(under, shadow(0.4, 17.5, 12 - 8), 0.015);
  // Beside the bubble the darkening falls from 3 to 20 points out as its blur says.
  auto beside = [&](double e) {
    double sum = 0;
    for (int y = 700; y <= 950; y += 10)
      sum += 1.0 - at(frame, 1485.2 - e, y).redF();
    return sum;
  };
  EXPECT_NEAR(beside(3) / beside(20), shadow(0.4, 17.5, -3) / shadow(0.4, 17.5, -20), 0.3);
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

// Settings changed one after another on one compositor give, frame by frame, exactly the
// pictures of a compositor made for the settings of the moment.
TEST(CompositorSettings, ChangesMatchANewCompositor) {
  const QSize size(1280, 720);
  const QImage screen = *drawDemoScreen();
  QImage camera = solid(480, 520, Qt::blue);
  QPainter(&camera).fillRect(240, 0, 240, 520, Qt::yellow);
  FrameState state;
  state.zoom = 1.6;
  state.center = {0.4, 0.6};
  state.pointer = {0.45, 0.55};
  state.pulse = 0.1;

  EditSettings s;
  s.showClicks = true;
  ExportCompositor reused(s, size, CompositorStyle::preview());
  reused.image(&screen, &camera, state);
  const std::vector<std::function<void(EditSettings&)>> steps{
      [](EditSettings& e) { e.padding = 0.06; },
      [](EditSettings& e) { e.background = 4; },  // another palette
      [](EditSettings& e) { e.background = 1; },  // the same palette: no new base
      [](EditSettings& e) { e.cameraSize = 0.3; },
      [](EditSettings& e) {
        e.cameraPosition = Point{700, 300};
      },
      [](EditSettings& e) { e.mirrorCamera = false; },
      [](EditSettings& e) { e.corner = CameraCorner::topLeft; },
      [](EditSettings& e) { e.showClicks = false; },
      [](EditSettings& e) { e.padding = 0; },
      [](EditSettings& e) { e.padding = -0.01; },  // same rectangle, no rounding
      [](EditSettings& e) { e.showCursor = false; },
      [](EditSettings& e) { e.showCamera = false; },
  };
  const std::vector<int> builds{2, 3, 3, 3, 3, 3, 3, 3, 4, 5, 5, 5};
  for (size_t i = 0; i < steps.size(); ++i) {
    steps[i](s);
    reused.setSettings(s);
    ExportCompositor fresh(s, size, CompositorStyle::preview());
    for (double mix : {0.0, 0.4}) {
      state.presenterMix = mix;
      EXPECT_EQ(reused.image(&screen, &camera, state), fresh.image(&screen, &camera, state))
          << "step " << i << ", mix " << mix;
      EXPECT_EQ(reused.image(nullptr, nullptr, state), fresh.image(nullptr, nullptr, state))
          << "step " << i << ", no pictures";
    }
    EXPECT_EQ(reused.baseBuilds(), builds[i]) << "step " << i;
    EXPECT_EQ(reused.settings(), s);
  }
}

TEST(CompositorStyle, PreviewCardRingAndArrow) {
  EditSettings s;
  s.showClicks = true;
  FrameState state;
  state.pointer = {0.5, 0.5};
  state.pulse = 0;
  const QSize size(1280, 720);
  ExportCompositor preview(s, size, CompositorStyle::preview());
  ExportCompositor exported(s, size);
  EXPECT_EQ(exported.style(), CompositorStyle{});

  // Without a screen picture: the light grey card, the ring of a live click, no arrow.
  const QImage empty = preview.image(nullptr, nullptr, state);
  EXPECT_EQ(at(empty, 300, 300).rgb() & 0xFFFFFF, 0xF4F6FAu);
  EXPECT_TRUE(near(at(empty, 960 - 18, 540), QColor(0x4A, 0x85, 0xFF), 30));
  EXPECT_EQ(at(empty, 960 + 3 * 1.4, 540 + 8 * 1.4).rgb() & 0xFFFFFF, 0xF4F6FAu);
  // The export draws neither on its empty white card.
  const QImage white = exported.image(nullptr, nullptr, state);
  EXPECT_EQ(at(white, 960 - 18, 540).rgb() & 0xFFFFFF, 0xFFFFFFu);
  // The ring stays inside the card: a pointer in the corner does not paint the margin.
  state.pointer = {0, 0};
  const QImage corner = preview.image(nullptr, nullptr, state);
  const QImage plain = exported.image(nullptr, nullptr, state);
  EXPECT_EQ(at(corner, 51.2 - 18, 28.8), at(plain, 51.2 - 18, 28.8));
  EXPECT_TRUE(near(at(corner, 51.2 + 18, 28.8 + 2), QColor(0x4A, 0x85, 0xFF), 30));
  // No ring without a click, and none when the pointer is hidden.
  state.pulse = -1;
  state.pointer = {0.5, 0.5};
  EXPECT_EQ(at(preview.image(nullptr, nullptr, state), 960 - 18, 540).rgb() & 0xFFFFFF, 0xF4F6FAu);
  state.pulse = 0;
  s.showCursor = false;
  preview.setSettings(s);
  EXPECT_EQ(at(preview.image(nullptr, nullptr, state), 960 - 18, 540).rgb() & 0xFFFFFF, 0xF4F6FAu);
  // With a screen picture the preview draws what the export draws; the card colour shows
  // only in the anti-aliased pixels of the card's rim.
  s.showCursor = true;
  preview.setSettings(s);
  const QImage red = solid(1600, 900, Qt::red);
  const QImage a = preview.image(&red, nullptr, state), b = exported.image(&red, nullptr, state);
  const QRect inner = exported.toOutput(QRectF(51.2, 28.8, 1817.6, 1022.4))
                          .adjusted(20, 20, -20, -20)
                          .toAlignedRect();
  int differing = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y)) {
        ++differing;
        EXPECT_FALSE(inner.contains(x, y)) << x << "," << y;
      }
  EXPECT_GT(differing, 0);
  EXPECT_LT(differing, 4000);
}

TEST(CompositorStyle, ComposeSizeAndScaledRendering) {
  EXPECT_EQ(ExportCompositor::composeSize(QSize(1280, 720)), QSize(1280, 720));
  EXPECT_EQ(ExportCompositor::composeSize(QSize(1920, 1080)), QSize(1920, 1080));
  EXPECT_EQ(ExportCompositor::composeSize(QSize(3840, 2160)), QSize(1920, 1080));
  EXPECT_EQ(ExportCompositor::composeSize(QSize(2560, 1600)), QSize(1728, 1080));
  EXPECT_EQ(ExportCompositor::composeSize(QSize(5000, 2)), QSize(1920, 2));

  EditSettings s;
  ExportCompositor c(s, ExportCompositor::composeSize(QSize(3840, 2160)),
                     CompositorStyle::preview());
  const QImage screen = *drawDemoScreen();
  const QImage camera = solid(480, 520, Qt::green);
  QImage target(3840, 2160, QImage::Format_ARGB32_Premultiplied);
  c.renderScaled(&screen, &camera, FrameState{}, target);
  ASSERT_EQ(target.size(), QSize(3840, 2160));
  const QImage small = c.image(&screen, &camera, FrameState{});
  for (QPointF p : {QPointF(10, 10), QPointF(300, 400), QPointF(1700, 800), QPointF(1900, 1070)})
    EXPECT_TRUE(near(at(target, p.x(), p.y()), at(small, p.x(), p.y()), 40))
        << p.x() << "," << p.y();
  // A null target, or one of the output size, is composed directly.
  QImage direct;
  c.renderScaled(&screen, &camera, FrameState{}, direct);
  EXPECT_EQ(direct, small);
}

TEST(CompositorStyle, ScalingSamplesTheSameOnEveryRoad) {
  // Wide rows are sampled eight at a time (picked from neighbouring pixels when shrunk less
  // than twice, gathered when more), and a doubled picture (a 1080p composition on a 2160p
  // screen) takes a quicker road still; strips narrower than eight take the plain one. Both
  // edges, both directions and both phases of the doubled pairs are covered.
  QImage src(61, 17, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < src.height(); ++y)
    for (int x = 0; x < src.width(); ++x)
      src.setPixel(x, y,
                   qRgba((x * 37 + y * 11) % 256, (x * x + y * 7) % 256, (x * y * 5) % 256, 255));
  for (const QRectF placed :
       {QRectF(0, 0, 122, 34), QRectF(1, 0, 122, 34), QRectF(4, 0, 122, 34),
        QRectF(0.3, 0, 57.7, 34), QRectF(-9.5, 0, 190, 34), QRectF(2.5, 0, 38.1, 34),
        QRectF(90, 0, 33, 34), QRectF(1, 0, 24.4, 34), QRectF(-3, 0, 140, 34)})
    for (const bool mirrored : {false, true}) {
      const auto p = kernels::placementFor(placed, src.width(), src.height(), mirrored);
      QImage whole(130, 34, QImage::Format_ARGB32_Premultiplied), strips = whole;
      whole.fill(0);
      strips.fill(0);
      kernels::ColumnTable columns;
      for (const QRect rect : {QRect(0, 0, 130, 34), QRect(3, 0, 127, 34)}) {
        kernels::samplePicture(whole, src, p, rect, columns);
        for (int x = rect.left(); x <= rect.right(); x += 7)
          kernels::samplePicture(strips, src, p, QRect(x, 0, std::min(7, rect.right() + 1 - x), 34),
                                 columns);
        EXPECT_EQ(whole, strips) << placed.x() << " " << placed.width() << " from " << rect.left()
                                 << (mirrored ? " mirrored" : "");
      }
    }
}

// Random bytes.
void scribble(std::vector<uint8_t>& bytes, unsigned seed) {
  for (uint8_t& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
}

TEST(CompositorStyle, PlanesSampleTheSameWithEveryKernel) {
  // Planes are sampled (across, then down) 32 or 8 at a time where the processor allows,
  // else one by one: the same bytes either way, for zooms in, mild and strong shrinks (one or
  // two loads; blocks too wide for these take the plain road), placements past both ends of
  // the row, and rows shorter than one wide load. The source holds exactly its bytes: a load
  // past its end shows in a sanitizer build.
  kernels::ColumnTable kept;
  for (const int srcW : {300, 45}) {
    const int srcH = 9;
    std::vector<uint8_t> src(static_cast<size_t>(srcW) * srcH);
    scribble(src, 5);
    for (const double zoom : {3.7, 1.0, 1 / 1.5, 1 / 2.5, 1 / 4.5}) {
      for (const double shift : {0.0, -0.37, 13.6, -40.2}) {
        const QRectF placed(shift, -0.5, srcW * zoom, srcH * zoom);
        const auto p = kernels::placementFor(placed, srcW, srcH, false);
        const QRect rect(2, 1, 171, 12);
        std::vector<uint8_t> expected;
        for (const auto lanes :
             {kernels::ColumnTable::Lanes::Scalar, kernels::ColumnTable::Lanes::Sixteen,
              kernels::ColumnTable::Lanes::Sixtyfour}) {
          std::vector<uint8_t> out(180 * 14, 0);
          kernels::ColumnTable columns;
          columns.widest = lanes;
          kernels::samplePlane(out.data(), 180, src.data(), srcW, srcW, srcH, p, rect, columns);
          if (expected.empty())
            expected = out;
          else
            EXPECT_EQ(out, expected) << srcW << " zoom " << zoom << " from " << shift << " lanes "
                                     << static_cast<int>(lanes);
          // A table kept from the samples before (other placements, other kernels).
          kept.widest = lanes;
          kernels::samplePlane(out.data(), 180, src.data(), srcW, srcW, srcH, p, rect, kept);
          EXPECT_EQ(out, expected) << "kept, " << srcW << " zoom " << zoom << " from " << shift;
        }
      }
    }
  }
}

TEST(CompositorStyle, CardClipOfPlanesFollowsTheCoverageOfEveryPixel) {
  // The clip is worked out once per card: each pixel takes the base by its coverage, each
  // chroma block by the mean of its four; shapes at odd and fractional positions, with no
  // radius, too big a radius, or reaching past the frame.
  const int w = 46, h = 34;
  for (const auto& [rect, radius] :
       std::vector<std::pair<QRectF, double>>{{QRectF(3.3, 2.6, 31.4, 25.1), 7.5},
                                              {QRectF(4, 3, 30, 20), 0},
                                              {QRectF(5.5, 1.5, 12, 9), 40},
                                              {QRectF(-6.2, -3.7, 60, 45), 11},
                                              {QRectF(1, 1, 0.5, 20), 2}}) {
    const kernels::RoundedRect shape = kernels::RoundedRect::from(rect, radius);
    kernels::OwnedPlanes out, base;
    out.allocate(w, h);
    base.allocate(w, h);
    scribble(out.memory, 7);
    scribble(base.memory, 11);
    kernels::OwnedPlanes expected = out;
    for (int p = 0; p < 3; ++p) {
      const ptrdiff_t offset = out.planes.data[p] - out.memory.data();
      expected.planes.data[p] = expected.memory.data() + offset;
    }
    const QRect bounds = kernels::evenAligned(shape.pixelBounds(w, h), w, h);
    auto weight = [&](int x, int y) -> uint32_t {
      const long e = std::lround(shape.coverage(x + 0.5, y + 0.5) * 255);
      return static_cast<uint32_t>(e + (e >> 7));
    };
    auto blend = [](uint8_t& d, uint8_t u, uint32_t m) {
      d = static_cast<uint8_t>((u * (256 - m) + d * m) >> 8);
    };
    const kernels::Planes& e = expected.planes;
    const kernels::Planes& b = base.planes;
    for (int y = bounds.top(); y <= bounds.bottom(); ++y)
      for (int x = bounds.left(); x <= bounds.right(); ++x)
        blend(e.data[0][y * e.stride[0] + x], b.data[0][y * b.stride[0] + x], weight(x, y));
    for (int y = bounds.top(); y <= bounds.bottom(); y += 2)
      for (int x = bounds.left(); x <= bounds.right(); x += 2) {
        const uint32_t m =
            (weight(x, y) + weight(x + 1, y) + weight(x, y + 1) + weight(x + 1, y + 1) + 2) / 4;
        for (int p = 1; p < 3; ++p)
          blend(e.data[p][y / 2 * e.stride[p] + x / 2], b.data[p][y / 2 * b.stride[p] + x / 2], m);
      }
    kernels::PlaneClip clip;
    clip.build(shape, base.planes);
    const std::vector<uint8_t> under = base.memory;
    scribble(base.memory, 13);  // the clip keeps what it needs of the base
    clip.apply(out.planes);
    EXPECT_EQ(out.memory, expected.memory) << rect.x() << "," << rect.y() << " r " << radius;

    // Clipped row by row as a picture is sampled into the card over the base, some rows
    // left for later: the bytes of sampling, then clipping.
    kernels::OwnedPlanes sampled = out;  // (its planes still point into `out`)
    out.memory = sampled.memory = under;
    kernels::OwnedPlanes picture;
    picture.allocate(24, 16);
    scribble(picture.memory, 17);
    const QRect card = shape.pixelBounds(w, h);
    const auto p =
        kernels::placementFor(QRectF(rect.x() - 2, rect.y() - 1.5, 50.5, 33.2), 24, 16, false);
    kernels::PlaneColumns columns;
    for (auto* one : {&out, &sampled}) {
      for (int k = 0; k < 3; ++k)
        one->planes.data[k] =
            one->memory.data() + (expected.planes.data[k] - expected.memory.data());
    }
    kernels::samplePlanes(out.planes, picture.planes, p, card, columns);
    clip.apply(out.planes);
    kernels::samplePlanes(sampled.planes, picture.planes, p, card, columns, &clip, 6, 11);
    clip.apply(sampled.planes, 6, 11);
    EXPECT_EQ(sampled.memory, out.memory) << rect.x() << "," << rect.y() << " r " << radius;
  }
}

TEST(CompositorStyle, PointerOnTheCardsCornerIsCutByTheCornerInPlanes) {
  // The planes are cut to the card's rounded corners row by row as they are sampled; the
  // rows under the pointer and its ring only after these are painted, as the frame does.
  EditSettings settings;
  settings.showClicks = true;
  const QSize size(640, 360);
  ExportCompositor c(settings, size);
  const QImage screen = solid(1600, 900, QColor(20, 20, 30));
  const QRectF card = c.toOutput(
      CompositionGeometry::screenClip(CompositionGeometry::screenRect(16.0 / 9, settings)));
  const int reach = static_cast<int>(CompositionGeometry::screenRadius(settings) * 640 / 1920) + 3;
  for (const QPointF pointer : {QPointF(0.01, 0.02), QPointF(0.99, 0.98)}) {
    FrameState state;
    state.pointer = {pointer.x(), pointer.y()};
    state.pulse = 0.1;
    kernels::OwnedPlanes expected, out;
    expected.allocate(size.width(), size.height());
    out.allocate(size.width(), size.height());
    const QImage frame = c.image(&screen, nullptr, state);
    kernels::tileToPlanes(frame, frame.rect(), expected.planes);
    c.renderPlanes(nullptr, &screen, nullptr, state, out.planes);
    const QPoint corner =
        pointer.x() < 0.5 ? card.topLeft().toPoint() : card.bottomRight().toPoint();
    int worst = 0;
    for (int y = corner.y() - reach; y <= corner.y() + reach; ++y)
      for (int x = corner.x() - reach; x <= corner.x() + reach; ++x)
        worst =
            std::max(worst, std::abs(out.planes.data[0][y * out.planes.stride[0] + x] -
                                     expected.planes.data[0][y * expected.planes.stride[0] + x]));
    EXPECT_LE(worst, 4) << pointer.x();
  }
}

TEST(CompositorStyle, APointerFarOffOrNotANumberLaysNothingOnThePlanes) {
  EditSettings settings;
  settings.showClicks = true;
  EditSettings hidden = settings;
  hidden.showCursor = false;
  const QSize size(640, 360);
  ExportCompositor c(settings, size), without(hidden, size);
  const QImage screen = solid(1600, 900, QColor(20, 20, 30));
  FrameState state;
  state.pulse = 0.1;
  kernels::OwnedPlanes expected, out;
  expected.allocate(size.width(), size.height());
  out.allocate(size.width(), size.height());
  without.renderPlanes(nullptr, &screen, nullptr, state, expected.planes);
  for (const Point pointer : {Point{1e300, 0.5}, Point{std::nan(""), 0.5}, Point{0.5, -1e12}}) {
    state.pointer = pointer;
    c.renderPlanes(nullptr, &screen, nullptr, state, out.planes);
    for (int y = 0; y < size.height(); ++y)
      ASSERT_EQ(std::memcmp(out.planes.data[0] + y * out.planes.stride[0],
                            expected.planes.data[0] + y * expected.planes.stride[0], size.width()),
                0)
          << pointer.x << " row " << y;
  }
}

// An export composes into pictures that come back from the encoder: around the card only
// what the last frame painted there is restored, the rest trusted to hold the base.
TEST(CompositorStyle, APictureComposedIntoAgainIsTheFrameComposedAfresh) {
  EditSettings settings;
  settings.showClicks = true;
  EditSettings padded = settings;
  padded.padding = 0.05;
  const QSize size(640, 360);
  ExportCompositor c(settings, size), other(padded, size);
  const QImage screen = solid(1600, 900, QColor(20, 20, 30));
  const QImage camera = solid(640, 360, QColor(200, 120, 40));
  auto bytes = [&](const kernels::Planes& p) {
    std::vector<uint8_t> all;
    for (int plane = 0; plane < 3; ++plane)
      for (int y = 0; y < (plane ? size.height() / 2 : size.height()); ++y) {
        const uint8_t* row = p.data[plane] + y * p.stride[plane];
        all.insert(all.end(), row, row + (plane ? size.width() / 2 : size.width()));
      }
    return all;
  };
  kernels::OwnedPlanes reused, fresh;
  reused.allocate(size.width(), size.height());
  PlanesHistory history;
  struct Step {
    ExportCompositor* compositor;
    double zoom, mix;
    bool camera;
  };
  // The bubble shrinks with the zoom, grows to the whole frame and back, goes away, and
  // another base (more padding) comes between.
  for (const Step& step : {Step{&c, 1, 0, true}, Step{&c, 2.5, 0, true}, Step{&c, 1, 0.6, true},
                           Step{&c, 1, 1, true}, Step{&c, 1.5, 0, true}, Step{&c, 1, 0, false},
                           Step{&other, 1, 0, true}, Step{&c, 2, 0, true}}) {
    FrameState state;
    state.zoom = step.zoom;
    state.presenterMix = step.mix;
    state.pointer = {0.3, 0.4};
    const QImage* cam = step.camera ? &camera : nullptr;
    step.compositor->renderPlanes(nullptr, &screen, cam, state, reused.planes, nullptr, &history);
    fresh.allocate(size.width(), size.height());
    step.compositor->renderPlanes(nullptr, &screen, cam, state, fresh.planes);
    ASSERT_EQ(bytes(reused.planes), bytes(fresh.planes))
        << "zoom " << step.zoom << " mix " << step.mix << " camera " << step.camera;
  }
}

TEST(CompositorStyle, ANewCameraPictureAloneRedrawsOnlyTheBubbleAsAFullComposeWould) {
  // Odd sizes, a mirrored bubble half grown towards the presenter and a corner layout: the
  // bubble's edge pixels blend with what lies under them, which must not be blended twice.
  QImage screen = solid(1440, 900, Qt::red);
  QImage first = solid(640, 480, Qt::green);
  QImage second(640, 480, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < second.height(); ++y)
    for (int x = 0; x < second.width(); ++x)
      second.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
  for (const double mix : {0.0, 0.37}) {
    EditSettings s;
    s.mirrorCamera = true;
    FrameState state;
    state.zoom = 1.6;
    state.presenterMix = mix;
    ExportCompositor c(s, QSize(853, 479), CompositorStyle::preview());
    QImage frame, under;
    c.render(&screen, &first, state, frame, &under);
    const QRect changed = c.renderCamera(&second, state, under, frame);
    const QImage fresh = ExportCompositor(s, QSize(853, 479), CompositorStyle::preview())
                             .image(&screen, &second, state);
    EXPECT_EQ(frame, fresh) << "mix " << mix;
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_LT(changed.width() * changed.height(), 853 * 479 / (mix > 0 ? 1 : 8));
    // Pixels outside what it reports are the first frame's.
    QImage before;
    c.render(&screen, &first, state, before);
    for (int y = 0; y < frame.height(); y += 3)
      for (int x = 0; x < frame.width(); x += 3)
        if (!changed.contains(x, y)) ASSERT_EQ(frame.pixel(x, y), before.pixel(x, y));
  }
}

TEST(CompositorStyle, ShrunkPlanesSampleTheSameOnEveryRoad) {
  // A plane shrunk up to five times (the last past a 64-byte window), mirrored or not, into
  // rows ending in a short block: the permuted road gives the plain loop's bytes, and both
  // stay within rounding of the horizontal-first sampling.
  const int srcW = 333, srcH = 97;
  std::vector<uint8_t> src(static_cast<size_t>(srcW) * srcH);
  for (int y = 0; y < srcH; ++y)
    for (int x = 0; x < srcW; ++x)
      src[static_cast<size_t>(y) * srcW + x] = static_cast<uint8_t>((x * 37 + y * y * 11) % 256);
  for (const double scale : {1.0, 1.6, 2.5, 3.7, 5.0}) {
    for (const bool mirrored : {false, true}) {
      const int w = 70, h = 30;
      const auto p = kernels::placementFor(QRectF(-3.3, -1.7, srcW / scale, srcH / scale), srcW,
                                           srcH, mirrored);
      std::vector<uint8_t> wide(w * h), plain(w * h), direct(w * h);
      kernels::ColumnTable columns;
      const QRect rect(1, 0, 37, h);
      kernels::sampleShrunkPlane(wide.data(), w, src.data(), srcW, srcW, srcH, p, rect, columns);
      kernels::sampleShrunkPlane(plain.data(), w, src.data(), srcW, srcW, srcH, p, rect, columns,
                                 false);
      kernels::samplePlane(direct.data(), w, src.data(), srcW, srcW, srcH, p, rect, columns);
      EXPECT_EQ(wide, plain) << scale << " mirrored " << mirrored;
      int worst = 0;
      for (size_t k = 0; k < direct.size(); ++k)
        worst = std::max(worst, std::abs(wide[k] - direct[k]));
      EXPECT_LE(worst, 2) << scale << " mirrored " << mirrored;
    }
  }
}

TEST(CompositorProbes, ADrawnOutShadowIsTheShadowBuiltForItsSize) {
  // A shape large enough shares the map of the least such size, drawn out at its middle:
  // within rounding of the map built for its own size, on planes and in BGRA, for sizes
  // and positions in between, after a smaller shape (built for itself) and a radius change.
  const int w = 420, h = 400;
  const std::vector<std::pair<QRectF, double>> shapes{{QRectF(60.3, 40.7, 271.5, 288.2), 32},
                                                      {QRectF(61, 52.5, 180, 170), 32},
                                                      {QRectF(58.6, 40.1, 300.25, 310), 32},
                                                      {QRectF(90.5, 80, 280, 260), 20},
                                                      {QRectF(60.3, 40.7, 271.5, 288.2), 32}};
  kernels::Shadow fitted;
  for (const auto& [rect, radius] : shapes) {
    const kernels::RoundedRect shape = kernels::RoundedRect::from(rect, radius);
    kernels::Shadow built;
    built.build(shape, 17.5, 12, 0.4);
    fitted.fit(shape, 17.5, 12, 0.4);
    QImage a(w, h, QImage::Format_ARGB32_Premultiplied);
    a.fill(QColor(200, 180, 160));
    QImage b = a.copy();
    built.apply(a);
    fitted.apply(b);
    kernels::OwnedPlanes pa, pb;
    pa.allocate(w, h);
    std::fill(pa.memory.begin(), pa.memory.end(), 200);
    pb = pa;
    for (int p = 0; p < 3; ++p)
      pb.planes.data[p] = pb.memory.data() + (pa.planes.data[p] - pa.memory.data());
    built.applyPlanes(pa.planes);
    fitted.applyPlanes(pb.planes);
    int worst = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        worst = std::max(worst, std::abs(qRed(a.pixel(x, y)) - qRed(b.pixel(x, y))));
    for (size_t k = 0; k < pa.memory.size(); ++k)
      worst = std::max(worst, std::abs(pa.memory[k] - pb.memory[k]));
    EXPECT_LE(worst, 2) << rect.width() << " x " << rect.height() << " radius " << radius;
  }
}

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
