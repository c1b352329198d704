#include "inspector/inspector_sections.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <cmath>

#include "design/labels.h"
#include "design/neon_slider.h"
#include "design/painting.h"
#include "localization/qt/qt_text.h"

namespace vantry {

QString paddingText(double padding) {
  if (!(padding >= 0.0005)) return QL("铺满");
  return QString::asprintf("%.1f%%", padding * 100);
}

bool paddingPresetMarked(double padding, double preset) {
  return std::abs(padding - preset) < 0.0005;
}

QString cameraSyncText(std::optional<double> adjustment) {
  const double value = adjustment.value_or(0);
  if (value >= 0 || !std::isfinite(value)) {
    return QLF("画面提前 %.0f ms", std::isfinite(value) ? value * 1000 : 0.0);
  }
  return QLF("画面延后 %.0f ms", -value * 1000);
}

InspectorCard::InspectorCard(QWidget* parent) : QWidget(parent) {}

void InspectorCard::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect());
  fillRounded(painter, r, 12, Color(0x000000, 0.22));
  strokeRoundedInside(painter, r, 12, Theme::hairline, 1);
}

InspectorSection::InspectorSection(const QString& icon, const QString& title, QColor tint,
                                   QWidget* parent)
    : QWidget(parent) {
  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(14);
  stack->addWidget(new SectionTitle(icon, title, tint, this));
  auto* card = new InspectorCard(this);
  card_ = new QVBoxLayout(card);
  card_->setContentsMargins(14, 14, 14, 14);
  card_->setSpacing(14);
  stack->addWidget(card);
}

QLabel* makeValuePill(QColor tint, double opacity, QWidget* parent) {
  auto* pill = new QLabel(parent);
  pill->setFont(Theme::mono());
  QColor fill = tint;
  fill.setAlphaF(opacity);
  pill->setStyleSheet(QStringLiteral("QLabel { color: %1; background: rgba(%2,%3,%4,%5); "
                                     "border-radius: 5px; padding: 2px 6px; }")
                          .arg(tint.name())
                          .arg(fill.red())
                          .arg(fill.green())
                          .arg(fill.blue())
                          .arg(fill.alphaF()));
  return pill;
}

InspectorSliderRow::InspectorSliderRow(const QString& title, double lo, double hi, QWidget* parent)
    : QWidget(parent) {
  auto* stack = new QVBoxLayout(this);
  stack->setContentsMargins(0, 0, 0, 0);
  stack->setSpacing(8);
  auto* row = new QHBoxLayout;
  auto* name = new QLabel(title, this);
  name->setStyleSheet(QStringLiteral("color: %1;").arg(Theme::text.name()));
  row->addWidget(name);
  row->addStretch(1);
  pill_ = makeValuePill(Theme::cyan, 0.1, this);
  row->addWidget(pill_);
  stack->addLayout(row);
  slider_ = new NeonSlider(lo, lo, hi, std::nullopt, Theme::accent, this);
  slider_->setAccessibleName(title);
  stack->addWidget(slider_);
}

void InspectorSliderRow::follow(double value, const QString& display) {
  slider_->setValue(value);
  pill_->setText(display);
}

QString InspectorSliderRow::display() const {
  return pill_->text();
}

}  // namespace vantry
