// Pixel probes of rendered controls: fills and borders at known points.
#include <gtest/gtest.h>

#include <QEnterEvent>
#include <QPainter>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>

#include "design/buttons.h"
#include "design/chrome.h"
#include "design/icons.h"
#include "design/neon_slider.h"
#include "design/neon_switch.h"
#include "design/painting.h"
#include "design/pill_segment.h"
#include "design/shadow.h"
#include "render_probe.h"

namespace vantry {
namespace {

int brightness(QRgb c) {
  return qRed(c) + qGreen(c) + qBlue(c);
}

// Expected colour of `over` composited on an opaque `under`.
QRgb over(QRgb under, const QColor& c) {
  const double a = c.alphaF();
  return qRgb(int(std::lround(qRed(under) * (1 - a) + c.red() * a)),
              int(std::lround(qGreen(under) * (1 - a) + c.green() * a)),
              int(std::lround(qBlue(under) * (1 - a) + c.blue() * a)));
}

::testing::AssertionResult near(QRgb actual, QRgb expected, int tolerance = 3) {
  const int d = std::max({std::abs(qRed(actual) - qRed(expected)),
                          std::abs(qGreen(actual) - qGreen(expected)),
                          std::abs(qBlue(actual) - qBlue(expected))});
  if (d <= tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << QColor(actual).name().toStdString() << " vs " << QColor(expected).name().toStdString();
}

TEST(AmbientGround, GridLinesEveryThirtyTwoPointsUpToTheEdge) {
  const auto verticals = [](double w) {
    std::vector<double> xs;
    for (const QLineF& l : ambientGridLines(w, 100)) {
      if (l.x1() == l.x2() && l.y1() == 0 && l.y2() == 100) xs.push_back(l.x1());
    }
    return xs;
  };
  const std::vector<double> at640 = verticals(640);
  ASSERT_EQ(at640.size(), 21u);
  EXPECT_EQ(at640.front(), 0);
  EXPECT_EQ(at640[1], 32);
  EXPECT_EQ(at640.back(), 640);
  EXPECT_EQ(verticals(650), at640);  // no line at 650
  // Horizontals span the full width: 0, 32, 64, 96 for a height of 100.
  const auto all = ambientGridLines(650, 100);
  EXPECT_EQ(all.size(), 21u + 4u);
  EXPECT_EQ(all.back(), QLineF(0, 96, 650, 96));
  // Zero size: one vertical and one horizontal line of zero length at the origin.
  const auto empty = ambientGridLines(0, 0);
  ASSERT_EQ(empty.size(), 2u);
  EXPECT_EQ(empty[0], QLineF(0, 0, 0, 0));
  EXPECT_EQ(empty[1], QLineF(0, 0, 0, 0));
  // Long rows do not drift: line 1000 lies exactly at 32000.
  EXPECT_EQ(ambientGridLines(32000, 1)[1000].x1(), 32000.0);
  // All of it is one path.
  EXPECT_EQ(ambientGrid(640, 100).elementCount(), 2 * (21 + 4));
}

TEST(AmbientGround, GridPixelsMatchTheStrokedPath) {
  for (double scale : {1.0, 2.0}) {
    const QSize px(int(130 * scale), int(70 * scale));
    QImage fast(px, QImage::Format_ARGB32_Premultiplied);
    fast.fill(Qt::black);
    blendAmbientGrid(fast, 130, 70, scale, 1.0);
    QImage stroked(px, QImage::Format_ARGB32_Premultiplied);
    stroked.fill(Qt::black);
    {
      QPainter p(&stroked);
      p.setRenderHint(QPainter::Antialiasing);
      p.scale(scale, scale);
      p.setPen(QPen(Qt::white, 0.5));
      p.drawPath(ambientGrid(130, 70));
    }
    int worst = 0;
    for (int y = 0; y < px.height(); ++y) {
      for (int x = 0; x < px.width(); ++x) {
        worst = std::max(worst, std::abs(qRed(fast.pixel(x, y)) - qRed(stroked.pixel(x, y))));
      }
    }
    EXPECT_LE(worst, 12) << "scale " << scale;
    // A line at 64 lights the pixels beside it; the middle of a cell stays dark.
    EXPECT_GT(qRed(fast.pixel(int(64 * scale), int(10 * scale))), 40);
    EXPECT_EQ(qRed(fast.pixel(int(48 * scale), int(16 * scale))), 0);
  }
}

TEST(AmbientGround, DarkGroundWithCornerGlows) {
  const QImage image = AmbientBackground::drawGround({1000, 700});
  const QRgb topLeft = image.pixel(80, 1);
  const QRgb bottomRight = image.pixel(950, 698);
  const QRgb middle = image.pixel(500, 350);
  // Cyan glow top-leading, violet glow bottom-trailing, dark in between.
  EXPECT_GT(qBlue(topLeft), qRed(topLeft) + 20);
  EXPECT_GT(qGreen(topLeft), qGreen(middle) + 15);
  EXPECT_GT(qRed(bottomRight), qRed(middle) + 10);
  EXPECT_GT(qBlue(bottomRight), qGreen(bottomRight));
  EXPECT_LT(brightness(middle), 3 * 40);
  EXPECT_EQ(qAlpha(middle), 255);
}

TEST(GlassCard, EdgeBrightAtTopFaintAtBottomAndShadowBelow) {
  auto* card = new QWidget;
  card->resize(200, 100);
  glass(card);
  auto* host = probeHost(card, {260, 180});
  const QImage image = grabOnGround(host);
  const QImage ground = AmbientBackground::drawGround(host->size());
  // Top edge (white 0.16) is brighter than the bottom edge (white 0.04).
  const int top = brightness(image.pixel(120, 20)) - brightness(ground.pixel(120, 20));
  const int bottom = brightness(image.pixel(120, 119)) - brightness(ground.pixel(120, 119));
  EXPECT_GT(top, bottom + 40);
  // The drop shadow darkens below the card more than above it.
  const int below = brightness(ground.pixel(120, 128)) - brightness(image.pixel(120, 128));
  const int above = brightness(ground.pixel(120, 12)) - brightness(image.pixel(120, 12));
  EXPECT_GT(below, above + 3);
  EXPECT_GT(below, 4);
  delete host;
}

TEST(GlassCard, ShadowParameters) {
  const Shadow plain = glassShadow({});
  EXPECT_EQ(plain.color.rgb(), QColor(Qt::black).rgb());
  EXPECT_NEAR(plain.color.alphaF(), 0.35, 1e-3);
  EXPECT_EQ(plain.radius, 18);
  EXPECT_EQ(plain.offset, QPointF(0, 10));
  const Shadow halo = glassShadow({16, 0.035, Theme::violet});
  EXPECT_EQ(halo.color.rgb(), Theme::violet.rgb());
  EXPECT_NEAR(halo.color.alphaF(), 0.35, 1e-3);
  EXPECT_EQ(halo.radius, 22);
  EXPECT_EQ(halo.offset, QPointF(0, 0));
}

TEST(GlassCard, ContentLargerThanTheCardIsNotClipped) {
  QWidget outer;
  outer.resize(300, 200);
  auto* card = new QWidget(&outer);
  card->setGeometry(50, 50, 100, 60);
  glass(card);
  auto* child = new QWidget(card);
  child->setGeometry(-10, -10, 140, 90);
  EXPECT_FALSE(card->mask().isEmpty() == false);
  EXPECT_EQ(card->geometry(), QRect(50, 50, 100, 60));  // no added space
}

TEST(ContinuousCorners, EaseIntoTheEdgesAndFallBackToArcsWhenCramped) {
  const QRectF r(10, 20, 200, 100);
  const QPainterPath path = continuousRoundedRect(r, 16);
  EXPECT_EQ(path.boundingRect(), r);
  EXPECT_TRUE(path.contains(r.center()));
  EXPECT_FALSE(path.contains(QPointF(10 + 3, 20 + 3)));  // the vertex is cut away
  // The curve starts earlier (about 1.53 radii from the vertex) and bends more gently than a
  // circular corner: three quarters of a radius in, it lies deeper below the top edge.
  const QRectF big(0, 0, 300, 200);
  QPainterPath arc;
  arc.addRoundedRect(big, 40, 40);
  const QPainterPath smooth = continuousRoundedRect(big, 40);
  const QPointF probe(30, 1.55);
  EXPECT_TRUE(arc.contains(probe));
  EXPECT_FALSE(smooth.contains(probe));
  EXPECT_FALSE(smooth.contains(QPointF(55, 0.02)));
  EXPECT_TRUE(smooth.contains(QPointF(70, 0.02)));
  // A capsule (radius half the height) keeps plain arcs; nothing is larger than a capsule.
  EXPECT_EQ(continuousRoundedRect(QRectF(0, 0, 100, 32), 16).boundingRect(), QRectF(0, 0, 100, 32));
  EXPECT_TRUE(continuousRoundedRect(QRectF(0, 0, 100, 32), 500).contains(QPointF(50, 16)));
  EXPECT_TRUE(continuousRoundedRect(QRectF(), 8).isEmpty());
}

TEST(ShadowMask, BlurSpreadsEvenlyAndStaysInside) {
  const QImage mask = shadowMask({40, 20}, 10, 8, 1.0);
  const int pad = (mask.width() - 40) / 2;
  EXPECT_EQ(mask.height(), 20 + 2 * pad);
  // Solid in the middle, nothing at the outer edge, symmetric left to right.
  EXPECT_GT(mask.pixelIndex(mask.width() / 2, mask.height() / 2), -1);
  const auto at = [&](int x, int y) { return int(mask.constScanLine(y)[x]); };
  EXPECT_GT(at(mask.width() / 2, mask.height() / 2), 200);
  EXPECT_LT(at(0, 0), 3);
  EXPECT_NEAR(at(pad - 2, mask.height() / 2), at(mask.width() - pad + 1, mask.height() / 2), 3);
  EXPECT_GT(at(pad - 2, mask.height() / 2), at(pad - 8, mask.height() / 2));
}

TEST(ShadowPainting, OpacityScalesAndOffsetMoves) {
  const auto paint = [](const Shadow& shadow) {
    QImage image(200, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    paintShadow(p, QRectF(60, 60, 80, 40), 8, shadow);
    return image;
  };
  const QImage full = paint({Color(0x000000, 1.0), 18, {}});
  const QImage faint = paint({Color(0x000000, 0.35), 18, {}});
  const QImage dropped = paint({Color(0x000000, 1.0), 18, {0, 10}});
  // Inside the shape the blurred coverage is near full; opacity scales it.
  const int a = qAlpha(full.pixel(100, 80));
  EXPECT_GT(a, 200);
  EXPECT_NEAR(qAlpha(faint.pixel(100, 80)), a * 0.35, 3);
  // Halo: equal above and below the shape; drop shadow: stronger below.
  EXPECT_NEAR(qAlpha(full.pixel(100, 52)), qAlpha(full.pixel(100, 107)), 2);
  EXPECT_GT(qAlpha(dropped.pixel(100, 110)), qAlpha(dropped.pixel(100, 50)) + 40);
  // Clear colours and empty shapes draw nothing.
  const QImage none = paint({QColor(Qt::transparent), 18, {}});
  EXPECT_EQ(qAlpha(none.pixel(100, 80)), 0);
}

TEST(ShadowPainting, LargeShapesMatchAFullBlur) {
  // A card-sized shadow is drawn from a short stand-in; it must look like the full blur.
  for (double scale : {1.0, 2.0}) {
    const QSizeF size(600, 260);
    QImage sliced(QSize(int(720 * scale), int(400 * scale)), QImage::Format_ARGB32_Premultiplied);
    sliced.setDevicePixelRatio(scale);
    sliced.fill(Qt::transparent);
    {
      QPainter p(&sliced);
      paintShadow(p, QRectF(QPointF(60, 50), size), 16, Shadow{Qt::black, 18, {0, 10}});
    }
    const QImage full = shadowMask(size, 16, 18, scale);
    const int pad = int((full.width() / scale - size.width()) / 2);
    int worst = 0;
    for (int y = 0; y < full.height(); y += 3) {
      for (int x = 0; x < full.width(); x += 3) {
        const int expected = full.constScanLine(y)[x];
        const QPoint at(int((60 - pad) * scale) + x, int((60 - pad) * scale) + y);
        worst = std::max(worst, std::abs(qAlpha(sliced.pixel(at)) - expected));
      }
    }
    EXPECT_LE(worst, 3) << "scale " << scale;
  }
}

// The ground keeps the shadows on it in one picture with itself: a card that moved, grew,
// changed its shadow or went, and a button carried along by its parent (which tells the
// button nothing), look as on a ground drawn afresh.
TEST(ShadowHost, KeptShadowsFollowTheirControls) {
  struct Scene {
    std::unique_ptr<AmbientBackground> ground = std::make_unique<AmbientBackground>();
    QWidget* card = new QWidget(ground.get());
    QWidget* box = new QWidget(ground.get());
    Scene(QRect cardAt, bool halo, QPoint boxAt) {
      ground->setAttribute(Qt::WA_DontShowOnScreen);
      ground->resize(400, 300);
      card->setGeometry(cardAt);
      glass(card, {16, 0.035, halo ? std::optional<QColor>(Theme::violet) : std::nullopt});
      box->setGeometry(QRect(boxAt, QSize(120, 50)));
      (new PrimaryButton("Go", {}, {}, box))->setGeometry(10, 10, 90, 30);
      ground->show();
      QCoreApplication::processEvents();
    }
    QImage image() { return grabOnGround(ground.get()); }
  };
  Scene scene({40, 40, 150, 100}, false, {220, 200});
  (void)scene.image();
  scene.card->setGeometry(60, 70, 180, 90);
  glass(scene.card, {16, 0.035, Theme::violet});
  scene.box->move(200, 150);
  EXPECT_EQ(scene.image(), Scene({60, 70, 180, 90}, true, {200, 150}).image());
  scene.card->hide();
  Scene without({60, 70, 180, 90}, true, {200, 150});
  without.card->hide();
  EXPECT_EQ(scene.image(), without.image());
}

TEST(GlassButtonPixels, ActiveFillAndBorderInTheTint) {
  GlassButton* button = new GlassButton("Split", {}, {true, Theme::cyan, false});
  button->resize(100, 28);
  auto* host = probeHost(button);
  const QImage image = grabOnGround(host);
  const QImage ground = AmbientBackground::drawGround(host->size());
  // Fill: cyan at 0.16 over the ground, away from the label and the border.
  const QPoint fillPoint(20 + 4, 20 + 14);
  EXPECT_TRUE(
      near(image.pixel(fillPoint), over(ground.pixel(fillPoint), faded(Theme::cyan, 0.16))));
  // Border: cyan at 0.55 over the fill, on the one-point line inside the top edge.
  const QPoint borderPoint(20 + 50, 20);
  const QRgb filled = over(ground.pixel(borderPoint), faded(Theme::cyan, 0.16));
  EXPECT_TRUE(near(image.pixel(borderPoint), over(filled, faded(Theme::cyan, 0.55)), 6));
  // Nothing outside the button.
  const QPoint outside(20 + 50, 17);
  EXPECT_TRUE(near(image.pixel(outside), ground.pixel(outside)));
  delete host;
}

TEST(GlassButtonPixels, HoverWashesWhite) {
  GlassButton* button = new GlassButton("Split");
  button->resize(100, 28);
  auto* host = probeHost(button);
  QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QCoreApplication::sendEvent(button, &e);
  const QImage image = grabOnGround(host);
  const QImage ground = AmbientBackground::drawGround(host->size());
  const QPoint p(20 + 4, 20 + 14);
  EXPECT_TRUE(near(image.pixel(p), over(ground.pixel(p), Color(0xFFFFFF, 0.08))));
  delete host;
}

TEST(FocusRing, ShownOnlyWithTheKeyboardFocus) {
  auto* button = new GlassButton("Split");
  button->resize(100, 28);
  auto* host = probeHost(button);
  EXPECT_EQ(button->focusPolicy(), Qt::TabFocus);  // a click does not focus it
  const QPoint edge(20 + 50, 20);
  const QRgb before = grabOnGround(host).pixel(edge);
  QApplication::setActiveWindow(host);
  button->setFocus(Qt::TabFocusReason);
  QCoreApplication::processEvents();
  if (!button->hasFocus()) {
    delete host;
    GTEST_SKIP() << "no focus on this platform";
  }
  const QRgb ring = grabOnGround(host).pixel(edge);
  EXPECT_GT(qBlue(ring), qBlue(before) + 80);
  EXPECT_GT(qGreen(ring), qRed(ring) + 40);
  delete host;
}

// The ring's two bands, from the theme's colours: the accent band stands out from every
// ground a control sits on, the dark band from every light face (the accent gradients, the
// mint pill, white knobs and buttons), and the two from each other.
TEST(FocusRing, BandsStandOutFromTheThemesGroundsAndFaces) {
  for (const QColor ground : {Theme::base, Theme::raised, Color(0x111317)})
    EXPECT_GE(contrastRatio(Theme::cyan, ground), 3) << ground.name().toStdString();
  for (const QColor face :
       {Theme::cyan, Theme::violet, Theme::mint, Theme::text, QColor(Qt::white)})
    EXPECT_GE(contrastRatio(Theme::base, face), 3) << face.name().toStdString();
  EXPECT_GE(contrastRatio(Theme::cyan, Theme::base), 3);
}

// Lit by Tab, each kind of control changes two points or more by 3:1 at its edge, and the
// ring stands out 3:1 from what is around it: on dark glass, on the gradient capsules, on a
// switch that is on or off, around a slider and a segmented choice.
TEST(FocusRing, TwoPointsThatStandOutOnEveryKindOfControl) {
  const auto whole = [](QWidget* w) { return w->rect(); };
  const auto track = [](QWidget* w) { return static_cast<NeonSwitch*>(w)->trackRect().toRect(); };
  struct Case {
    const char* name;
    std::function<QWidget*()> make;
    std::function<QRect(QWidget*)> ring;
  };
  const Case cases[] = {
      {"glass", [] { return new GlassButton("Split", "scissors"); }, whole},
      {"primary", [] { return new PrimaryButton("Export Video", "square.and.arrow.up"); }, whole},
      {"record", [] { return new RecordButton("New Recording"); }, whole},
      {"switch on", [] { return new NeonSwitch("Auto Zoom", true); }, track},
      {"switch off", [] { return new NeonSwitch("Auto Zoom", false); }, track},
      {"slider", [] { return new NeonSlider(0.5, 0, 1); }, whole},
      {"pill segment",
       [] {
         return new PillSegment({{false, "Screen + Camera", {}}, {true, "Full Presenter", {}}},
                                false, Theme::mint);
       },
       whole},
  };
  for (const Case& c : cases) {
    QWidget* control = c.make();
    control->resize(control->sizeHint().expandedTo(QSize(200, 0)));
    QWidget* host = probeHost(control);
    const RingMeasure ring = measureFocusRing(host, control, c.ring(control));
    delete host;
    if (!ring.lit) GTEST_SKIP() << "no focus on this platform";
    EXPECT_GE(ring.band, 2) << c.name;
    EXPECT_GE(ring.outside, 3) << c.name;
  }
}

TEST(PrimaryButtonPixels, GradientRunsCyanToViolet) {
  auto* button = new PrimaryButton("Go");
  button->resize(200, 32);
  auto* host = probeHost(button, {240, 72});
  const QImage image = grabOnGround(host);
  const QRgb left = image.pixel(20 + 18, 20 + 16);
  const QRgb right = image.pixel(20 + 182, 20 + 16);
  EXPECT_TRUE(near(left, QColor(Theme::cyan).rgb(), 24));
  EXPECT_TRUE(near(right, QColor(Theme::violet).rgb(), 24));
  // The halo tints the ground just outside the capsule.
  const QImage ground = AmbientBackground::drawGround(host->size());
  EXPECT_GT(qGreen(image.pixel(120, 20 + 35)), qGreen(ground.pixel(120, 20 + 35)) + 4);

  // A new style is painted at once, not a kept image of the old one.
  button->setButtonStyle({Theme::recGradient, Theme::rec});
  const QRgb red = grabOnGround(host).pixel(20 + 18, 20 + 16);
  EXPECT_GT(qRed(red), 200);
  EXPECT_LT(qGreen(red), 120);
  button->setButtonStyle({});

  button->setEnabled(false);
  const QImage dim = grabOnGround(host);
  EXPECT_TRUE(near(dim.pixel(20 + 18, 20 + 16),
                   over(ground.pixel(20 + 18, 20 + 16), Color(0xFFFFFF, 0.08)), 4));
  EXPECT_TRUE(near(dim.pixel(120, 20 + 35), ground.pixel(120, 20 + 35), 1));
  delete host;
}

TEST(RecordButtonPixels, RedCapsuleWhileRecording) {
  auto* button = new RecordButton("Stop", {true});
  button->resize(120, 32);
  auto* host = probeHost(button);
  const QImage image = grabOnGround(host);
  const QImage ground = AmbientBackground::drawGround(host->size());
  const QPoint fill(20 + 100, 20 + 16);
  EXPECT_TRUE(near(image.pixel(fill), over(ground.pixel(fill), faded(Theme::rec, 0.18)), 4));
  // The stop mark: a solid red square centred in the 14-point indicator at x 11...25.
  EXPECT_TRUE(near(image.pixel(20 + 18, 20 + 16), QColor(Theme::rec).rgb(), 4));
  delete host;
}

TEST(PillSegmentPixels, SelectedPillAndHairlineFrame) {
  auto* pill = new PillSegment({{0, "A", {}}, {1, "B", {}}}, 1);
  pill->resize(202, 30);
  auto* host = probeHost(pill);
  const QImage image = grabOnGround(host);
  const QImage ground = AmbientBackground::drawGround(host->size());
  const QRgb trough = over(ground.pixel(20 + 30, 20 + 6), Color(0x000000, 0.28));
  EXPECT_TRUE(near(image.pixel(20 + 30, 20 + 6), trough));
  // Second segment carries the pill: cyan 0.2 fill inside a cyan 0.5 border.
  const QPoint in(20 + 110, 20 + 6);
  const QRgb inTrough = over(ground.pixel(in), Color(0x000000, 0.28));
  EXPECT_TRUE(near(image.pixel(in), over(inTrough, faded(Theme::cyan, 0.2))));
  const QPoint border(20 + 150, 20 + 2);
  EXPECT_GT(qGreen(image.pixel(border)), qGreen(image.pixel(in)) + 40);
  // Hairline frame: white 0.08 on the outermost line.
  const QPoint frame(20 + 100, 20);
  EXPECT_TRUE(near(image.pixel(frame),
                   over(over(ground.pixel(frame), Color(0, 0.28)), Theme::hairline), 4));
  delete host;
}

TEST(NeonSwitchPixels, TrackFillFollowsTheState) {
  auto* toggle = new NeonSwitch(QString(), false);
  toggle->resize(60, 20);
  auto* host = probeHost(toggle);
  const QImage ground = AmbientBackground::drawGround(host->size());
  const QPoint track(20 + 26 + 30, 20 + 10);  // inside the track, right of the knob when off
  const QImage off = grabOnGround(host);
  EXPECT_TRUE(near(off.pixel(track), over(ground.pixel(track), Color(0xFFFFFF, 0.12))));
  toggle->setChecked(true);
  const QImage on = grabOnGround(host);
  const QPoint left(20 + 26 + 6, 20 + 10);  // left of the knob when on: cyan end
  EXPECT_TRUE(near(on.pixel(left), QColor(Theme::cyan).rgb(), 30));
  // Knob is white at the trailing end.
  EXPECT_TRUE(near(on.pixel(20 + 26 + 24, 20 + 10), qRgb(255, 255, 255), 2));
  delete host;
}

TEST(Symbols, EveryNamedSymbolDrawsInsideItsBox) {
  const char* names[] = {"play.fill",         "pause.fill",
                         "scissors",          "plus.magnifyingglass",
                         "record.circle",     "person.fill",
                         "video.slash.fill",  "mic.fill",
                         "xmark.circle.fill", "square.and.arrow.up",
                         "sparkles",          "trash",
                         "gearshape",         "display",
                         "cursorarrow",       "timeline.selection"};
  for (const char* name : names) {
    ASSERT_TRUE(hasSymbol(QString::fromLatin1(name))) << name;
    QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter p(&image);
      paintSymbol(p, QString::fromLatin1(name), QRectF(10, 10, 20, 20), Theme::text);
    }
    int inside = 0, outside = 0;
    for (int y = 0; y < 40; ++y) {
      for (int x = 0; x < 40; ++x) {
        const int a = qAlpha(image.pixel(x, y));
        if (x >= 9 && x <= 30 && y >= 9 && y <= 30) {
          inside += a > 0;
        } else {
          outside += a > 0;
        }
      }
    }
    EXPECT_GT(inside, 20) << name;
    EXPECT_EQ(outside, 0) << name;
  }
  EXPECT_FALSE(hasSymbol(u"no.such.symbol"));
}

TEST(Symbols, HolesDoNotCutThroughTheGround) {
  QImage image(24, 24, QImage::Format_ARGB32);
  image.fill(qRgb(200, 0, 0));
  {
    QPainter p(&image);
    paintSymbol(p, u"xmark.circle.fill", QRectF(0, 0, 24, 24), Theme::text);
  }
  // The centre of the cross is knocked out of the disc: the red ground shows, opaque.
  EXPECT_EQ(qAlpha(image.pixel(12, 12)), 255);
  EXPECT_GT(qRed(image.pixel(12, 12)), 150);
  EXPECT_LT(qGreen(image.pixel(12, 12)), 100);
  EXPECT_GT(qGreen(image.pixel(12, 4)), 200);  // the disc itself
}

}  // namespace
}  // namespace vantry
