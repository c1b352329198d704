#include "design/neon_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "design/accessibility.h"
#include "design/motion.h"
#include "design/painting.h"
#include "design/shadow.h"

namespace vantry {

namespace {

double span(double lo, double hi) {
  return std::max(hi - lo, 0.0001);
}

// 1 for anything not below 1 (NaN included), 0 below 0.
double clampUnit(double f) {
  if (!(f < 1.0)) return 1.0;
  if (f < 0.0) return 0.0;
  return f;
}

}  // namespace

NeonSlider::NeonSlider(double value, double lo, double hi, std::optional<double> step,
                       Gradient tint, QWidget* parent)
    : QWidget(parent),
      value_(value),
      lo_(lo),
      hi_(std::max(lo, hi)),
      step_(step),
      tint_(tint),
      knob_(new Animated(kKnob, this)),
      drag_(new Animated(0, this)) {
  installDesignAccessibility();
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::TabFocus);  // a click does not take the keyboard focus
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(kHeight);
  shadow_ = new ShadowCaster(
      this, [this](QPainter& p) { paintShadows(p); }, shadowReach(Shadow{Qt::white, 8, {}}));
  const auto repaint = [this] {
    update();
    shadow_->update();
  };
  connect(knob_, &Animated::changed, this, repaint);
  connect(drag_, &Animated::changed, this, repaint);
  handCursor(this);
}

void NeonSlider::setValue(double value) {
  if (value == value_) return;
  value_ = value;
  update();
  shadow_->update();
}

void NeonSlider::setValueFromAccessibility(double value) {
  if (!std::isfinite(value)) return;
  double v = value;
  if (step_ && std::isfinite(*step_) && *step_ > 0) v = *step_ * std::round(v / *step_);
  v = std::max(lo_, std::min(v, hi_));
  if (v == value_) return;
  value_ = v;
  update();
  shadow_->update();
  emit valueChanged(v);
}

void NeonSlider::setRange(double lo, double hi) {
  lo_ = lo;
  hi_ = std::max(lo, hi);
  update();
  shadow_->update();
}

void NeonSlider::setStep(std::optional<double> step) {
  step_ = step;
}

void NeonSlider::setTint(const Gradient& tint) {
  tint_ = tint;
  update();
}

double NeonSlider::knobSize() const {
  return dragging_ ? kKnobDrag : hovering_ ? kKnobHover : kKnob;
}

double NeonSlider::fraction(double value, double lo, double hi) {
  return clampUnit((value - lo) / span(lo, hi));
}

double NeonSlider::valueAt(double x, double width, double knob, double lo, double hi,
                           std::optional<double> step) {
  const double s = span(lo, hi);
  double g;
  if (width > knob) {
    g = clampUnit((x - knob / 2) / (width - knob));
  } else {
    // No travel: dividing by (width - knob) would give infinities or a reversed mapping.
    g = x >= width / 2 ? 1.0 : 0.0;
  }
  double v = lo + s * g;
  if (step && std::isfinite(*step) && *step > 0) v = *step * std::round(v / *step);
  return std::max(lo, std::min(v, hi));
}

double NeonSlider::knobOffset(double fraction, double width, double knob) {
  return fraction * std::max(width - knob, 0.0);
}

QRectF NeonSlider::knobRect() const {
  const double k = knob_->value();
  const double x = knobOffset(fraction(value_, lo_, hi_), width(), k);
  return QRectF(x, kHeight / 2.0 - k / 2, k, k);
}

QRectF NeonSlider::fillRect() const {
  const QRectF knob = knobRect();
  return QRectF(0, kHeight / 2.0 - 2, knob.center().x(), 4);
}

void NeonSlider::paintShadows(QPainter& p) {
  const double d = drag_->value();
  const QRectF fill = fillRect();
  paintShadow(p, fill, 2, Shadow{faded(Theme::cyan, 0.5), 3 + 3 * d, {}});
  const QRectF knob = knobRect();
  paintShadow(p, knob, knob.width() / 2, Shadow{faded(Theme::cyan, 0.4 + 0.4 * d), 4 + 4 * d, {}});
}

