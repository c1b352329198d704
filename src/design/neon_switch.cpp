#include "design/neon_switch.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "design/motion.h"
#include "design/painting.h"
#include "design/shadow.h"
#include "design/theme.h"

namespace vantry {

namespace {

constexpr double kMinSpace = 8;

}  // namespace

NeonSwitch::NeonSwitch(const QString& title, bool on, QWidget* parent)
    : QAbstractButton(parent), knob_(new Animated(on ? 1 : 0, this)) {
  setText(title);
  setCheckable(true);
  setFocusPolicy(Qt::TabFocus);  // a click does not take the keyboard focus
  setChecked(on);
  setFont(uiFont(12, QFont::Normal));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setAccessibleName(title);
  shadow_ = new ShadowCaster(
      this, [this](QPainter& p) { paintShadows(p); }, shadowReach(Shadow{Qt::white, 6, {0, 1}}));
  connect(knob_, &Animated::changed, this, [this] {
    update();
    shadow_->update();
  });
  connect(this, &QAbstractButton::toggled, this,
          [this](bool checked) { knob_->animateTo(checked ? 1 : 0, Curve::spring(0.25, 0.8)); });
  handCursor(this);
}

QRectF NeonSwitch::trackRect() const {
  return QRectF(width() - kTrackWidth, height() / 2.0 - kTrackHeight / 2, kTrackWidth,
                kTrackHeight);
}

QRectF NeonSwitch::knobRect() const {
  const QRectF track = trackRect();
  const double travel = kTrackWidth - kKnob - 4;
  return QRectF(track.left() + 2 + knob_->value() * travel, track.top() + 2, kKnob, kKnob);
}

QSize NeonSwitch::sizeHint() const {
  const QFontMetricsF fm(font());
  const double label = text().isEmpty() ? 0 : fm.horizontalAdvance(text());
  return QSize(static_cast<int>(std::ceil(label + kMinSpace + kTrackWidth)),
               static_cast<int>(std::max(kTrackHeight, std::ceil(fm.height()))));
}

QSize NeonSwitch::minimumSizeHint() const {
  return QSize(static_cast<int>(kMinSpace + kTrackWidth), sizeHint().height());
}

void NeonSwitch::paintShadows(QPainter& p) {
  const double on = std::clamp(knob_->value(), 0.0, 1.0);
  const QRectF track = trackRect();
  paintShadow(p, track, kTrackHeight / 2, Shadow{faded(Theme::cyan, 0.45 * on), 6, {}});
  paintShadow(p, knobRect(), kKnob / 2, Shadow{Color(0x000000, 0.35), 2, {0, 1}});
}

void NeonSwitch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF track = trackRect();
  if (!text().isEmpty()) {
    const QFontMetricsF fm(font());
    const double room = std::max(0.0, track.left() - kMinSpace);
    p.setFont(font());
    p.setPen(Theme::text);
    p.drawText(QRectF(0, 0, room + 1, height()), Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(text(), Qt::ElideRight, room + 0.5));
  }
  // The spring may overshoot; colours follow it clamped.
  const double on = std::clamp(knob_->value(), 0.0, 1.0);
  const double r = kTrackHeight / 2;
  if (on < 1) fillRounded(p, track, r, Color(0xFFFFFF, 0.12 * (1 - on)));
  if (on > 0) {
    p.setOpacity(on);
    fillRounded(p, track, r, Theme::accent.over(track));
    p.setOpacity(1);
  }
  strokeRoundedInside(p, track, r, Color(0xFFFFFF, 0.08 + 0.17 * on), 0.8);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(knobRect());
  paintFocusRing(p, this, track, r);
}

}  // namespace vantry
