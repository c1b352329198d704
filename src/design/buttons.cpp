#include "design/buttons.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "design/icons.h"
#include "design/motion.h"
#include "design/painting.h"

namespace vantry {

namespace {

constexpr double kLabelGap = 6;

double capsuleRadius(const QRectF& r) {
  return std::min(r.width(), r.height()) / 2;
}

bool insideCapsule(const QRectF& r, const QPointF& p) {
  QPainterPath path;
  const double radius = capsuleRadius(r);
  path.addRoundedRect(r, radius, radius);
  return path.contains(p);
}

}  // namespace

// A symbol beside text is drawn a little larger than the font's size, as glyph icons are.
double symbolSizeFor(const QFont& font) {
  return std::round(font.pointSizeF() * 96.0 / 72.0 * 1.3);
}

QSizeF tightLabelSize(const QString& symbol, double symbolSize, const QString& title,
                      const QFont& font) {
  const QFontMetricsF fm(font);
  const bool hasIcon = !symbol.isEmpty();
  const bool hasTitle = !title.isEmpty();
  double w = 0;
  double h = 0;
  if (hasIcon) {
    w += symbolSize;
    h = symbolSize;
  }
  if (hasTitle) {
    w += fm.horizontalAdvance(title);
    h = std::max(h, fm.height());
  }
  if (hasIcon && hasTitle) w += kLabelGap;
  return {std::ceil(w), std::ceil(h)};
}

void paintTightLabel(QPainter& painter, const QRectF& rect, const QString& symbol,
                     double symbolSize, int symbolWeight, const QString& title, const QFont& font,
                     const QColor& color) {
  const QSizeF size = tightLabelSize(symbol, symbolSize, title, font);
  double x = rect.center().x() - size.width() / 2;
  const double cy = rect.center().y();
  if (!symbol.isEmpty()) {
    paintSymbol(painter, symbol, QRectF(x, cy - symbolSize / 2, symbolSize, symbolSize), color,
                symbolWeight);
    x += symbolSize + kLabelGap;
  }
  if (!title.isEmpty()) {
    painter.save();
    painter.setFont(font);
    painter.setPen(color);
    const QFontMetricsF fm(font);
    painter.drawText(QRectF(x, cy - fm.height() / 2, rect.right() - x + 1, fm.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);
    painter.restore();
  }
}

// --- GlassButton ---------------------------------------------------------------------------

GlassButton::GlassButton(const QString& title, const QString& symbol, GlassButtonStyle style,
                         QWidget* parent)
    : QAbstractButton(parent),
      style_(style),
      symbol_(symbol),
      hover_(new Animated(0, this)),
      press_(new Animated(0, this)) {
  setText(title);
  setFont(uiFont(11.5, QFont::Medium));
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::TabFocus);  // a click does not take the keyboard focus
  setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  connect(hover_, &Animated::changed, this, qOverload<>(&QWidget::update));
  connect(press_, &Animated::changed, this, qOverload<>(&QWidget::update));
  connect(this, &QAbstractButton::pressed, this, &GlassButton::pressedChanged);
  connect(this, &QAbstractButton::released, this, &GlassButton::pressedChanged);
  handCursor(this);
}

void GlassButton::setButtonStyle(const GlassButtonStyle& style) {
  const bool resize = style.compact != style_.compact;
  style_ = style;
  if (resize) updateGeometry();
  update();
}

void GlassButton::setActive(bool active) {
  if (active == style_.active) return;
  style_.active = active;
  update();
}

void GlassButton::setSymbol(const QString& symbol) {
  symbol_ = symbol;
  updateGeometry();
  update();
}

QSizeF GlassButton::contentSize() const {
  return tightLabelSize(symbol_, symbolSizeFor(font()), text(), font());
}

void GlassButton::paintContent(QPainter& painter, const QRectF& rect, const QColor& color) {
  paintTightLabel(painter, rect, symbol_, symbolSizeFor(font()), font().weight(), text(), font(),
                  color);
}

QSize GlassButton::sizeHint() const {
  const QSizeF content = contentSize();
  const double inset = style_.compact ? 7 : 11;
  double w = content.width() + 2 * inset;
  if (style_.compact) w = std::max(w, 28.0);
  const double h = std::max(content.height(), 28.0);
  return QSize(static_cast<int>(std::ceil(w)), static_cast<int>(std::ceil(h)));
}

QColor GlassButton::labelColor() const {
  if (style_.active) return style_.tint;
  if (!isEnabled()) return Theme::tertiary;
  return faded(Theme::text, 0.86 + 0.14 * hover_->value());
}

QColor GlassButton::fillColor() const {
  if (style_.active) return faded(style_.tint, 0.16);
  // The pressed fill ignores the enabled flag; the hover fill needs it.
  const double hover = isEnabled() ? 0.08 * hover_->value() : 0.0;
  const double p = press_->value();
  return Color(0xFFFFFF, p * 0.14 + (1 - p) * hover);
}

QColor GlassButton::borderColor() const {
  return style_.active ? faded(style_.tint, 0.55) : QColor(Qt::transparent);
}

double GlassButton::scale() const {
  return 1.0 - 0.04 * press_->value();
}

void GlassButton::paintEvent(QPaintEvent*) {
  // setDown() from code emits no pressed(); catch up here.
  if (press_->target() != (isDown() ? 1 : 0)) pressedChanged();
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = rect();
  scaleAbout(p, r, scale());
  fillRounded(p, r, 8, fillColor());
  if (style_.active) strokeRoundedInside(p, r, 8, borderColor(), 1);
  const double inset = style_.compact ? 7 : 11;
  paintContent(p, r.adjusted(inset, 0, -inset, 0), labelColor());
  paintFocusRing(p, this, r, 8);
}

void GlassButton::setHovering(bool hovering) {
  hovering_ = hovering;
  hover_->animateTo(hovering ? 1 : 0, Curve::easeOut(0.12));
}

void GlassButton::pressedChanged() {
  press_->animateTo(isDown() ? 1 : 0, Curve::easeOut(0.08));
}

void GlassButton::enterEvent(QEnterEvent* event) {
  setHovering(true);
  QAbstractButton::enterEvent(event);
}

void GlassButton::leaveEvent(QEvent* event) {
  setHovering(false);
  QAbstractButton::leaveEvent(event);
}

void GlassButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange || event->type() == QEvent::FontChange) update();
  if (event->type() == QEvent::FontChange) updateGeometry();
  QAbstractButton::changeEvent(event);
}