void NeonSlider::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF rail(0, kHeight / 2.0 - 2, width(), 4);
  fillRounded(p, rail, 2, Color(0xFFFFFF, 0.1));
  const QRectF fill = fillRect();
  fillRounded(p, fill, 2, tint_.over(fill));
  // Around the whole slider; the knob passes over it at the ends.
  paintFocusRing(p, this, rect(), kHeight / 2.0);
  const QRectF knob = knobRect();
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(knob);
}

void NeonSlider::dragTo(double x) {
  if (!dragging_) {
    dragging_ = true;
    stateChanged();
    emit editingChanged(true);
  }
  const double v = valueAt(x, width(), knobSize(), lo_, hi_, step_);
  if (v != value_) {
    value_ = v;
    update();
    shadow_->update();
    emit valueChanged(v);
  }
}

void NeonSlider::endDrag() {
  if (!dragging_) return;
  dragging_ = false;
  stateChanged();
  emit editingChanged(false);
}

void NeonSlider::stateChanged() {
  knob_->animateTo(knobSize(), Curve::easeOut(0.12));
  drag_->animateTo(dragging_ ? 1 : 0, Curve::easeOut(0.12));
}

void NeonSlider::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  endKeying();
  dragTo(event->position().x());
}

void NeonSlider::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || !dragging_) return QWidget::mouseMoveEvent(event);
  dragTo(event->position().x());
}

void NeonSlider::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  endDrag();
}

std::optional<double> NeonSlider::keyedValue(int key) const {
  const double s = span(lo_, hi_);
  const bool stepped = step_ && std::isfinite(*step_) && *step_ > 0;
  const double single = stepped ? *step_ : s / 100;
  const double page = std::max(single, s / 10);
  // A value outside the range moves from the end it is drawn at.
  const double from = std::isnan(value_) ? hi_ : std::clamp(value_, lo_, hi_);
  double v;
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Down:
      v = from - single;
      break;
    case Qt::Key_Right:
    case Qt::Key_Up:
      v = from + single;
      break;
    case Qt::Key_PageDown:
      v = from - page;
      break;
    case Qt::Key_PageUp:
      v = from + page;
      break;
    case Qt::Key_Home:
      v = lo_;
      break;
    case Qt::Key_End:
      v = hi_;
      break;
    default:
      return std::nullopt;
  }
  if (stepped) v = *step_ * std::round(v / *step_);
  return std::max(lo_, std::min(v, hi_));
}

void NeonSlider::keyPressEvent(QKeyEvent* event) {
  const auto v = event->modifiers() & ~Qt::KeypadModifier ? std::nullopt : keyedValue(event->key());
  if (!v) return QWidget::keyPressEvent(event);
  event->accept();
  if (dragging_) return;  // the pointer has it
  if (!keying_) {
    keying_ = true;
    emit editingChanged(true);
  }
  if (*v == value_) return;
  value_ = *v;
  update();
  shadow_->update();
  emit valueChanged(*v);
}

void NeonSlider::keyReleaseEvent(QKeyEvent* event) {
  // A held key repeats as press and release pairs; only the last release ends the edit.
  if (keying_ && !event->isAutoRepeat() && keyedValue(event->key())) {
    event->accept();
    return endKeying();
  }
  QWidget::keyReleaseEvent(event);
}

void NeonSlider::focusOutEvent(QFocusEvent* event) {
  endKeying();
  QWidget::focusOutEvent(event);
}

void NeonSlider::endKeying() {
  if (!keying_) return;
  keying_ = false;
  emit editingChanged(false);
}

void NeonSlider::enterEvent(QEnterEvent* event) {
  hovering_ = true;
  stateChanged();
  QWidget::enterEvent(event);
}

void NeonSlider::leaveEvent(QEvent* event) {
  hovering_ = false;
  stateChanged();
  QWidget::leaveEvent(event);
}

void NeonSlider::changeEvent(QEvent* event) {
  // A drag cut short by disabling still ends with false.
  if (event->type() == QEvent::EnabledChange && !isEnabled()) {
    endDrag();
    endKeying();
  }
  QWidget::changeEvent(event);
}

}  // namespace vantry
