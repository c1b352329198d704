#include "design/labels.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

#include "design/buttons.h"
#include "design/icons.h"
#include "design/motion.h"
#include "design/painting.h"
#include "design/shadow.h"

namespace vantry {

namespace {

QFont captionFont() {
  QFont f = uiFont(10.5, QFont::DemiBold);
  f.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
  return f;
}

}  // namespace

TightLabel::TightLabel(const QString& symbol, const QString& title, QFont font, QColor color,
                       QWidget* parent)
    : QWidget(parent), symbol_(symbol), title_(title), color_(color) {
  setFont(font);
  setAccessibleName(title);
}

void TightLabel::setTitle(const QString& title) {
  title_ = title;
  setAccessibleName(title);
  updateGeometry();
  update();
}

void TightLabel::setColor(const QColor& color) {
  color_ = color;
  update();
}

QSize TightLabel::sizeHint() const {
  return tightLabelSize(symbol_, symbolSizeFor(font()), title_, font()).toSize();
}

void TightLabel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  paintTightLabel(p, rect(), symbol_, symbolSizeFor(font()), font().weight(), title_, font(),
                  color_);
}

SectionTitle::SectionTitle(const QString& icon, const QString& title, QColor tint, QWidget* parent)
    : QWidget(parent), icon_(icon), title_(title), tint_(tint) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(20);
  setAccessibleName(title);
}

void SectionTitle::setTitle(const QString& title) {
  title_ = title;
  setAccessibleName(title);
  updateGeometry();
  update();
}

QSize SectionTitle::sizeHint() const {
  const QFontMetricsF fm(captionFont());
  return QSize(static_cast<int>(std::ceil(20 + 8 + fm.horizontalAdvance(caption()))), 20);
}

void SectionTitle::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF badge(0, height() / 2.0 - 10, 20, 20);
  fillRounded(p, badge, 6, faded(tint_, 0.14));
  paintSymbol(p, icon_, badge.adjusted(5, 5, -5, -5), tint_, QFont::Bold);
  const QFont font = captionFont();
  const QFontMetricsF fm(font);
  const double x = badge.right() + 8;
  const double room = std::max(0.0, width() - x);
  p.setFont(font);
  p.setPen(Theme::secondary);
  p.drawText(QRectF(x, 0, room + 1, height()), Qt::AlignLeft | Qt::AlignVCenter,
             fm.elidedText(caption(), Qt::ElideRight, room + 0.5));
}

StatusDot::StatusDot(QColor color, QWidget* parent)
    : QWidget(parent), color_(color), breath_(new Repeating(0.9, true, this)) {
  setFixedSize(7, 7);
  breath_->setFrameInterval(33);
  shadow_ = new ShadowCaster(
      this,
      [this](QPainter& p) {
        const double b = brightness();
        p.setOpacity(0.55 + 0.45 * b);
        paintShadow(p, QRectF(0, 0, 7, 7), 3.5, Shadow{color_, 2 + 3 * b, {}});
        p.setOpacity(1);
      },
      shadowReach(Shadow{Qt::white, 5, {}}));
  connect(breath_, &Repeating::changed, this, [this] {
    update();
    shadow_->update();
  });
}

void StatusDot::setColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
  shadow_->update();
}

double StatusDot::brightness() const {
  return breath_->phase();
}

void StatusDot::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setOpacity(0.55 + 0.45 * brightness());
  p.setPen(Qt::NoPen);
  p.setBrush(color_);
  p.drawEllipse(QRectF(0, 0, 7, 7));
}

void StatusDot::showEvent(QShowEvent* event) {
  breath_->start();
  QWidget::showEvent(event);
}

void StatusDot::hideEvent(QHideEvent* event) {
  breath_->stop();
  QWidget::hideEvent(event);
}

}  // namespace vantry
