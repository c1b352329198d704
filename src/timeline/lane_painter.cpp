#include "timeline/lane_painter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "design/buttons.h"
#include "design/icons.h"
#include "design/number_text.h"
#include "design/painting.h"
#include "design/shadow.h"
#include "design/theme.h"
#include "localization/qt/qt_text.h"

namespace vantry::timeline {

namespace {

QFont monoFont(double points, QFont::Weight weight) {
  QFont f = Theme::mono();
  f.setPointSizeF(points * 72.0 / 96.0);
  f.setWeight(weight);
  return f;
}

struct Fonts {
  QFont ruler = monoFont(9, QFont::Medium);
  QFont segmentSymbol = uiFont(10, QFont::Normal);
  QFont segmentTitle = uiFont(10.5, QFont::DemiBold);
  QFont duration = monoFont(9.5, QFont::Normal);
  QFont zoomSymbol = uiFont(9.5, QFont::DemiBold);
  QFont zoomTitle = uiFont(10, QFont::DemiBold);
  QFont amountOwn = monoFont(9.5, QFont::Bold);
  QFont amountDefault = monoFont(9.5, QFont::Normal);
  QFont presenterSymbol = uiFont(9.5, QFont::Normal);
  QFont presenterTitle = uiFont(10, QFont::DemiBold);
  QFont ghost = uiFont(10, QFont::DemiBold);
};

const Fonts& fonts() {
  static const Fonts f;
  return f;
}

// A row of label pieces laid left to right from `x`, vertically centred in `rect`.
class LabelRow {
 public:
  LabelRow(QPainter& painter, const QRectF& rect, double margin, double spacing)
      : p_(painter),
        rect_(rect),
        x_(rect.left() + margin),
        right_(rect.right() - margin),
        spacing_(spacing) {}

  void symbol(const QString& name, const QFont& font, int weight = 500) {
    const double size = symbolSizeFor(font);
    advance();
    paintSymbol(p_, name, QRectF(x_, rect_.center().y() - size / 2, size, size), p_.pen().color(),
                weight);
    x_ += size;
  }
  void text(const QString& text, const QFont& font) {
    advance();
    p_.setFont(font);
    const double w = QFontMetricsF(font).horizontalAdvance(text);
    p_.drawText(QRectF(x_, rect_.top(), w + 2, rect_.height()), Qt::AlignLeft | Qt::AlignVCenter,
                text);
    x_ += w;
  }
  // The width left after what is drawn so far, less the spacing before the next item.
  double room() const { return right_ - x_ - (any_ ? spacing_ : 0); }
  double spacing() const { return spacing_; }

  // Text pushed to the row's trailing end (after the flexible spacer). A number cut by the
  // block's edge ("2.") would read as another number: text that does not fit whole is left
  // out.
  void trailing(const QString& text, const QFont& font, const QColor& color) {
    const double w = QFontMetricsF(font).horizontalAdvance(text);
    const double left = right_ - w;
    if (left < x_ + (any_ ? spacing_ : 0)) return;
    p_.save();
    p_.setFont(font);
    p_.setPen(color);
    p_.drawText(QRectF(left, rect_.top(), w + 2, rect_.height()), Qt::AlignLeft | Qt::AlignVCenter,
                text);
    p_.restore();
  }

