#include "design/pill_segment.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "design/accessibility.h"
#include "design/icons.h"
#include "design/motion.h"
#include "design/painting.h"

namespace vantry {

namespace {

constexpr double kInset = 2;     // around the row
constexpr double kGap = 2;       // between segments
constexpr double kPadding = 10;  // inside a segment, each side
constexpr double kIconGap = 5;
constexpr double kMinHeight = 26;
constexpr double kIconSize = 12;

const Curve kSpring = Curve::spring(0.28, 0.85);

}  // namespace

std::optional<int> arrowChoice(const QKeyEvent& key, int selected, int count) {
  if (count <= 0 || (key.modifiers() & ~Qt::KeypadModifier)) return std::nullopt;
  int step;
  switch (key.key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
      step = -1;
      break;
    case Qt::Key_Right:
    case Qt::Key_Down:
      step = 1;
      break;
    default:
      return std::nullopt;
  }
  if (selected < 0 || selected >= count) return step > 0 ? 0 : count - 1;
  return std::clamp(selected + step, 0, count - 1);
}

PillSegment::PillSegment(std::vector<Item> items, QVariant selection, QColor tint, QWidget* parent)
    : QWidget(parent),
      items_(std::move(items)),
      selection_(std::move(selection)),
      tint_(tint),
      pillX_(new Animated(0, this)),
      pillW_(new Animated(0, this)) {
  installDesignAccessibility();
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFocusPolicy(Qt::TabFocus);  // a click does not take the keyboard focus
  connect(pillX_, &Animated::changed, this, qOverload<>(&QWidget::update));
  connect(pillW_, &Animated::changed, this, qOverload<>(&QWidget::update));
  handCursor(this);
  movePill(false);
}

void PillSegment::setItems(std::vector<Item> items) {
  items_ = std::move(items);
  updateGeometry();
  movePill(false);
  update();
}

void PillSegment::setSelection(const QVariant& value) {
  if (value == selection_) return;
  selection_ = value;
  movePill(true);
  update();
}

int PillSegment::selectedIndex() const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].value == selection_) return static_cast<int>(i);
  }
  return -1;
}

QRectF PillSegment::segmentRect(int index) const {
  const int n = static_cast<int>(items_.size());
  if (index < 0 || index >= n) return {};
  const double inner = std::max(0.0, width() - 2 * kInset - kGap * (n - 1));
  // Equal shares; but when a title would be cut in its share while the whole row has room
  // for every title, each segment gets its own need plus an equal part of what is left.
  std::vector<double> need(n);
  double total = 0;
  bool cramped = false;
  for (int i = 0; i < n; ++i) {
    need[i] = contentSize(i, true).width() + 2 * kPadding;
    total += need[i];
    cramped = cramped || need[i] > inner / n;
  }
  double x = kInset;
  double w = inner / n;
  if (cramped && total <= inner) {
    const double extra = (inner - total) / n;
    for (int i = 0; i < index; ++i)
      x += need[i] + extra + kGap;
    w = need[index] + extra;
  } else {
    x += index * (w + kGap);
  }
  return QRectF(x, kInset, w, std::max(0.0, height() - 2 * kInset));
}

int PillSegment::segmentAt(QPointF pos) const {
  for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
    if (segmentRect(i).contains(pos)) return i;
  }
  return -1;
}

QRectF PillSegment::pillRect() const {
  if (!pillShown_) return {};
  // At rest the pill is exactly its segment, whatever resizes happened since it moved.
  if (!pillX_->running() && !pillW_->running()) return segmentRect(selectedIndex());
  return QRectF(pillX_->value(), kInset, pillW_->value(), std::max(0.0, height() - 2 * kInset));
}

void PillSegment::movePill(bool animated) {
  const int index = selectedIndex();
  if (index < 0) {
    pillShown_ = false;
    return;
  }
  const QRectF r = segmentRect(index);
  if (!pillShown_ || !animated) {
    pillX_->jumpTo(r.x());
    pillW_->jumpTo(r.width());
  } else {
    pillX_->animateTo(r.x(), kSpring);
    pillW_->animateTo(r.width(), kSpring);
  }
  pillShown_ = true;
}

QSizeF PillSegment::contentSize(int index, bool selected) const {
  const Item& item = items_[index];
  const QFontMetricsF fm(uiFont(11, selected ? QFont::DemiBold : QFont::Medium));
  double w = fm.horizontalAdvance(item.title);
  if (!item.icon.isEmpty()) w += kIconSize + kIconGap;
  return {w, fm.height()};
}

QSize PillSegment::sizeHint() const {
  double w = 0, h = kMinHeight;
  for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
    const QSizeF c = contentSize(i, true);
    w = std::max(w, c.width() + 2 * kPadding);
    h = std::max(h, c.height());
  }
  const int n = static_cast<int>(items_.size());
  return QSize(static_cast<int>(std::ceil(n * w + kGap * std::max(0, n - 1) + 2 * kInset)),
               static_cast<int>(std::ceil(h + 2 * kInset)));
}

QSize PillSegment::minimumSizeHint() const {
  return QSize(0, sizeHint().height());
}

void PillSegment::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = rect();
  fillRounded(p, r, 9, Color(0x000000, 0.28));
  strokeRoundedInside(p, r, 9, Theme::hairline, 1);

  const QRectF pill = pillRect();
  if (!pill.isEmpty()) {
    fillRounded(p, pill, 7, faded(tint_, 0.2));
    strokeRoundedInside(p, pill, 7, faded(tint_, 0.5), 1);
  }

  const int selected = selectedIndex();
  for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
    const Item& item = items_[i];
    const bool isSelected = i == selected;
    const QRectF seg = segmentRect(i).adjusted(kPadding, 0, -kPadding, 0);
    const QColor color = isSelected ? Theme::text : Theme::secondary;
    const QFont font = uiFont(11, isSelected ? QFont::DemiBold : QFont::Medium);
    const QFontMetricsF fm(font);
    const QSizeF content = contentSize(i, isSelected);
    // Centred; a title too long for its segment is elided rather than spilling over.
    double x = seg.center().x() - std::min(content.width(), seg.width()) / 2;
    if (!item.icon.isEmpty()) {
      paintSymbol(p, item.icon, QRectF(x, seg.center().y() - kIconSize / 2, kIconSize, kIconSize),
                  color, QFont::DemiBold);
      x += kIconSize + kIconGap;
    }
    const double room = std::max(0.0, seg.right() - x);
    p.setFont(font);
    p.setPen(color);
    p.drawText(QRectF(x, seg.top(), room + 1, seg.height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               fm.elidedText(item.title, Qt::ElideRight, room + 0.5));
  }
  paintFocusRing(p, this, r, 9);
}

void PillSegment::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  pressed_ = segmentAt(event->position());
}

void PillSegment::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  const int index = segmentAt(event->position());
  const bool click = index >= 0 && index == pressed_;
  pressed_ = -1;
  if (click) choose(index);
}

void PillSegment::keyPressEvent(QKeyEvent* event) {
  const auto next = arrowChoice(*event, selectedIndex(), static_cast<int>(items_.size()));
  if (!next) return QWidget::keyPressEvent(event);
  event->accept();
  if (*next != selectedIndex()) choose(*next);
}

void PillSegment::choose(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) return;
  selection_ = items_[index].value;
  movePill(true);
  update();
  emit selectionChanged(selection_);
}

PillSegment::~PillSegment() {
  releaseSegmentAccess(this);
}

void PillSegment::resizeEvent(QResizeEvent* event) {
  movePill(false);
  QWidget::resizeEvent(event);
}

}  // namespace vantry
