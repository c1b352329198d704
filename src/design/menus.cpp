#include "design/menus.h"

#include <QAction>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QWidgetAction>

#include "design/icons.h"
#include "design/painting.h"
#include "design/theme.h"

namespace vantry {

QString menuStyleSheet() {
  return QStringLiteral(
      "QMenuBar { background: #0E1220; color: #EEF2FA; border-bottom: 1px solid "
      "rgba(255,255,255,20); }"
      "QMenuBar::item { padding: 4px 10px; background: transparent; }"
      "QMenuBar::item:selected { background: rgba(79,216,255,40); border-radius: 4px; }"
      "QMenu { background: #0E1220; color: #EEF2FA; border: 1px solid rgba(255,255,255,30); "
      "padding: 4px; }"
      "QMenu::item { padding: 5px 24px 5px 22px; border-radius: 4px; }"
      "QMenu::item:selected { background: rgba(79,216,255,50); }"
      "QMenu::item:disabled { color: #586178; }"
      "QMenu::icon { padding-left: 6px; }"
      "QMenu::separator { height: 1px; background: rgba(255,255,255,20); margin: 4px 6px; }");
}

QMenu* darkMenu(QWidget* parent) {
  auto* menu = new QMenu(parent);
  menu->setStyleSheet(menuStyleSheet());
  menu->setFont(uiFont(13, QFont::Normal));
  return menu;
}

QIcon menuSymbol(const QString& symbol, const QColor& color) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  paintSymbol(p, symbol, QRectF(4, 4, 24, 24), color);
  return QIcon(pixmap);
}

QAction* addSectionTitle(QMenu* menu, const QString& title) {
  auto* caption = new QWidgetAction(menu);
  caption->setText(title);
  caption->setEnabled(false);
  auto* label = new QLabel(title, menu);
  label->setFont(uiFont(11, QFont::DemiBold));
  label->setStyleSheet(
      QStringLiteral("color: %1; padding: 4px 24px 3px 12px;").arg(Theme::secondary.name()));
  caption->setDefaultWidget(label);
  menu->addAction(caption);
  return caption;
}

QAction* addChoice(QMenu* menu, const QString& title, bool current) {
  QAction* item = menu->addAction(title);
  if (current) item->setIcon(menuSymbol(QStringLiteral("checkmark"), Theme::cyan));
  return item;
}

}  // namespace vantry