// --- IconButton ----------------------------------------------------------------------------

IconButton::IconButton(const QString& systemName, const QString& help, double size, QWidget* parent)
    : GlassButton(QString(), systemName, GlassButtonStyle{false, Theme::cyan, true}, parent),
      size_(size) {
  setFont(uiFont(13, QFont::Medium));
  setToolTip(help);
  setAccessibleName(help);
}

bool IconButton::event(QEvent* event) {
  if (event->type() == QEvent::ToolTipChange) setAccessibleName(toolTip());
  return GlassButton::event(event);
}

QSizeF IconButton::contentSize() const {
  const double side = std::max(frameSide(), 0.0);
  return {side, side};
}

void IconButton::paintContent(QPainter& painter, const QRectF& rect, const QColor& color) {
  const double side = std::max(frameSide(), 0.0);
  const QRectF frame(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
  // The symbol follows the 13-point font, centred in its frame.
  const double glyph = std::min(side, 20.0);
  paintSymbol(painter, symbol(),
              QRectF(frame.center().x() - glyph / 2, frame.center().y() - glyph / 2, glyph, glyph),
              color, QFont::Medium);
}

// --- PrimaryButton -------------------------------------------------------------------------

PrimaryButton::PrimaryButton(const QString& title, const QString& symbol, PrimaryButtonStyle style,
                             QWidget* parent)
    : QAbstractButton(parent), style_(style), symbol_(symbol), hover_(new Animated(0, this)) {
  setText(title);
  setFont(uiFont(12, QFont::DemiBold));
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::TabFocus);  // a click does not take the keyboard focus
  setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  shadow_ = new ShadowCaster(
      this,
      [this](QPainter& p) {
        const QRectF r = rect();
        p.save();
        scaleAbout(p, r, isDown() ? 0.97 : 1.0);
        paintShadow(p, r, capsuleRadius(r), glowShadow());
        p.restore();
      },
      shadowReach(Shadow{Qt::white, 14, {}}));
  connect(hover_, &Animated::changed, this, [this] {
    update();
    shadow_->update();
  });
  connect(this, &QAbstractButton::pressed, shadow_, &ShadowCaster::update);
  connect(this, &QAbstractButton::released, shadow_, &ShadowCaster::update);
  handCursor(this);
}

void PrimaryButton::setButtonStyle(const PrimaryButtonStyle& style) {
  style_ = style;
  update();
  shadow_->update();
}

