#include "design/space_key.h"

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

void holdKeyboardFocus(QWidget* widget) {
  widget->setFocusPolicy(Qt::ClickFocus);
  widget->setFocus(Qt::OtherFocusReason);
}

}  // namespace vantry
