#include "app/alert_width.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QSpacerItem>

#include <algorithm>
#include <cmath>

namespace vantry {

namespace {

constexpr int kLeast = 440;
// What a window manager's title bar takes beside the title: its icon and buttons, on both
// sides where the title is centred.
constexpr int kTitleBarChrome = 200;

// The spacer spanning the whole box that holds it at its width; Qt builds the layout anew when
// the informative text or the icon changes, so it is looked for each time.
QSpacerItem* widthSpacer(QGridLayout& grid) {
  for (int i = 0; i < grid.count(); ++i) {
    QSpacerItem* spacer = grid.itemAt(i)->spacerItem();
    if (!spacer) continue;
    int row = 0, column = 0, rows = 0, columns = 0;
    grid.getItemPosition(i, &row, &column, &rows, &columns);
    if (column == 0 && columns == grid.columnCount() && spacer->sizeHint().height() == 0)
      return spacer;
  }
  return nullptr;
}

int alertWidth(QMessageBox& box) {
  const QScreen* screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen();
  const int most = screen ? screen->availableGeometry().width() / 2 : 960;

  QFont titleFont = box.font();
  titleFont.setBold(true);
  const int forTitle =
      QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + kTitleBarChrome;

  // What the box takes beside its text (margins, icon, spacing), from its layout laid out at
  // a width it fits in (a box not shown yet is narrower).
  int besideText = 0;
  const auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  if (QLayout* layout = box.layout(); label && layout) {
    box.resize(box.size().expandedTo(layout->sizeHint()));
    layout->setGeometry(box.rect());
    besideText = box.width() - label->width();
  }
  // Each line as wide as its widest piece between blanks; a line holding a path whole where
  // half the screen allows, since a line breaks after a slash too.
  const QFontMetricsF metrics(box.font());
  const auto advance = [&metrics](const QString& text) {
    return int(std::ceil(metrics.horizontalAdvance(text))) + 1;
  };
  static const QRegularExpression blanks(QStringLiteral("\\s+"));
  int forText = 0;
  for (const QString& line : (box.text() + u'\n' + box.informativeText()).split(u'\n')) {
    int need = 0;
    bool path = false;
    for (const QString& piece : line.split(blanks, Qt::SkipEmptyParts)) {
      need = std::max(need, advance(piece));
      path = path || piece.contains(u'/');
    }
    if (path && advance(line) + besideText <= most) need = advance(line);
    forText = std::max(forText, need + besideText);
  }

  return std::clamp(std::max({kLeast, forTitle, forText}), std::min(kLeast, most), most);
}

}  // namespace

void fitAlertWidth(QMessageBox& box) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (!grid) return;
  // Measured without the width it held before.
  QSpacerItem* spacer = widthSpacer(*grid);
  if (!spacer) {
    spacer = new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
    grid->addItem(spacer, grid->rowCount(), 0, 1, grid->columnCount());
  }
  spacer->changeSize(0, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
  grid->invalidate();
  const QMargins margins = grid->contentsMargins();
  spacer->changeSize(alertWidth(box) - margins.left() - margins.right(), 0, QSizePolicy::Fixed,
                     QSizePolicy::Minimum);
  grid->invalidate();
  // Setting the text again has the box measure itself anew (its width follows its layout's
  // least).
  box.setText(box.text());
}

}  // namespace vantry