 private:
  void advance() {
    if (any_) x_ += spacing_;
    any_ = true;
  }
  QPainter& p_;
  QRectF rect_;
  double x_;
  double right_;
  double spacing_;
  bool any_ = false;
};

template <typename Shape>
std::pair<std::size_t, std::size_t> visible(const std::vector<Shape>& shapes, double from,
                                            double to) {
  // Shapes are in ascending x and never overlap, so their right edges ascend too.
  const auto first = std::partition_point(shapes.begin(), shapes.end(),
                                          [&](const Shape& s) { return s.rect.right() < from; });
  const auto last =
      std::partition_point(first, shapes.end(), [&](const Shape& s) { return s.rect.x <= to; });
  return {static_cast<std::size_t>(first - shapes.begin()),
          static_cast<std::size_t>(last - shapes.begin())};
}

BlockLook lookOf(const LaneScene& scene, Row row, std::size_t index, bool selected) {
  if (scene.look) return scene.look(row, index);
  return {0, selected ? 1.0 : 0.0, false};
}

QRectF laneRect(Row row, const Rect& r) {
  const Span span = rowSpan(row);
  return QRectF(r.x, span.top, r.width, span.height);
}

void paintRuler(QPainter& p, const LaneScene& scene, double from, double to) {
  const double h = rulerHeight;
  const double pps = scene.shapes->pps;
  // Labels reach about 60 points to the right of their tick.
  const std::vector<Tick> all = ticks(scene.duration, pps, from - 70, to);
  QPainterPath minor, major;
  p.setFont(fonts().ruler);
  p.setPen(Theme::secondary);
  const double baseline = 2 + QFontMetricsF(fonts().ruler).ascent();
  for (const Tick& t : all) {
    if (!t.major) {
      if (t.x >= from - 1) {
        minor.moveTo(t.x, h - 5);
        minor.lineTo(t.x, h);
      }
      continue;
    }
    if (t.x >= from - 1) {
      major.moveTo(t.x, h - 10);
      major.lineTo(t.x, h);
    }
    p.drawText(QPointF(t.x + 3, baseline), QString::fromStdString(t.label));
  }
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Color(0xFFFFFF, 0.14), 1));
  p.drawPath(minor);
  p.setPen(QPen(Color(0xFFFFFF, 0.32), 1));
  p.drawPath(major);
}

void paintGrid(QPainter& p, const LaneScene& scene, double from, double to) {
  QPainterPath path;
  for (double x : gridLines(scene.duration, scene.shapes->pps, from - 1, to + 1)) {
    path.moveTo(x, rulerHeight);
    path.lineTo(x, stackHeight);
  }
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Color(0xFFFFFF, 0.045), 1));
  p.drawPath(path);
}

// The part of a block worth drawing while content x from..to is shown. A block thousands of
// screens long (a hand-edited document) is cut far outside the view, where its rounded ends,
// shadow and labels stay out of sight; painting it whole can overflow the rasteriser.
Rect withinReach(const Rect& r, double from, double to) {
  constexpr double reach = 4096;
  const double left = std::max(r.x, from - reach);
  return {left, std::max(std::min(r.right(), to + reach) - left, 0.0)};
}

void paintSegments(QPainter& p, const LaneScene& scene, double from, double to) {
  const auto& shapes = scene.shapes->segments;
  const auto [first, last] = visible(shapes, from - 12, to + 12);
  for (std::size_t i = first; i < last; ++i) {
    const SegmentShape& s = shapes[i];
    const QRectF r = laneRect(Row::video, withinReach(s.rect, from, to));
    const BlockLook look = lookOf(scene, Row::video, i, scene.selectedSegment == s.id);
    paintTrackBlock(p, r, Theme::videoTrack, 8, look, [&](QPainter& painter) {
      LabelRow row(painter, r, 9, 6);
      row.symbol(QStringLiteral("film"), fonts().segmentSymbol);
      row.text(QL("片段 {0}", s.number), fonts().segmentTitle);
      if (s.showsDuration)
        row.trailing(QString::fromStdString(fixed(s.duration, 1) + "s"), fonts().duration,
                     Color(0xFFFFFF, 0.95 * 0.75));
    });
  }
}

void paintGhost(QPainter& p, const Ghost& ghost) {
  const QRectF r = laneRect(Row::zoom, ghost.rect);
  fillRounded(p, r, 7, Color(0x8E7CFF, 0.12));
  p.save();
  QPen dash(faded(Theme::violet, 0.8), 1.2);
  dash.setDashPattern({4 / 1.2, 3 / 1.2});  // Qt counts dashes in line widths
  dash.setMiterLimit(10);
  p.setPen(dash);
  p.setBrush(Qt::NoBrush);
  p.drawPath(continuousRoundedRect(r.adjusted(0.6, 0.6, -0.6, -0.6), 7 - 0.6));
  p.setPen(Theme::violet);
  LabelRow row(p, r, 7, 4);
  row.symbol(QStringLiteral("plus"), fonts().ghost, QFont::DemiBold);
  if (ghost.showsLabel) row.text(QL("添加缩放"), fonts().ghost);
  p.restore();
}

