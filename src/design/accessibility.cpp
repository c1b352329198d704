#include "design/accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWindow>

#include "design/neon_slider.h"
#include "design/pill_segment.h"

namespace vantry {

namespace {

class SliderAccess : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit SliderAccess(NeonSlider* slider) : QAccessibleWidget(slider, QAccessible::Slider) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QVariant currentValue() const override { return slider()->value(); }
  // Goes through the same clamping and snapping as a drag, without the editing signals.
  void setCurrentValue(const QVariant& value) override {
    slider()->setValueFromAccessibility(value.toDouble());
  }
  QVariant maximumValue() const override { return slider()->upper(); }
  QVariant minimumValue() const override { return slider()->lower(); }
  QVariant minimumStepSize() const override {
    return slider()->step() ? QVariant(*slider()->step()) : QVariant(0.0);
  }

 private:
  NeonSlider* slider() const { return static_cast<NeonSlider*>(widget()); }
};

class SegmentAccess;

class PillAccess : public QAccessibleWidget {
 public:
  explicit PillAccess(PillSegment* pill) : QAccessibleWidget(pill, QAccessible::Grouping) {}

  int childCount() const override { return static_cast<int>(pill()->items().size()); }
  QAccessibleInterface* child(int index) const override;
  int indexOfChild(const QAccessibleInterface* child) const override;

  PillSegment* pill() const { return static_cast<PillSegment*>(widget()); }
};

// One segment; identified by its index in the pill.
class SegmentAccess : public PartAccess {
 public:
  SegmentAccess(PillSegment* pill, int index) : PartAccess(pill), index_(index) {}

  bool isValid() const override {
    return pill() && index_ < static_cast<int>(pill()->items().size());
  }
  QString text(QAccessible::Text t) const override {
    if (!isValid() || t != QAccessible::Name) return {};
    return pill()->items()[index_].title;
  }
  QRect rect() const override {
    if (!isValid()) return {};
    const QRect r = pill()->segmentRect(index_).toAlignedRect();
    return QRect(pill()->mapToGlobal(r.topLeft()), r.size());
  }
  QAccessible::Role role() const override { return QAccessible::RadioButton; }
  QAccessible::State state() const override {
    QAccessible::State s;
    s.checkable = true;
    s.checked = isValid() && pill()->selectedIndex() == index_;
    s.disabled = !pill() || !pill()->isEnabled();
    return s;
  }

  int index() const { return index_; }

 protected:
  void press() override {
    if (isValid() && pill()->isEnabled()) pill()->choose(index_);
  }

 private:
  PillSegment* pill() const { return static_cast<PillSegment*>(owner()); }

  int index_;
};

QAccessibleInterface* PillAccess::child(int index) const {
  if (index < 0 || index >= childCount()) return nullptr;
  return registeredChild(pill(), "vantryAccessibleSegment", index,
                         [&] { return new SegmentAccess(pill(), index); });
}

int PillAccess::indexOfChild(const QAccessibleInterface* child) const {
  if (const auto* segment = dynamic_cast<const SegmentAccess*>(child)) return segment->index();
  return -1;
}

QAccessibleInterface* factory(const QString& className, QObject* object) {
  if (className == QLatin1String("vantry::NeonSlider"))
    return new SliderAccess(static_cast<NeonSlider*>(object));
  if (className == QLatin1String("vantry::PillSegment"))
    return new PillAccess(static_cast<PillSegment*>(object));
  return nullptr;
}

}  // namespace

QWindow* PartAccess::window() const {
  return owner_ ? owner_->window()->windowHandle() : nullptr;
}

QAccessibleInterface* PartAccess::parent() const {
  return QAccessible::queryAccessibleInterface(owner_);
}

void* PartAccess::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
  return nullptr;
}

void PartAccess::doAction(const QString& name) {
  if (name == pressAction()) press();
}

QAccessibleInterface* registeredChild(QObject* owner, const QByteArray& prefix, int index,
                                      const std::function<QAccessibleInterface*()>& make) {
  // Qt owns registered interfaces; the owner keeps their ids in properties by index.
  const QByteArray key = prefix + QByteArray::number(index);
  const QVariant stored = owner->property(key.constData());
  if (stored.isValid()) {
    const auto id = stored.value<QAccessible::Id>();
    if (QAccessibleInterface* existing = QAccessible::accessibleInterface(id)) return existing;
  }
  QAccessibleInterface* made = make();
  const QAccessible::Id id = QAccessible::registerAccessibleInterface(made);
  owner->setProperty(key.constData(), QVariant::fromValue(id));
  return made;
}

void releaseRegisteredChildren(QObject* owner, const QByteArray& prefix) {
  for (const QByteArray& name : owner->dynamicPropertyNames()) {
    if (!name.startsWith(prefix)) continue;
    const auto id = owner->property(name.constData()).value<QAccessible::Id>();
    if (QAccessible::accessibleInterface(id)) QAccessible::deleteAccessibleInterface(id);
  }
}

void releaseSegmentAccess(PillSegment* pill) {
  releaseRegisteredChildren(pill, "vantryAccessibleSegment");
}

void installDesignAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(factory);
    return true;
  }();
  (void)installed;
}

}  // namespace vantry
