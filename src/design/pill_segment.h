#pragma once

// A segmented picker whose selected segment wears a tinted pill that springs from segment
// to segment. Tab reaches it and the arrow keys choose the segment before or after.

#include <QColor>
#include <QVariant>
#include <QWidget>

#include <optional>
#include <vector>

#include "design/theme.h"

class QKeyEvent;

namespace vantry {

class Animated;

// The item an arrow key moves a segmented choice to from `selected` (-1: none chosen) among
// `count` items: Left and Up the one before, Right and Down the one after, never past either
// end; from none, the first or the last. Nothing for any other key.
std::optional<int> arrowChoice(const QKeyEvent& key, int selected, int count);

class PillSegment : public QWidget {
  Q_OBJECT

 public:
  struct Item {
    QVariant value;
    QString title;  // already translated
    QString icon;   // a symbol name, or empty
  };

  PillSegment(std::vector<Item> items, QVariant selection, QColor tint = Theme::cyan,
              QWidget* parent = nullptr);
  ~PillSegment() override;

  const std::vector<Item>& items() const { return items_; }
  void setItems(std::vector<Item> items);
  QVariant selection() const { return selection_; }
  // Sets the bound value from outside; emits nothing. A value no item has highlights none.
  void setSelection(const QVariant& value);
  // Index of the selected segment, or -1.
  int selectedIndex() const;
  int segmentAt(QPointF pos) const;
  QRectF segmentRect(int index) const;
  // Where the pill is drawn now (empty when none is selected).
  QRectF pillRect() const;
  // What a click on segment `index` does: select its value (even if already selected), slide
  // the pill there and emit selectionChanged.
  void choose(int index);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // A segment was chosen (also when it already was the selection).
  void selectionChanged(const QVariant& value);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void movePill(bool animated);
  QSizeF contentSize(int index, bool selected) const;

  std::vector<Item> items_;
  QVariant selection_;
  QColor tint_;
  int pressed_ = -1;
  Animated* pillX_;
  Animated* pillW_;
  bool pillShown_ = false;
};

}  // namespace vantry