Shadow PrimaryButton::glowShadow() const {
  if (!isEnabled()) return {QColor(Qt::transparent), 10, {}};
  const double h = hover_->value();
  return {faded(style_.glow, 0.35 + 0.20 * h), 10 + 4 * h, {}};
}

QSize PrimaryButton::sizeHint() const {
  const double symbolSize = symbolSizeFor(font());
  const QSizeF content = tightLabelSize(symbol_, symbolSize, text(), font());
  return QSize(static_cast<int>(std::ceil(content.width() + 30)), 32);
}

bool PrimaryButton::hitButton(const QPoint& pos) const {
  return insideCapsule(QRectF(rect()), QPointF(pos) + QPointF(0.5, 0.5));
}

void PrimaryButton::paintFace(QPainter& p, const QRectF& r) const {
  const double radius = capsuleRadius(r);
  const bool enabled = isEnabled();
  if (enabled) {
    fillRounded(p, r, radius, style_.gradient.over(r));
    fillRounded(p, r, radius, Color(0xFFFFFF, 0.14 * hover_->value()));
  } else {
    fillRounded(p, r, radius, Color(0xFFFFFF, 0.08));
  }
  p.save();
  p.setCompositionMode(QPainter::CompositionMode_Overlay);
  strokeRoundedInside(p, r, radius, Color(0xFFFFFF, enabled ? 0.35 : 0.06), 0.8);
  p.restore();
}

void PrimaryButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = rect();
  scaleAbout(p, r, isDown() ? 0.97 : 1.0);
  const bool enabled = isEnabled();
  const double hover = hover_->value();
  // The enabled face at rest (an opaque gradient, so the overlay border needs nothing from
  // behind) is kept as an image: the gradient capsule and its border cost far more than the
  // label.
  if (enabled && (hover == 0.0 || hover == 1.0)) {
    const double scale = devicePixelRatioF();
    const Gradient& g = style_.gradient;
    const QString key = QStringLiteral("%1x%2@%3 h%4 %5 %6 %7,%8 %9,%10")
                            .arg(width())
                            .arg(height())
                            .arg(scale)
                            .arg(hover)
                            .arg(g.from.rgba64(), 0, 16)
                            .arg(g.to.rgba64(), 0, 16)
                            .arg(g.start.x())
                            .arg(g.start.y())
                            .arg(g.end.x())
                            .arg(g.end.y());
    if (key != faceKey_) {
      face_ = QImage((QSizeF(size()) * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
      face_.setDevicePixelRatio(scale);
      face_.fill(Qt::transparent);
      QPainter fp(&face_);
      fp.setRenderHint(QPainter::Antialiasing);
      paintFace(fp, QRectF(QPointF(0, 0), QSizeF(size())));
      faceKey_ = key;
    }
    p.drawImage(r.topLeft(), face_);
  } else {
    paintFace(p, r);
  }
  paintTightLabel(p, r.adjusted(15, 0, -15, 0), symbol_, symbolSizeFor(font()), QFont::DemiBold,
                  text(), font(), enabled ? Color(0x05070C) : Theme::tertiary);
  paintFocusRing(p, this, r, capsuleRadius(r));
}

void PrimaryButton::setHovering(bool hovering) {
  hovering_ = hovering;
  hover_->animateTo(hovering ? 1 : 0, Curve::easeOut(0.15));
}

void PrimaryButton::enterEvent(QEnterEvent* event) {
  setHovering(true);
  QAbstractButton::enterEvent(event);
}

void PrimaryButton::leaveEvent(QEvent* event) {
  setHovering(false);
  QAbstractButton::leaveEvent(event);
}

void PrimaryButton::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) {
    update();
    shadow_->update();
  }
  QAbstractButton::changeEvent(event);
}

// --- RecordButton --------------------------------------------------------------------------

RecordButton::RecordButton(const QString& title, RecordButtonStyle style, QWidget* parent)
    : QAbstractButton(parent), style_(style), pulse_(new Repeating(1.4, false, this)) {
  setText(title);
  setFont(uiFont(12, QFont::DemiBold));
  setAttribute(Qt::WA_Hover);
  setFocusPolicy(Qt::TabFocus);  // a click does not take the keyboard focus
  setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
  pulse_->setFrameInterval(33);
  connect(pulse_, &Repeating::changed, this, [this] { update(QRect(0, 0, 40, height())); });
  handCursor(this);
}

void RecordButton::setRecording(bool recording) {
  if (recording == style_.recording) return;
  style_.recording = recording;
  update();
}

