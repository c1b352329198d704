#include "design/view_parts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <cmath>

#include "design/icons.h"
#include "design/painting.h"

namespace vantry {

ElidedText::ElidedText(QFont font, QColor color, Qt::TextElideMode elide, QWidget* parent)
    : QWidget(parent), color_(color), elide_(elide) {
  setFont(font);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedText::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  updateGeometry();
  update();
}

void ElidedText::setColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

QString ElidedText::shownText() const {
  return fontMetrics().elidedText(text_, elide_, width());
}

QSize ElidedText::sizeHint() const {
  const QFontMetrics m = fontMetrics();
  return QSize(m.horizontalAdvance(text_) + 1, m.height());
}

QSize ElidedText::minimumSizeHint() const {
  const QFontMetrics m = fontMetrics();
  return QSize(
      std::min(m.horizontalAdvance(text_) + 1, m.horizontalAdvance(QStringLiteral("…")) * 4),
      m.height());
}

void ElidedText::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setPen(color_);
  p.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, shownText());
}

CapsuleBox::CapsuleBox(Look look, int horizontalPadding, int height, int spacing, QWidget* parent)
    : QWidget(parent), look_(look) {
  setFixedHeight(height);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  row_ = new QHBoxLayout(this);
  row_->setContentsMargins(horizontalPadding, 0, horizontalPadding, 0);
  row_->setSpacing(spacing);
}

void CapsuleBox::setLook(const Look& look) {
  if (look == look_) return;
  look_ = look;
  update();
}

void CapsuleBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = rect();
  const double radius = look_.radius < 0 ? r.height() / 2 : look_.radius;
  fillRounded(p, r, radius, look_.fill);
  if (look_.border) strokeRoundedInside(p, r, radius, *look_.border, look_.borderWidth);
}

SymbolView::SymbolView(QString name, double size, QColor color, int weight, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), color_(color), weight_(weight) {
  const int side = static_cast<int>(std::ceil(size));
  setFixedSize(side, side);
}

void SymbolView::setSymbol(const QString& name) {
  if (name == name_) return;
  name_ = name;
  update();
}

void SymbolView::setColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

void SymbolView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  paintSymbol(p, name_, rect(), color_, weight_);
}

QLabel* makeLabel(const QString& text, double size, QColor color, QWidget* parent,
                  QFont::Weight weight) {
  auto* label = new QLabel(text, parent);
  label->setFont(uiFont(size, weight));
  label->setStyleSheet(QStringLiteral("color: %1;").arg(color.name()));
  return label;
}

QWidget* makeRule(QColor color, QSize size, QWidget* parent) {
  auto* rule = new QWidget(parent);
  rule->setFixedSize(size);
  rule->setAutoFillBackground(true);
  QPalette palette = rule->palette();
  palette.setColor(QPalette::Window, color);
  rule->setPalette(palette);
  return rule;
}

}  // namespace vantry