void paintHandle(QPainter& p, const QRectF& block, bool leading) {
  const QRectF area = leading ? QRectF(block.left(), block.top(), trimHandleWidth, block.height())
                              : QRectF(block.right() - trimHandleWidth, block.top(),
                                       trimHandleWidth, block.height());
  const QRectF grip(area.center().x() - 1.5, area.center().y() - 7, 3, 14);
  fillRounded(p, grip, 2, Qt::white);
}

void paintZooms(QPainter& p, const LaneScene& scene, double from, double to) {
  const auto& shapes = scene.shapes->zooms;
  // A move can carry a block anywhere; the ones being moved are drawn last, over the rest.
  const auto paintOne = [&](std::size_t i) {
    const ZoomShape& z = shapes[i];
    const Uuid& e = z.block.id.eventID;
    const bool selected = scene.selectedZoom == e;
    const Rect live = liveZoomRect(scene, z);
    if (live.right() < from - 20 || live.x > to + 20) return;
    const QRectF r = laneRect(Row::zoom, withinReach(live, from, to));
    BlockLook look = lookOf(scene, Row::zoom, i, selected);
    look.lifted = scene.drag && scene.drag->id == e;
    const double amount = z.block.amount.value_or(scene.defaultAmount);
    paintTrackBlock(p, r, Theme::zoomTrack, 7, look, [&](QPainter& painter) {
      LabelRow row(painter, r, selected ? 12 : 7, 5);
      row.symbol(QStringLiteral("plus.magnifyingglass"), fonts().zoomSymbol, QFont::DemiBold);
      // Each label only whole, the magnification first: it says what the zoom does.
      const bool own = z.block.amount.has_value();
      const QString level = magnificationText(amount);
      const QFont& levelFont = own ? fonts().amountOwn : fonts().amountDefault;
      const double levelWidth = QFontMetricsF(levelFont).horizontalAdvance(level);
      const bool showsLevel = zoomShowsAmount(live.width) && levelWidth <= row.room();
      const QString title = QL("缩放");
      const double titleWidth = QFontMetricsF(fonts().zoomTitle).horizontalAdvance(title);
      if (zoomShowsTitle(live.width) &&
          titleWidth + (showsLevel ? row.spacing() + levelWidth : 0) <= row.room())
        row.text(title, fonts().zoomTitle);
      if (showsLevel) row.trailing(level, levelFont, Color(0xFFFFFF, own ? 0.95 : 0.95 * 0.75));
      if (selected) {
        if (z.firstPiece) paintHandle(painter, r, true);
        if (z.lastPiece) paintHandle(painter, r, false);
      }
    });
  };
  std::vector<std::size_t> lifted;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    if (scene.drag && scene.drag->id == shapes[i].block.id.eventID) {
      lifted.push_back(i);
      continue;
    }
    paintOne(i);
  }
  for (std::size_t i : lifted)
    paintOne(i);
}

void paintPresenters(QPainter& p, const LaneScene& scene, double from, double to) {
  const auto& shapes = scene.shapes->presenters;
  const auto [first, last] = visible(shapes, from - 12, to + 12);
  for (std::size_t i = first; i < last; ++i) {
    const PresenterShape& s = shapes[i];
    const QRectF r = laneRect(Row::presenter, withinReach(s.rect, from, to));
    const bool full = s.block.fullScreen;
    const TrackColors colors =
        full ? Theme::presenterTrack : TrackColors{Color(0x1E6E57, 1), Color(0x124436, 1)};
    const BlockLook look = lookOf(scene, Row::presenter, i, scene.selectedPresenter == s.block.id);
    paintTrackBlock(p, r, colors, 7, look, [&](QPainter& painter) {
      LabelRow row(painter, r, 7, 5);
      row.symbol(full ? QStringLiteral("person.crop.rectangle.fill")
                      : QStringLiteral("rectangle.inset.bottomtrailing.filled"),
                 fonts().presenterSymbol);
      if (s.showsTitle) row.text(full ? QL("人物全屏") : QL("屏幕＋人物"), fonts().presenterTitle);
    });
  }
}

