#include "design/painting.h"

#include <QApplication>
#include <QBrush>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPen>
#include <QStyle>
#include <QStyleFactory>
#include <QToolTip>
#include <QWidget>

#include <algorithm>

#include "design/theme.h"

namespace vantry {

QFont uiFont(double points, QFont::Weight weight) {
  QFont font(QStringLiteral("Noto Sans CJK SC"));
  font.setFamilies({QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans"),
                    QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  // QFont takes points at 72 per inch; the interface's logical pixels are at 96.
  font.setPointSizeF(points * 72.0 / 96.0);
  font.setWeight(weight);
  return font;
}

void installInterfaceFont() {
  QApplication::setFont(uiFont(13, QFont::Normal));
}

QPalette darkPalette() {
  // Controls a shade above the raised ground; Fusion derives its bevels from these two.
  const QColor button = mixed(Theme::raised, Qt::white, 0.08);
  QPalette p(button, Theme::raised);
  p.setColor(QPalette::WindowText, Theme::text);
  p.setColor(QPalette::Base, Theme::base);
  p.setColor(QPalette::AlternateBase, mixed(Theme::base, Qt::white, 0.04));
  p.setColor(QPalette::Text, Theme::text);
  p.setColor(QPalette::ButtonText, Theme::text);
  p.setColor(QPalette::BrightText, Qt::white);
  p.setColor(QPalette::PlaceholderText, Theme::secondary);
  p.setColor(QPalette::ToolTipBase, Theme::raised);
  p.setColor(QPalette::ToolTipText, Theme::text);
  p.setColor(QPalette::Highlight, Theme::cyan);
  p.setColor(QPalette::HighlightedText, Color(0x05070C));
  p.setColor(QPalette::Link, Theme::cyan);
  p.setColor(QPalette::LinkVisited, Theme::violet);
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, Theme::tertiary);
  }
  p.setColor(QPalette::Disabled, QPalette::Highlight, mixed(Theme::raised, Qt::white, 0.16));
  return p;
}

void installDarkLook() {
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
    QApplication::setStyle(fusion);
  const QPalette palette = darkPalette();
  QApplication::setPalette(palette);
  QToolTip::setPalette(palette);
}

QPainterPath continuousRoundedRect(const QRectF& rect, double radius) {
  QPainterPath path;
  if (rect.isEmpty()) return path;
  const double half = std::min(rect.width(), rect.height()) / 2;
  const double r = std::clamp(radius, 0.0, half);
  constexpr double kReach = 1.52866471;
  if (r <= 0 || r * kReach > half) {
    path.addRoundedRect(rect, r, r);
    return path;
  }
  // One corner as offsets along the incoming edge (back towards where it came from) and the
  // outgoing edge, in radii.
  static constexpr double kCorner[10][2] = {{1.52866471, 0},          {1.08849323, 0},
                                            {0.86840689, 0.02337243}, {0.63149399, 0.07491100},
                                            {0.37282392, 0.16905966}, {0.16905966, 0.37282392},
                                            {0.07491100, 0.63149399}, {0.02337243, 0.86840689},
                                            {0, 1.08849323},          {0, 1.52866471}};
  struct Corner {
    QPointF at, back, out;
  };
  const double l = rect.left(), t = rect.top(), rr = rect.right(), b = rect.bottom();
  const Corner corners[4] = {{{rr, t}, {-1, 0}, {0, 1}},
                             {{rr, b}, {0, -1}, {-1, 0}},
                             {{l, b}, {1, 0}, {0, -1}},
                             {{l, t}, {0, 1}, {1, 0}}};
  const auto point = [r](const Corner& c, int i) {
    return c.at + c.back * (kCorner[i][0] * r) + c.out * (kCorner[i][1] * r);
  };
  path.moveTo(point(corners[3], 9));
  for (const Corner& c : corners) {
    path.lineTo(point(c, 0));
    path.cubicTo(point(c, 1), point(c, 2), point(c, 3));
    path.cubicTo(point(c, 4), point(c, 5), point(c, 6));
    path.cubicTo(point(c, 7), point(c, 8), point(c, 9));
  }
  path.closeSubpath();
  return path;
}

void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QBrush& brush) {
  if (rect.isEmpty()) return;
  painter.save();
  painter.setPen(Qt::NoPen);
  painter.setBrush(brush);
  painter.drawPath(continuousRoundedRect(rect, radius));
  painter.restore();
}

void strokeRoundedInside(QPainter& painter, const QRectF& rect, double radius, const QBrush& brush,
                         double lineWidth) {
  if (rect.isEmpty() || lineWidth <= 0) return;
  const double h = lineWidth / 2;
  const QRectF inner = rect.adjusted(h, h, -h, -h);
  if (inner.isEmpty()) return;
  painter.save();
  painter.setPen(QPen(brush, lineWidth));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(continuousRoundedRect(inner, std::max(0.0, radius - h)));
  painter.restore();
}

QColor faded(const QColor& color, double factor) {
  QColor c = color;
  c.setAlphaF(static_cast<float>(std::clamp(color.alphaF() * factor, 0.0, 1.0)));
  return c;
}

QColor mixed(const QColor& from, const QColor& to, double t) {
  t = std::clamp(t, 0.0, 1.0);
  const auto mix = [t](float a, float b) { return a + (b - a) * static_cast<float>(t); };
  return QColor::fromRgbF(mix(from.redF(), to.redF()), mix(from.greenF(), to.greenF()),
                          mix(from.blueF(), to.blueF()), mix(from.alphaF(), to.alphaF()));
}

namespace {

class HandCursorFilter : public QObject {
 public:
  explicit HandCursorFilter(QWidget* widget) : QObject(widget), widget_(widget) {
    setObjectName(QStringLiteral("vantryHandCursor"));
    apply();
    widget->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == widget_ && event->type() == QEvent::EnabledChange) apply();
    return false;
  }

 private:
  // Qt keeps one cursor per widget and re-evaluates it when the widget under the pointer
  // changes, is hidden or destroyed, so nothing needs to be popped by hand.
  void apply() {
    if (widget_->isEnabled()) {
      widget_->setCursor(Qt::PointingHandCursor);
    } else {
      widget_->unsetCursor();
    }
  }

  QWidget* widget_;
};

}  // namespace

void handCursor(QWidget* widget) {
  if (!widget ||
      widget->findChild<QObject*>(QStringLiteral("vantryHandCursor"), Qt::FindDirectChildrenOnly))
    return;
  new HandCursorFilter(widget);
}

void paintFocusRing(QPainter& painter, const QWidget* widget, const QRectF& rect, double radius) {
  if (!widget->hasFocus()) return;
  strokeRoundedInside(painter, rect, radius, Theme::cyan, kFocusBand);
  strokeRoundedInside(painter, rect.adjusted(kFocusBand, kFocusBand, -kFocusBand, -kFocusBand),
                      std::max(0.0, radius - kFocusBand), Theme::base, kFocusBand);
}

void scaleAbout(QPainter& painter, const QRectF& rect, double scale) {
  if (scale == 1.0) return;
  const QPointF c = rect.center();
  painter.translate(c);
  painter.scale(scale, scale);
  painter.translate(-c);
}

}  // namespace vantry
