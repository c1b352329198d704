#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <limits>

#include "design/painting.h"
#include "design/theme.h"

namespace vantry {
namespace {

TEST(ColorFromHex, SplitsBytesOverTwoFiftyFive) {
  const QColor c = Color(0x4FD8FF);
  EXPECT_FLOAT_EQ(c.redF(), 79 / 255.0f);
  EXPECT_FLOAT_EQ(c.greenF(), 216 / 255.0f);
  EXPECT_FLOAT_EQ(c.blueF(), 1.0f);
  EXPECT_FLOAT_EQ(c.alphaF(), 1.0f);
  EXPECT_EQ(c.toRgb(), c);  // already an RGB colour
  EXPECT_EQ(c, QColor(79, 216, 255));

  const QColor rec = Color(0xFF4D6D, 0.18);
  EXPECT_EQ(rec.rgb(), Theme::rec.rgb());
  EXPECT_NEAR(rec.alphaF(), 0.18, 1e-4);
  QColor usual(0xFF, 0x4D, 0x6D);
  usual.setAlphaF(0.18f);
  EXPECT_EQ(rec, usual);
}

TEST(ColorFromHex, IgnoresTheTopByte) {
  EXPECT_EQ(Color(0xAB4FD8FF), Color(0x4FD8FF));
  EXPECT_EQ(Color(0xFF000000), Color(0x000000));
  EXPECT_EQ(Color(0xFFFFFFFF, 0.5), Color(0xFFFFFF, 0.5));
}

// Qt turns an out-of-range alpha into an invalid colour, so opacity is clamped.
TEST(ColorFromHex, ClampsOpacityToAValidColour) {
  EXPECT_TRUE(Color(0x123456, 1.7).isValid());
  EXPECT_EQ(Color(0x123456, 1.7), Color(0x123456, 1.0));
  EXPECT_EQ(Color(0x123456, -0.3).alpha(), 0);
  EXPECT_EQ(Color(0x123456, -0.3).rgb(), Color(0x123456).rgb());
  EXPECT_EQ(Color(0x123456, std::numeric_limits<double>::quiet_NaN()).alpha(), 0);
  EXPECT_EQ(Color(0x123456, std::numeric_limits<double>::infinity()).alpha(), 255);
}

TEST(Palette, NamesTheirColoursAndAliases) {
  EXPECT_EQ(Theme::base, QColor(0x07, 0x09, 0x0F));
  EXPECT_EQ(ink, Theme::base);
  EXPECT_EQ(panel, Theme::raised);
  EXPECT_EQ(edge, Theme::hairline);
  EXPECT_EQ(muted, Theme::secondary);
  EXPECT_EQ(blue, Theme::cyan);
  EXPECT_EQ(Theme::hairline.rgb(), QColor(Qt::white).rgb());
  EXPECT_NEAR(Theme::hairline.alphaF(), 0.08, 1e-4);
  EXPECT_EQ(Theme::zoomTrack[0], Theme::violet);
  EXPECT_EQ(Theme::videoTrack[1], Color(0x1B4F91));
  EXPECT_EQ(Theme::presenterTrack[0], Color(0x2BC79A));
  for (const QColor& c :
       {Theme::raised, Theme::text, Theme::secondary, Theme::tertiary, Theme::mint, Theme::amber}) {
    EXPECT_EQ(c.alpha(), 255);
  }
}

TEST(Gradients, RunAlongTheirAxesOverAnyRect) {
  EXPECT_TRUE(Theme::accent == Theme::accent);
  const QRectF r(10, 20, 200, 40);
  const QLinearGradient g = Theme::accent.over(r);
  EXPECT_EQ(g.start(), QPointF(10, 40));
  EXPECT_EQ(g.finalStop(), QPointF(210, 40));
  ASSERT_EQ(g.stops().size(), 2);
  EXPECT_EQ(g.stops()[0].second, Theme::cyan);
  EXPECT_EQ(g.stops()[1].second, Theme::violet);

  const QLinearGradient d = Theme::accentDiagonal.over(r);
  EXPECT_EQ(d.start(), QPointF(10, 20));
  EXPECT_EQ(d.finalStop(), QPointF(210, 60));
  const QLinearGradient rec = Theme::recGradient.over(r);
  EXPECT_EQ(rec.start(), QPointF(110, 20));
  EXPECT_EQ(rec.finalStop(), QPointF(110, 60));

  // The glass edge is bright at the top and nearly gone at the bottom.
  QImage image(20, 40, QImage::Format_ARGB32);
  image.fill(Qt::black);
  {
    QPainter p(&image);
    p.fillRect(QRectF(0, 0, 20, 40), Theme::glassStroke.over(QRectF(0, 0, 20, 40)));
  }
  EXPECT_GT(qRed(image.pixel(10, 0)), 35);
  EXPECT_LT(qRed(image.pixel(10, 39)), 14);
}

TEST(Fonts, MonoIsAnElevenPixelFixedPitchFace) {
  const QFont& f = Theme::mono();
  EXPECT_EQ(f.pixelSize(), 11);
  EXPECT_EQ(f.weight(), QFont::Medium);
  EXPECT_TRUE(QFontInfo(f).fixedPitch());
  EXPECT_EQ(&Theme::mono(), &f);
}

TEST(Fonts, InterfaceFontIsNotoSansCjkAtPointsAsPixels) {
  const QFont f = uiFont(11.5, QFont::Medium);
  EXPECT_TRUE(QFontInfo(f).family().startsWith("Noto Sans CJK"))
      << QFontInfo(f).family().toStdString();
  EXPECT_NEAR(QFontInfo(uiFont(12, QFont::DemiBold)).pixelSize(), 12, 1);
  EXPECT_EQ(uiFont(12, QFont::DemiBold).weight(), QFont::DemiBold);
  const QFont before = QApplication::font();
  installInterfaceFont();
  EXPECT_TRUE(QFontInfo(QApplication::font()).family().startsWith("Noto Sans CJK"));
  QApplication::setFont(before);
}

}  // namespace
}  // namespace vantry
