#pragma once

// The one dark look of every menu: the menu bar's menus, the playback speed menu and a zoom
// block's menu. Whatever the platform's menus look like, a menu here is the app's dark
// glass with light text, and a choice shows a checkmark beside the current item only.

#include <QString>

class QAction;
class QColor;
class QIcon;
class QMenu;
class QWidget;

namespace vantry {

// The style sheet of the menus (and of a menu bar, whose menus inherit it).
QString menuStyleSheet();

// A new menu in the dark look, owned by `parent`.
QMenu* darkMenu(QWidget* parent);

// A symbol as a menu icon in `color`.
QIcon menuSymbol(const QString& symbol, const QColor& color);

// Adds a section's caption (the platform's own section header is lost in the dark look).
QAction* addSectionTitle(QMenu* menu, const QString& title);

// Adds a choice: with a checkmark when `current`, plain text otherwise.
QAction* addChoice(QMenu* menu, const QString& title, bool current);

}  // namespace vantry
