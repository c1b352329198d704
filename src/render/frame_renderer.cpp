#include "render/frame_renderer.h"

#include <QFont>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "localization/localization.h"
#include "render/video_color.h"

namespace vantry {

namespace {

QImage blankImage(int w, int h) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  if (!image.isNull()) {
    image.setColorSpace(VideoColor::space());
    image.fill(Qt::transparent);
  }
  return image;
}

const QPolygonF& arrowPolygon() {
  static const QPolygonF polygon{
      QVector<QPointF>{{0, 0}, {0, 28}, {7, 21}, {13, 34}, {19, 31}, {13, 19}, {24, 18}}};
  return polygon;
}

void ellipse(QPainter& p, const QRectF& rect, uint32_t hex) {
  p.setPen(Qt::NoPen);
  p.setBrush(VideoColor::fromHex(hex));
  p.drawEllipse(rect);
}

}  // namespace

void round(QPainter& painter, const QRectF& rect, double radius, uint32_t hex) {
  painter.setPen(Qt::NoPen);
  painter.setBrush(VideoColor::fromHex(hex));
  if (radius > 0)
    painter.drawRoundedRect(rect, radius, radius);
  else
    painter.drawRect(rect);
}

void text(QPainter& painter, const std::string& string, const QRectF& rect, double size,
          uint32_t hex, QFont::Weight weight, Qt::Alignment align) {
  painter.save();
  QFont font("Noto Sans CJK SC");
  font.setPixelSize(static_cast<int>(size + 0.5));
  font.setWeight(weight);
  painter.setFont(font);
  painter.setPen(VideoColor::fromHex(hex));
  painter.drawText(rect, static_cast<int>(align | Qt::AlignTop | Qt::TextWordWrap),
                   QString::fromStdString(string));
  painter.restore();
}

namespace {

// Box blur of an image's alpha (three passes approximate a Gaussian); colour stays black.
void blurAlpha(QImage& image, int radius) {
  if (radius <= 0) return;
  const int w = image.width(), h = image.height();
  std::vector<int> line(std::max(w, h));
  auto pass = [&](bool horizontal) {
    const int count = horizontal ? w : h, lines = horizontal ? h : w;
    for (int l = 0; l < lines; ++l) {
      auto at = [&](int i) -> uint32_t& {
        return reinterpret_cast<uint32_t*>(image.scanLine(horizontal ? l : i))[horizontal ? i : l];
      };
      for (int i = 0; i < count; ++i)
        line[i] = static_cast<int>(at(i) >> 24);
      int sum = 0;
      for (int i = 0; i <= radius && i < count; ++i)
        sum += line[i];
      for (int i = 0; i < count; ++i) {
        at(i) = static_cast<uint32_t>(sum / (2 * radius + 1)) << 24;
        if (i + radius + 1 < count) sum += line[i + radius + 1];
        if (i - radius >= 0) sum -= line[i - radius];
      }
    }
  };
  for (int k = 0; k < 3; ++k) {
    pass(true);
    pass(false);
  }
}

}  // namespace

void drawCursor(QPainter& painter, QPointF tip, double scale) {
  QPainterPath path;
  path.addPolygon(arrowPolygon());
  path.closeSubpath();
  // Shadow: black at 0.4, two points down, blurred by 4 points.
  const double blur = 4 * scale;
  const int pad = static_cast<int>(std::ceil(blur * 1.5)) + 2;
  QImage shadow(static_cast<int>(std::ceil(26 * scale)) + 2 * pad,
                static_cast<int>(std::ceil(36 * scale)) + 2 * pad,
                QImage::Format_ARGB32_Premultiplied);
  if (!shadow.isNull()) {
    shadow.fill(Qt::transparent);
    {
      QPainter p(&shadow);
      p.setRenderHint(QPainter::Antialiasing);
      p.translate(pad, pad + 2 * scale);
      p.scale(scale, scale);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0, 0, 0, 102));
      p.drawPath(path);
    }
    blurAlpha(shadow, std::max(1, static_cast<int>(std::lround(blur / 2))));
    painter.drawImage(QPointF(tip.x() - pad, tip.y() - pad), shadow);
  }
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(tip);
  painter.scale(scale, scale);
  painter.setBrush(VideoColor::fromHex(0x14263D));
  painter.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPath(path);
  painter.restore();
}

std::optional<QImage> drawDemoCamera() {
  QImage image = blankImage(480, 520);
  if (image.isNull()) return std::nullopt;
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  round(p, {0, 0, 480, 520}, 0, 0xC5D4D9);
  round(p, {26, 32, 120, 195}, 10, 0xE6EBDF);
  round(p, {44, 49, 84, 130}, 5, 0xA7BCAB);
  round(p, {351, 52, 100, 235}, 8, 0x9CB2BC);
  round(p, {367, 75, 64, 9}, 3, 0xDCE5E7);
  round(p, {367, 109, 64, 9}, 3, 0xDCE5E7);
  ellipse(p, {72, 327, 350, 330}, 0x416D79);
  round(p, {207, 290, 74, 81}, 25, 0xD3A68C);
  ellipse(p, {147, 124, 194, 231}, 0xE6BCA0);
  ellipse(p, {135, 102, 213, 110}, 0x344758);
  round(p, {143, 158, 25, 106}, 10, 0x344758);
  round(p, {201, 235, 10, 12}, 5, 0x374758);
  round(p, {281, 235, 10, 12}, 5, 0x374758);
  QPainterPath mouth(QPointF(220, 291));
  mouth.quadTo(QPointF(244, 315), QPointF(269, 291));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(VideoColor::fromHex(0xBB7E6D), 4));
  p.drawPath(mouth);
  return image;
}

