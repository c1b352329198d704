#include "design/painting.h"

#include <QApplication>
#include <QBrush>
#include <QEvent>
#include <QPainter>
#include <QPen>
#include <QWidget>

#include <algorithm>

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

void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QBrush& brush) {
  if (rect.isEmpty()) return;
  const double r = std::clamp(radius, 0.0, std::min(rect.width(), rect.height()) / 2);
  painter.save();
  painter.setPen(Qt::NoPen);
  painter.setBrush(brush);
  painter.drawRoundedRect(rect, r, r);
  painter.restore();
}

void strokeRoundedInside(QPainter& painter, const QRectF& rect, double radius, const QBrush& brush,
                         double lineWidth) {
  if (rect.isEmpty() || lineWidth <= 0) return;
  const double h = lineWidth / 2;
  const QRectF inner = rect.adjusted(h, h, -h, -h);
  const double r =
      std::clamp(radius - h, 0.0, std::max(0.0, std::min(inner.width(), inner.height()) / 2));
  painter.save();
  painter.setPen(QPen(brush, lineWidth));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(inner, r, r);
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

void scaleAbout(QPainter& painter, const QRectF& rect, double scale) {
  if (scale == 1.0) return;
  const QPointF c = rect.center();
  painter.translate(c);
  painter.scale(scale, scale);
  painter.translate(-c);
}

}  // namespace vantry
