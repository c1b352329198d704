#include "design/space_key.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace vantry {

SpaceKey::SpaceKey(QWidget* window, std::function<void()> onSpace)
    : QObject(window), window_(window), onSpace_(std::move(onSpace)) {
  // Key events go to the focused control first: only the application sees them before it.
  qApp->installEventFilter(this);
}

bool SpaceKey::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() != Qt::Key_Space || (key->modifiers() & ~Qt::KeypadModifier)) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != window_) return false;
  if (widget->testAttribute(Qt::WA_InputMethodEnabled)) return false;  // typing
  if (event->type() == QEvent::KeyPress && !key->isAutoRepeat() && onSpace_) onSpace_();
  return true;
}

ReturnKey::ReturnKey(QWidget* window) : QObject(window), window_(window) {
  // A key the focused control ignores travels up to its window, through this filter.
  window->installEventFilter(this);
}

bool ReturnKey::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_ || event->type() != QEvent::KeyPress) return false;
  return pressFocusedButton(window_, *static_cast<QKeyEvent*>(event));
}

bool pressFocusedButton(QWidget* window, const QKeyEvent& key) {
  if (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter) return false;
  if (key.modifiers() & ~Qt::KeypadModifier) return false;
  auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
  if (!button || button->window() != window || !button->isEnabled() || !button->isVisible())
    return false;
  if (!key.isAutoRepeat()) button->click();
  return true;
}

void holdKeyboardFocus(QWidget* widget) {
  widget->setFocusPolicy(Qt::ClickFocus);
  widget->setFocus(Qt::OtherFocusReason);
}

}  // namespace vantry