std::optional<QImage> drawDemoScreen() {
  QImage image = blankImage(1600, 900);
  if (image.isNull()) return std::nullopt;
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  round(p, {0, 0, 1600, 900}, 0, 0xF6F8FC);
  round(p, {0, 0, 1600, 56}, 0, 0xE8EDF4);
  const std::array<uint32_t, 3> dots{0xED7770, 0xEDBE65, 0x78BE98};
  for (int i = 0; i < 3; ++i)
    round(p, {22.0 + 24 * i, 22, 12, 12}, 6, dots[i]);
  round(p, {0, 56, 238, 844}, 0, 0xEDF1F7);
  round(p, {18, 244, 202, 46}, 10, 0xD8E5FA);
  round(p, {1280, 100, 246, 48}, 12, 0x2E69BA);

  const std::array<uint32_t, 3> panels{0xE0EAF9, 0xE0EEE9, 0xEEE6F4};
  const std::array<double, 3> cardX{296, 710, 1124};
  for (int c = 0; c < 3; ++c) {
    const double x = cardX[c];
    round(p, {x, 322, 380, 310}, 20, 0xFFFFFF);
    round(p, {x + 24, 348, 332, 144}, 13, panels[c]);
  }
  {
    const double x = cardX[0];
    round(p, {x + 52, 380, 210, 9}, 4, 0x86A8D5);
    round(p, {x + 52, 408, 178, 9}, 4, 0x86A8D5);
    round(p, {x + 52, 436, 146, 9}, 4, 0x86A8D5);
  }
  {
    const double x = cardX[1];
    const std::array<double, 4> heights{20, 41, 62, 83};
    for (int i = 0; i < 4; ++i)
      round(p, {x + 60 + 56 * i, 470 - heights[i], 34, heights[i]}, 6, 0x74AA98);
  }
  {
    const double x = cardX[2];
    for (double cx : {x + 58, x + 131, x + 204})
      ellipse(p, {cx, 388, 52, 52}, 0xAC91C1);
  }
  round(p, {296, 674, 1208, 150}, 19, 0xFFFFFF);

  text(p, L("Larkpad  /  从一个想法开始"), {590, 18, 500, 35}, 17, 0x5A6981, QFont::Normal,
       Qt::AlignHCenter);
  text(p, "larkpad", {30, 92, 210, 60}, 30, 0x243851, QFont::Bold);
  text(p, L("你的创作工作台"), {30, 139, 210, 40}, 15, 0x77869C);
  const std::array<const char*, 4> entries{"◫   工作空间", "▤   教学脚本", "◷   最近项目",
                                           "☆   收藏灵感"};
  for (int i = 0; i < 4; ++i) {
    const bool highlighted = i == 1;
    text(p, L(entries[i]), {34, 199.0 + 56 * i, 190, 40}, 18, highlighted ? 0x386ABB : 0x718099,
         highlighted ? QFont::DemiBold : QFont::Normal);
  }
  text(p, L("好想法，值得被看见。"), {30, 816, 205, 45}, 15, 0x8A96A8);
  text(p, "WORKSPACE / TEACHING", {296, 100, 700, 40}, 15, 0x7B89A0, QFont::Medium);
  text(p, L("让复杂的事，一看就懂。"), {292, 150, 1100, 80}, 49, 0x1E304B, QFont::Bold);
  text(p, L("一个清楚的步骤，一次恰到好处的聚焦。"), {296, 232, 1000, 50}, 23, 0x7A879B);
  text(p, L("＋  新建教学"), {1330, 112, 190, 38}, 20, 0xFFFFFF, QFont::DemiBold);
  const std::array<const char*, 3> titles{"01  整理你的想法", "02  演示关键步骤",
                                          "03  分享你的作品"};
  const std::array<const char*, 3> lines{"从提纲开始，让表达更清楚。", "跟随操作，把细节讲明白。",
                                         "录制完成，就可以导出分享。"};
  for (int c = 0; c < 3; ++c) {
    text(p, L(titles[c]), {cardX[c] + 26, 516, 340, 45}, 24, 0x2C405C, QFont::DemiBold);
    text(p, L(lines[c]), {cardX[c] + 26, 566, 340, 50}, 17, 0x8591A3);
  }
  text(p, L("你的下一节课"), {324, 700, 400, 50}, 25, 0x334760, QFont::DemiBold);
  text(p, L("搭好结构   →   录制演示   →   聚焦重点   →   导出视频"), {324, 756, 1040, 40}, 21,
       0x8390A4);
  return image;
}

FrameRenderer::FrameRenderer() : demoScreen_(drawDemoScreen()), demoCamera_(drawDemoCamera()) {}

}  // namespace vantry
