#pragma once

// Screen-reader views of the custom-painted controls: the slider as a standard slider over
// its range and step, the pill segments as a group of radio buttons with the selected one
// checked. Installed once, by the first control that needs it.

#include <QAccessible>
#include <QByteArray>
#include <QPointer>
#include <QWidget>

#include <functional>

class QObject;

namespace vantry {

class PillSegment;

// A screen-reader view of a part of a painted widget (a segment, a timeline block) that has no
// object of its own: no children, and one press action, which `press` carries out.
class PartAccess : public QAccessibleInterface, public QAccessibleActionInterface {
 public:
  explicit PartAccess(QWidget* owner) : owner_(owner) {}

  QObject* object() const override { return nullptr; }
  QWindow* window() const override;
  QAccessibleInterface* parent() const override;
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  void setText(QAccessible::Text, const QString&) override {}
  void* interface_cast(QAccessible::InterfaceType type) override;
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& name) override;
  QStringList keyBindingsForAction(const QString&) const override { return {}; }

 protected:
  // Null once the widget is gone.
  QWidget* owner() const { return owner_; }
  virtual void press() = 0;

 private:
  QPointer<QWidget> owner_;
};

// A screen-reader view without an object of its own (a segment, a timeline block): made by
// `make` once per owner and index, registered with Qt, and kept for the owner's lifetime.
QAccessibleInterface* registeredChild(QObject* owner, const QByteArray& prefix, int index,
                                      const std::function<QAccessibleInterface*()>& make);
// Drops the views made for an owner that is going away.
void releaseRegisteredChildren(QObject* owner, const QByteArray& prefix);

void installDesignAccessibility();
// Drops the per-segment views made for a pill that is going away.
void releaseSegmentAccess(PillSegment* pill);

}  // namespace vantry
