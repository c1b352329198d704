#include "design/sheet.h"

#include <QKeyEvent>
#include <QVariant>

#include "design/space_key.h"

namespace vantry {

void Sheet::reject() {
  if (property("closedForStudio").toBool()) {
    QDialog::reject();
    return;
  }
  askToDismiss();
}

void Sheet::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const bool escape = event->key() == Qt::Key_Escape;
  if (!enter && !escape) return QDialog::keyPressEvent(event);
  event->accept();
  if (pressFocusedButton(this, *event)) return;
  pressed(enter ? Key::enter : Key::escape);
}

}  // namespace vantry