bool RecordButton::pulsing() const {
  return pulse_->started();
}

QSize RecordButton::sizeHint() const {
  const QFontMetricsF fm(font());
  double w = 11 + 14 + 14;
  if (!text().isEmpty()) w += 8 + fm.horizontalAdvance(text());
  return QSize(static_cast<int>(std::ceil(w)), 32);
}

bool RecordButton::hitButton(const QPoint& pos) const {
  return insideCapsule(QRectF(rect()), QPointF(pos) + QPointF(0.5, 0.5));
}

void RecordButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = rect();
  const double radius = capsuleRadius(r);
  scaleAbout(p, r, isDown() ? 0.97 : 1.0);
  const bool rec = style_.recording;
  fillRounded(p, r, radius,
              rec ? faded(Theme::rec, 0.18) : Color(0xFFFFFF, hovering_ ? 0.10 : 0.06));
  strokeRoundedInside(p, r, radius, rec ? faded(Theme::rec, 0.6) : Color(0xFFFFFF, 0.12), 1);
  paintFocusRing(p, this, r, radius);

  const QRectF indicator(r.left() + 11, r.center().y() - 7, 14, 14);
  const QPointF c = indicator.center();
  const double phase = pulse_->phase();
  const double ring = 14 * (1 + 0.5 * phase);
  p.setPen(Qt::NoPen);
  p.setBrush(faded(Theme::rec, 0.35 * (1 - phase)));
  p.drawEllipse(c, ring / 2, ring / 2);
  if (rec) {
    fillRounded(p, QRectF(c.x() - 4.5, c.y() - 4.5, 9, 9), 2, Theme::rec);
  } else {
    const QRectF dot(c.x() - 5, c.y() - 5, 10, 10);
    p.setBrush(Theme::recGradient.over(dot));
    p.drawEllipse(dot);
  }
  if (!text().isEmpty()) {
    p.setFont(font());
    p.setPen(isEnabled() ? Theme::text : Theme::tertiary);
    const QRectF textRect(indicator.right() + 8, r.top(),
                          r.right() - 14 - indicator.right() - 8 + 1, r.height());
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
  }
}

void RecordButton::enterEvent(QEnterEvent* event) {
  hovering_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void RecordButton::leaveEvent(QEvent* event) {
  hovering_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void RecordButton::showEvent(QShowEvent* event) {
  pulse_->start();
  QAbstractButton::showEvent(event);
}

void RecordButton::hideEvent(QHideEvent* event) {
  pulse_->stop();
  QAbstractButton::hideEvent(event);
}

// --- HandSwitch ----------------------------------------------------------------------------

HandSwitch::HandSwitch(const QString& title, QWidget* parent)
    : QAbstractButton(parent), knob_(new Animated(0, this)) {
  setText(title);
  setCheckable(true);
  setFocusPolicy(Qt::TabFocus);
  setFont(uiFont(12, QFont::Normal));
  connect(knob_, &Animated::changed, this, qOverload<>(&QWidget::update));
  connect(this, &QAbstractButton::toggled, this,
          [this](bool on) { knob_->animateTo(on ? 1 : 0, Curve::easeOut(0.15)); });
  handCursor(this);
}

QSize HandSwitch::sizeHint() const {
  const QFontMetricsF fm(font());
  double w = 26;
  if (!text().isEmpty()) w += fm.horizontalAdvance(text()) + 8;
  return QSize(static_cast<int>(std::ceil(w)), std::max(16, static_cast<int>(fm.height())));
}

void HandSwitch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = rect();
  if (!text().isEmpty()) {
    p.setPen(isEnabled() ? Theme::text : Theme::tertiary);
    p.setFont(font());
    p.drawText(r.adjusted(0, 0, -34, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
  }
  const QRectF track(r.right() - 26, r.center().y() - 7.5, 26, 15);
  const double k = knob_->value();
  fillRounded(p, track, 7.5, mixed(Color(0xFFFFFF, 0.18), Theme::cyan, k));
  if (!isEnabled()) fillRounded(p, track, 7.5, faded(Theme::base, 0.45));
  const double d = 13;
  const QRectF knob(track.left() + 1 + k * (track.width() - d - 2), track.top() + 1, d, d);
  p.setPen(Qt::NoPen);
  p.setBrush(isEnabled() ? Theme::text : Theme::secondary);
  p.drawEllipse(knob);
  paintFocusRing(p, this, track, 7.5);
}

}  // namespace vantry