void paintPlayhead(QPainter& p, double x) {
  const QRectF bar(x - 1, 2, 2, stackHeight - 6);
  paintShadow(p, bar, 0, {faded(Theme::cyan, 0.8), 4, {0, 0}});
  QLinearGradient g(bar.topLeft(), bar.bottomLeft());
  g.setColorAt(0, Theme::cyan);
  g.setColorAt(1, Theme::violet);
  p.fillRect(bar, g);

  const QRectF head(x - 6, 2, 12, 14);
  paintShadow(p, head, 4, {faded(Theme::cyan, 0.9), 5, {0, 0}});
  // Top corners of radius 3, bottom corners of radius 6.
  QPainterPath path;
  path.moveTo(head.left() + 3, head.top());
  path.lineTo(head.right() - 3, head.top());
  path.quadTo(head.right(), head.top(), head.right(), head.top() + 3);
  path.lineTo(head.right(), head.bottom() - 6);
  path.cubicTo(head.right(), head.bottom() - 2.7, head.right() - 2.7, head.bottom(),
               head.right() - 6, head.bottom());
  path.cubicTo(head.left() + 2.7, head.bottom(), head.left(), head.bottom() - 2.7, head.left(),
               head.bottom() - 6);
  path.lineTo(head.left(), head.top() + 3);
  path.quadTo(head.left(), head.top(), head.left() + 3, head.top());
  p.setPen(Qt::NoPen);
  p.setBrush(Theme::cyan);
  p.drawPath(path);
}

}  // namespace

LaneShapes laneShapes(const Clip& clip, double pps) {
  LaneShapes s;
  s.pps = pps;
  s.segments = segmentShapes(clip.placedRanges(), pps);
  s.zoomBlocks = clip.zoomBlocks();
  s.zooms = zoomShapes(s.zoomBlocks, pps);
  s.presenters = presenterShapes(clip.presenterBlocks(), pps);
  return s;
}

Rect liveZoomRect(const LaneScene& scene, const ZoomShape& shape) {
  Rect r = shape.rect;
  const Uuid& e = shape.block.id.eventID;
  if (scene.drag && scene.drag->id == e) r.x += scene.drag->dx;
  if (scene.trim && scene.trim->id == e) {
    // The trimmed edge belongs to the event's first piece (start) or last piece (end).
    if (scene.trim->leading ? shape.firstPiece : shape.lastPiece)
      r = trimPreview(r, scene.trim->leading, scene.trim->dx);
  }
  return r;
}

QRectF playheadStrip(double x) {
  return QRectF(x - 14, 0, 28, stackHeight + 6);
}

void paintLaneBackground(QPainter& painter, const QRectF& rect) {
  fillRounded(painter, rect, 8, Color(0xFFFFFF, 0.025));
  strokeRoundedInside(painter, rect, 8, Color(0xFFFFFF, 0.04), 1);
}

void paintLanes(QPainter& p, const LaneScene& scene, double from, double to) {
  if (!scene.shapes) return;
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  paintGrid(p, scene, from, to);
  paintRuler(p, scene, from, to);
  // A lane backdrop a million points long is drawn only around what is shown; its rounded
  // ends stay out of sight when they lie outside.
  const double left = std::max(0.0, from - 20);
  const double right = std::min(scene.width, to + 20);
  for (Row row : {Row::video, Row::zoom, Row::presenter}) {
    const Span span = rowSpan(row);
    const double l = left > 0 ? left - 20 : 0;
    const double r = right < scene.width ? right + 20 : scene.width;
    p.save();
    p.setClipRect(QRectF(left, span.top, right - left, span.height), Qt::IntersectClip);
    paintLaneBackground(p, QRectF(l, span.top, r - l, span.height));
    p.restore();
  }
  paintSegments(p, scene, from, to);
  if (scene.ghost) paintGhost(p, *scene.ghost);
  paintZooms(p, scene, from, to);
  paintPresenters(p, scene, from, to);
  if (scene.hoverX)
    p.fillRect(QRectF(*scene.hoverX, rulerHeight, 1, stackHeight - rulerHeight),
               Color(0xFFFFFF, 0.18));
  if (scene.playhead) paintLanePlayhead(p, scene, from, to);
  p.restore();
}

void paintLanePlayhead(QPainter& p, const LaneScene& scene, double from, double to) {
  if (!scene.shapes) return;
  const double x = playheadX(scene.time, scene.shapes->pps, scene.width);
  if (x < from - 14 || x > to + 14) return;
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  paintPlayhead(p, x);
  p.restore();
}

}  // namespace vantry::timeline
