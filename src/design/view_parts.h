#pragma once

// Small painted pieces of the main window: one line of text that elides, a capsule or
// rounded box that holds other widgets, a painted symbol and a hairline rule.

#include <QColor>
#include <QFont>
#include <QWidget>

#include <optional>

#include "design/chrome.h"

class QHBoxLayout;
class QLabel;

namespace vantry {

class ElidedText : public QWidget {
  Q_OBJECT

 public:
  ElidedText(QFont font, QColor color, Qt::TextElideMode elide = Qt::ElideRight,
             QWidget* parent = nullptr);

  QString text() const { return text_; }
  void setText(const QString& text);
  void setColor(const QColor& color);
  QColor color() const { return color_; }
  // The text as painted at the current width.
  virtual QString shownText() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  QColor color_;
  Qt::TextElideMode elide_;
};

// A row of widgets on a filled capsule (or rounded rectangle) with an optional border.
class CapsuleBox : public QWidget {
  Q_OBJECT

 public:
  struct Look {
    QColor fill;
    std::optional<QColor> border;
    double borderWidth = 1;
    double radius = -1;  // below 0: a capsule
    friend bool operator==(const Look&, const Look&) = default;
  };

  CapsuleBox(Look look, int horizontalPadding, int height, int spacing, QWidget* parent = nullptr);
  void setLook(const Look& look);
  const Look& look() const { return look_; }
  QHBoxLayout* row() const { return row_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Look look_;
  QHBoxLayout* row_;
};

class SymbolView : public QWidget {
  Q_OBJECT

 public:
  SymbolView(QString name, double size, QColor color, int weight = 500, QWidget* parent = nullptr);
  void setSymbol(const QString& name);
  void setColor(const QColor& color);
  QString symbol() const { return name_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString name_;
  QColor color_;
  int weight_;
};

// A glass card of the default tint with that corner radius.
inline GlassStyle glassRadius(double radius) {
  GlassStyle style;
  style.radius = radius;
  return style;
}

// A label in the interface font at `size` points in `color`.
QLabel* makeLabel(const QString& text, double size, QColor color, QWidget* parent,
                  QFont::Weight weight = QFont::Normal);

// A plain filled area of a fixed size (the header's 1 x 20 rule).
QWidget* makeRule(QColor color, QSize size, QWidget* parent);

}  // namespace vantry
